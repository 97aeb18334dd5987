// Under a virtual X display: the viewer's sheet on a window, showing an
// image, the first page of a PDF document and a text. Saves the pictures to
// the folder given as the first argument; fails when the sheet does not appear.
#include "app/NibWindow.h"
#include "browser/viewer/ItemViewer.h"
#include "browser/viewer/ViewSheet.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/viewer_samples.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Settle() {
    for (int i = 0; i < 40; ++i) {
        PPx::Testing::ProcessEvents();
        QThread::msleep(20);
    }
}

bool Shoot(NibWindow* owner, const std::string& file, const std::string& out) {
    ViewSheet* sheet = ViewSheet::Make();
    if (!sheet)
        return false;
    ItemViewer::Fill(*sheet, file, ReadFile(file));
    sheet->Show(owner);
    Settle();
    bool saved = false;
    if (sheet->IsVisible()) {
        QScreen* screen = QGuiApplication::primaryScreen();
        saved = screen && screen->grabWindow(0).save(QString::fromStdString(out), "PNG");
    }
    std::printf("%s %s\n", saved ? "saved" : "could not save", out.c_str());
    sheet->Hide();
    sheet->Close();
    Settle();
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    PPx::UIApplication::EnsureForTests();
    char pattern[] = "/tmp/viewer-shots-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;

    const std::string image = dir + "/logo.png";
    if (std::system(("/usr/bin/convert logo: -resize 900x675 " + image).c_str()) != 0)
        return 1;
    const std::string pdf = dir + "/three.pdf";
    std::ofstream(pdf, std::ios::binary) << viewersamples::ThreePagePdf();
    const std::string text = dir + "/README";
    std::ofstream(text, std::ios::binary)
        << "Zarvel viewer\n=============\n\nA plain text file shown read-only,\n"
           "in UTF-8: caf\xC3\xA9, na\xC3\xAFve, \xC3\x9C"
           "bergr\xC3\xB6\xC3\x9F"
           "e.\n";

    NibWindow* owner = PPx::MakeNibWindow<NibWindow>(PPx::SysNib(), "ConnectWindow");
    if (!owner)
        return 1;
    owner->Show();
    Settle();
    int status = 0;
    if (!Shoot(owner, image, out + "/viewer-image.png"))
        status = 1;
    if (!Shoot(owner, pdf, out + "/viewer-pdf.png"))
        status = 1;
    if (!Shoot(owner, text, out + "/viewer-text.png"))
        status = 1;
    delete owner;
    std::system(("rm -rf " + dir).c_str());
    return status;
}
