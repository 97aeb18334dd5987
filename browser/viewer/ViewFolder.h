#pragma once
// The private folder a viewed file passes through: made with mkdtemp (mode
// 0700) under the user's runtime folder, else the temporary folder, and
// removed with everything in it when the object goes, at exit for whatever
// is still standing, and at the next start after a crash.
#include <memory>
#include <string>

class ViewFolder {
public:
    // Null when no folder could be made.
    static std::unique_ptr<ViewFolder> Make();
    ~ViewFolder();
    ViewFolder(const ViewFolder&) = delete;
    ViewFolder& operator=(const ViewFolder&) = delete;

    const std::string& Path() const { return mPath; }

    // The folder the private folders are made in: $XDG_RUNTIME_DIR when it
    // is an absolute path to a folder, else $TMPDIR, else /tmp.
    static std::string Base();
    // Removes the folders left behind by programs that are no longer
    // running (a crash); only folders of this user, never through a link.
    static void RemoveStale();
    // Removes PATH and everything below it without following any link.
    static void RemoveTree(const std::string& path);

private:
    explicit ViewFolder(std::string path) : mPath(std::move(path)) {}
    std::string mPath;
};
