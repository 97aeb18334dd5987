#include "engine/ASCIIConvert.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// The conversions written the plain way, one byte at a time, as the
// expectation for the buffered converter.
std::string ReferenceToLF(const std::string& in) {
    std::string out;
    bool cr = false;
    for (char c : in) {
        if (c == '\r') {
            out += '\n';
            cr = true;
        } else if (c == '\n' && cr) {
            cr = false;
        } else {
            out += c;
            cr = false;
        }
    }
    return out;
}

std::string ReferenceToCRLF(const std::string& in) {
    std::string out;
    bool cr = false;
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (cr && c != '\n')
            out += '\n';
        else if (!cr && c == '\n')
            out += '\r';
        out += c;
        if (i + 1 == in.size() && c == '\r')
            out += '\n';
        cr = c == '\r';
    }
    return out;
}

// Several MiB of text with every kind of line end, and line ends placed on
// and around power-of-two offsets, where buffered readers split their input.
std::string MixedText(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        const size_t line = random() % 120;
        for (size_t i = 0; i < line; ++i)
            text += static_cast<char>(' ' + random() % 95);
        switch (random() % 4) {
        case 0:
            text += "\r\n";
            break;
        case 1:
            text += '\r';
            break;
        case 2:
            text += '\n';
            break;
        default:
            text += "\r\r\n\n";
            break;
        }
    }
    text.resize(size);
    const char* patterns[] = {"\r\n", "\r\r", "\rx", "\n\n", "\r\n\r"};
    int which = 0;
    for (size_t boundary = 4096; boundary < size; boundary *= 2) {
        for (size_t at : {boundary - 1, boundary + 4096 * 3 - 1}) {
            const std::string p = patterns[which++ % 5];
            if (at + p.size() <= size)
                text.replace(at, p.size(), p);
        }
    }
    return text;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Points TMPDIR at a folder of the test while it lives.
class TmpDirOverride {
public:
    explicit TmpDirOverride(const std::string& path) {
        const char* old = std::getenv("TMPDIR");
        mHad = old != nullptr;
        if (mHad)
            mOld = old;
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~TmpDirOverride() {
        if (mHad)
            setenv("TMPDIR", mOld.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

private:
    bool mHad = false;
    std::string mOld;
};

std::string Download(const std::string& bytes) {
    TempDir dir;
    writeFile(dir.file("f.txt"), bytes);
    ASCIIConvert convert("f.txt", dir.path());
    EXPECT_TRUE(convert.ConvertAfterDownload());
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"f.txt"});
    return readFile(dir.file("f.txt"));
}

std::string Upload(const std::string& bytes) {
    TempDir dir, tmp;
    TmpDirOverride redirect(tmp.path());
    writeFile(dir.file("f.txt"), bytes);
    ASCIIConvert convert("f.txt", dir.path());
    std::string folder;
    EXPECT_TRUE(convert.ConvertBeforeUpload(folder));
    EXPECT_EQ(readFile(dir.file("f.txt")), bytes); // the local file stays as it is
    EXPECT_EQ(std::filesystem::path(folder).parent_path(), std::filesystem::path(tmp.path()));
    const std::string copy = readFile(folder + "/f.txt");
    EXPECT_EQ(convert.DisposeTemporaryFile(), 0);
    EXPECT_TRUE(Entries(tmp.path()).empty());
    return copy;
}

} // namespace

