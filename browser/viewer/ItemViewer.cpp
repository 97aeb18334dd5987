#include "browser/viewer/ItemViewer.h"

#include "app/ModalSheetAlert.h"
#include "browser/viewer/ViewSheet.h"
#include "engine/LocalFiles.h"
#include "raster/raster.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const uint32_t kNoteFlags = 0x10; // note icon, OK

// Deletes the viewed file however Display ends.
struct DeleteOnExit {
    std::string path;
    ~DeleteOnExit() {
        if (!path.empty())
            ::unlink(path.c_str());
    }
};

bool ReadAll(int fd, std::vector<uint8_t>& data, size_t size) {
    data.resize(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data.data() + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    // A file that shrank meanwhile shows what was there.
    data.resize(done);
    return true;
}

void Tell(PPx::Window* parent, const std::string& message, const std::string& explanation) {
    ModalSheetAlert alert;
    uint32_t answer = 'not!';
    alert.DoModal(parent, message, answer, kNoteFlags, explanation);
}

} // namespace

ItemViewer::Kind ItemViewer::Fill(ViewSheet& sheet, const std::string& path,
                                  const std::vector<uint8_t>& data) {
    if (!data.empty()) {
        auto image = std::make_unique<CRaster>(0);
        bool decoded = false;
        try {
            decoded = image->Decode(const_cast<uint8_t*>(data.data()),
                                    static_cast<unsigned long>(data.size()), 0);
        } catch (...) {
            decoded = false;
        }
        // An image that decodes to nothing drawable counts as not decoded.
        if (decoded && sheet.SetImage(image.get()))
            return kImage;
    }
    const char* bytes = reinterpret_cast<const char*>(data.data());
    if (data.size() >= 5 && std::memcmp(bytes, "%PDF", 4) == 0) {
        sheet.SetDocument(path);
        return kDocument;
    }
    sheet.SetText(bytes, static_cast<unsigned long>(data.size()));
    return kText;
}

void ItemViewer::Display(PPx::Window* parent, const std::string& folder, const std::string& name) {
    std::string path;
    if (!LocalPathBelow(folder, name, path) || !IsPlainName(name))
        return;
    DeleteOnExit remove{path};

    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxViewSize) {
        ::close(fd);
        Tell(parent, "The file \"" + name + "\" is too large to view.",
             "Only files up to 256 MB can be viewed. Download it to open it with another "
             "program.");
        return;
    }
    std::vector<uint8_t> data;
    ReadAll(fd, data, static_cast<size_t>(st.st_size));
    ::close(fd);

    ViewSheet* sheet = ViewSheet::Make();
    if (!sheet)
        return;
    Fill(*sheet, path, data);
    // Titled after what it shows: several viewers may be open at once.
    sheet->SetTitle(name);
    sheet->DoModal(parent);
    sheet->Close();
}
