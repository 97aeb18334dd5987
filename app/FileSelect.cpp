#include "app/FileSelect.h"

#include "platform/ui/Dialogs.h"

#include <sys/stat.h>

void FileSelect::Run(PPx::Window* parent, int kind, const std::string& title,
                     const std::string& message, const std::string& name, Callback callback,
                     void* data) {
    mCallback = callback;
    mUserData = data;
    mValid = false;
    PPx::ChooserOptions options;
    options.kind = static_cast<PPx::ChooserKind>(kind);
    options.title = title;
    options.message = message;
    options.saveName = name;
    options.multiple =
        options.kind == PPx::ChooserKind::File || options.kind == PPx::ChooserKind::Object;
    options.showHidden = true;
    std::weak_ptr<bool> alive = mAlive;
    auto done = [this, alive](const PPx::ChooserReply& reply) {
        if (alive.expired())
            return; // the chooser outlived its owner
        mValid = reply.valid;
        if (reply.valid) {
            mSelection = reply.paths;
            mSaveName = reply.saveName;
        }
        if (mCallback)
            mCallback(this, mUserData);
    };
    // With a callback the chooser is a sheet on the window; without one
    // the call returns once the user has finished.
    PPx::RunChooser(callback ? parent : nullptr, options, done);
}

void FileSelect::ChooseFile(PPx::Window* parent, Callback callback, void* data) {
    Run(parent, static_cast<int>(PPx::ChooserKind::File), "Please select a file", {}, {}, callback,
        data);
}

void FileSelect::ChooseObject(PPx::Window* parent, Callback callback, void* data) {
    Run(parent, static_cast<int>(PPx::ChooserKind::Object), "Please select items", {}, {}, callback,
        data);
}

void FileSelect::ChooseFolder(PPx::Window* parent, Callback callback, void* data) {
    Run(parent, static_cast<int>(PPx::ChooserKind::Folder), "Please select a folder", {}, {},
        callback, data);
}

void FileSelect::SaveFile(PPx::Window* parent, unsigned long, unsigned long, std::string message,
                          std::string name, Callback callback, void* data) {
    Run(parent, static_cast<int>(PPx::ChooserKind::Save), "Please select a folder", message, name,
        callback, data);
}

void FileSelect::GetFileList(std::vector<std::string>& list) const {
    list.clear();
    if (!mValid)
        return;
    for (const std::string& path : mSelection) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && path.size() < 4096)
            list.push_back(path);
    }
}
