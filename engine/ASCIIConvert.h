#pragma once
// Line-ending conversion of a local text file for ASCII-mode FTP transfers:
// after a download every line end becomes LF (in place, atomically); before
// an upload a copy with CR LF line ends is made in a private temporary folder.
#include <string>
#include <sys/stat.h>

class ASCIIConvert {
public:
    // `name` is a single file name inside the folder `folder`.
    ASCIIConvert(const char* name, const std::string& folder);
    virtual ~ASCIIConvert() = default;

    ASCIIConvert(const ASCIIConvert&) = delete;
    ASCIIConvert& operator=(const ASCIIConvert&) = delete;

    // Rewrites the file with LF line ends. The converted text is written beside
    // the file and renamed over it only once complete; on failure the file is
    // left as it was and nothing else remains.
    virtual bool ConvertAfterDownload();
    // Writes a copy named like the file, with CR LF line ends, into a fresh
    // temporary folder whose path is returned in `folder`.
    virtual bool ConvertBeforeUpload(std::string& folder);
    // Removes the upload copy and its folder, if there is one. Always 0.
    virtual int DisposeTemporaryFile();
    // Creates file `name` in a fresh private folder under $TMPDIR with the
    // permissions of `info`; gives its path. 0 or an errno value.
    virtual int CreateTemporaryFile(const char* name, const struct stat& info, std::string& file);
    // Copies `source` into `destination` (created or truncated), turning CR LF,
    // lone CR and lone LF into LF. 0 or an errno value.
    virtual int ConvertDownload(const std::string& source, const std::string& destination);
    // The same, turning every line end into CR LF.
    virtual int ConvertUpload(const std::string& source, const std::string& destination);

protected:
    std::string mFileName;
    std::string mFolder;
    bool mHasTemporary = false;
    std::string mTemporaryFile;
};
