// bench_ascii make LF CRLF MIB        writes the same text (MIB MiB) with LF and CR LF ends
// bench_ascii download FILE           converts FILE in place to LF line ends
// bench_ascii upload FILE             writes a CR LF copy of FILE to $TMPDIR, then removes it
#include "engine/ASCIIConvert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: bench_ascii make LF CRLF MIB | download FILE | upload FILE\n");
    return 2;
}

void Split(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The same lines twice, with LF and with CR LF ends; the LF file is MIB MiB.
int Make(const char* lfPath, const char* crlfPath, long mib) {
    FILE* lf = std::fopen(lfPath, "wb");
    FILE* crlf = std::fopen(crlfPath, "wb");
    if (!lf || !crlf)
        return 1;
    const size_t total = static_cast<size_t>(mib) << 20;
    std::string lfBlock, crlfBlock;
    unsigned seed = 12345;
    size_t written = 0;
    while (written < total) {
        seed = seed * 1103515245 + 12345;
        const size_t length = std::min<size_t>((seed >> 16) % 100, total - written - 1);
        std::string line;
        for (size_t i = 0; i < length; ++i)
            line += static_cast<char>('a' + (i * 7 + length) % 26);
        lfBlock += line + "\n";
        crlfBlock += line + "\r\n";
        written += length + 1;
        if (lfBlock.size() > (1 << 20) || written >= total) {
            if (std::fwrite(lfBlock.data(), 1, lfBlock.size(), lf) != lfBlock.size() ||
                std::fwrite(crlfBlock.data(), 1, crlfBlock.size(), crlf) != crlfBlock.size())
                return 1;
            lfBlock.clear();
            crlfBlock.clear();
        }
    }
    return std::fclose(lf) == 0 && std::fclose(crlf) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    const std::string command = argv[1];
    if (command == "make" && argc == 5)
        return Make(argv[2], argv[3], std::atol(argv[4]));
    std::string folder, name;
    Split(argv[2], folder, name);
    ASCIIConvert convert(name.c_str(), folder);
    if (command == "download")
        return convert.ConvertAfterDownload() ? 0 : 1;
    if (command == "upload") {
        std::string copy;
        const bool ok = convert.ConvertBeforeUpload(copy);
        convert.DisposeTemporaryFile();
        return ok ? 0 : 1;
    }
    return Usage();
}
