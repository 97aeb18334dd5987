#pragma once
// The rules that keep the user's local files safe: names that come from a
// server never lead outside the folder they are meant for, and a file is
// replaced only by a complete one.
#include <string>
#include <string_view>
#include <sys/types.h>

// A "/"-separated relative path every segment of which stays in its folder:
// not empty, not "." or "..", and without NUL, CR or LF.
bool IsRelativePathBelow(std::string_view path);

// A name from a listing as a path below `folder`: false when the name is
// empty or has an empty, ".", ".." component, a NUL, CR or LF, so that no
// name a server sends can reach outside the folder.
bool LocalPathBelow(const std::string& folder, const std::string& name, std::string& path);

// A single name that stays inside its folder: not empty, not "." or "..",
// and without '/', NUL, CR or LF.
bool IsPlainName(std::string_view name);

// A new version of a local file, written beside it under a private name and
// renamed over it only once complete. Whatever is not committed is removed
// when the object goes, unless KeepPartial put it in place.
//
//     LocalReplacement next(path);
//     if (!next.Create()) ... errno says why
//     write to next.Descriptor() (or let a tool write next.PartPath())
//     if (!next.Commit()) ... the old file stands as it was
class LocalReplacement {
public:
    explicit LocalReplacement(std::string destination);
    ~LocalReplacement();
    LocalReplacement(const LocalReplacement&) = delete;
    LocalReplacement& operator=(const LocalReplacement&) = delete;

    // Makes the empty part file in the destination's folder, with `mode`
    // (less the umask). False with errno set when it cannot be made.
    bool Create(mode_t mode = 0666);
    // -1 once closed.
    int Descriptor() const { return mFD; }
    // Closes the part's descriptor now; a failing close (a full disk on a
    // network file system) is a failure of the write. True without one.
    bool Close();
    const std::string& PartPath() const { return mPart; }
    const std::string& Destination() const { return mDestination; }
    // Whether a file (or link) stood at the destination when this began.
    bool DestinationExisted() const { return mExisted; }

    // Closes the part and renames it over the destination. On failure the
    // part is removed and the destination left as it was; errno says why.
    bool Commit();
    // Removes the part; the destination stays as it was.
    void Discard();
    // A replacement that did not complete: where no file stood, what arrived
    // takes the destination's place so that it can be resumed later; a file
    // that stood there is kept and the part removed. True when kept.
    bool KeepPartial();

private:
    std::string mDestination;
    std::string mPart;
    int mFD = -1;
    bool mExisted = false;
};