TEST(ASCIIConvert, SmallCases) {
    EXPECT_EQ(Download("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(Upload("a\nb\rc\r\nd\r"), "a\r\nb\r\nc\r\nd\r\n");
    EXPECT_EQ(Upload("\r\r"), "\r\n\r\n");
    EXPECT_EQ(Download("\r\r"), "\n\n");
    EXPECT_EQ(Download(""), "");
    EXPECT_EQ(Upload(""), "");
    EXPECT_EQ(Download("\n\r\n\r"), "\n\n\n");
    EXPECT_EQ(Upload("\n"), "\r\n");
    EXPECT_EQ(Upload(std::string("a\0b\n", 4)), std::string("a\0b\r\n", 5));
}

TEST(ASCIIConvert, LargeFilesAreByteExactAcrossBufferBoundaries) {
    for (unsigned seed : {1u, 2u}) {
        const std::string text = MixedText((seed == 1 ? 5 : 3) * 1024 * 1024 + 17, seed);
        EXPECT_TRUE(Download(text) == ReferenceToLF(text)) << "download, seed " << seed;
        EXPECT_TRUE(Upload(text) == ReferenceToCRLF(text)) << "upload, seed " << seed;
    }
    // Pure LF and pure CR LF files, the common cases, both ways.
    std::string lf;
    while (lf.size() < 3 * 1024 * 1024)
        lf += "the quick brown fox jumps over the lazy dog\n";
    std::string crlf = ReferenceToCRLF(lf);
    EXPECT_TRUE(Upload(lf) == crlf);
    EXPECT_TRUE(Download(crlf) == lf);
    EXPECT_TRUE(Upload(crlf) == crlf);
}

TEST(ASCIIConvert, KeepsPermissionsAndDates) {
    TempDir dir, tmp;
    TmpDirOverride redirect(tmp.path());
    const std::string path = dir.file("notes.txt");
    writeFile(path, "one\r\ntwo\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const timespec times[2] = {{1000000000, 0}, {1100000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    ASCIIConvert convert("notes.txt", dir.path());
    std::string folder;
    ASSERT_TRUE(convert.ConvertBeforeUpload(folder));
    struct stat copy {};
    ASSERT_EQ(stat((folder + "/notes.txt").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mode & 0777, 0640u);
    EXPECT_EQ(copy.st_mtim.tv_sec, 1100000000);
    convert.DisposeTemporaryFile();
    EXPECT_FALSE(std::filesystem::exists(folder));

    ASSERT_TRUE(convert.ConvertAfterDownload());
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    EXPECT_EQ(after.st_mtim.tv_sec, 1100000000);
    EXPECT_EQ(readFile(path), "one\ntwo\n");
}

TEST(ASCIIConvert, RefusesMissingOddAndLinkedNames) {
    TempDir dir;
    writeFile(dir.file("real.txt"), "a\r\n");
    ASSERT_EQ(symlink("real.txt", dir.file("link.txt").c_str()), 0);
    std::string folder;
    for (const char* name : {"missing.txt", "", ".", "..", "../real.txt", "link.txt"}) {
        ASCIIConvert convert(name, dir.path());
        EXPECT_FALSE(convert.ConvertAfterDownload()) << name;
    }
    ASCIIConvert nullName(nullptr, dir.path());
    EXPECT_FALSE(nullName.ConvertAfterDownload());
    EXPECT_FALSE(nullName.ConvertBeforeUpload(folder));
    ASCIIConvert missing("missing.txt", dir.path());
    EXPECT_FALSE(missing.ConvertBeforeUpload(folder));
    EXPECT_EQ(missing.DisposeTemporaryFile(), 0);
    EXPECT_EQ(readFile(dir.file("real.txt")), "a\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"link.txt", "real.txt"}));

    // No temporary folder can be made: the upload copy fails, nothing is left.
    TmpDirOverride redirect(dir.file("does-not-exist"));
    ASCIIConvert upload("real.txt", dir.path());
    EXPECT_FALSE(upload.ConvertBeforeUpload(folder));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"link.txt", "real.txt"}));
}

TEST(ASCIIConvert, FailedWriteLeavesOriginalAndNoTemporaryFile) {
    TempDir dir, tmp;
    TmpDirOverride redirect(tmp.path());
    const std::string text = MixedText(3 * 1024 * 1024, 7);
    writeFile(dir.file("big.txt"), text);

    // A file-size limit below the converted size makes a write fail midway,
    // the way a full disk would.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    ASCIIConvert convert("big.txt", dir.path());
    const bool downloaded = convert.ConvertAfterDownload();
    std::string folder;
    const bool uploaded = convert.ConvertBeforeUpload(folder);

    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_FALSE(downloaded);
    EXPECT_FALSE(uploaded);
    EXPECT_TRUE(readFile(dir.file("big.txt")) == text);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"big.txt"});
    EXPECT_TRUE(Entries(tmp.path()).empty());
    EXPECT_EQ(convert.DisposeTemporaryFile(), 0);
}
