#pragma once
// Choosers for files, folders, or both, and for a file to save; the chosen
// items come back as paths, at once (no callback) or through the callback
// (as a sheet on the window).
#include "platform/ui/Window.h"

#include <memory>
#include <string>
#include <vector>

class FileSelect {
public:
    using Callback = void (*)(FileSelect*, void*);

    FileSelect() = default;
    virtual ~FileSelect() = default;
    FileSelect(const FileSelect&) = delete;
    FileSelect& operator=(const FileSelect&) = delete;

    void ChooseFile(PPx::Window* parent, Callback callback, void* data);
    void ChooseObject(PPx::Window* parent, Callback callback, void* data);
    void ChooseFolder(PPx::Window* parent, Callback callback, void* data);
    void SaveFile(PPx::Window* parent, unsigned long fileType, unsigned long creator,
                  std::string message, std::string name, Callback callback, void* data);

    bool IsValid() const { return mValid; }
    void GetSaveName(std::string& name) const { name = mSaveName; }
    // The chosen items that exist, in the chooser's order; empty unless valid.
    void GetFileList(std::vector<std::string>& list) const;

private:
    void Run(PPx::Window* parent, int kind, const std::string& title, const std::string& message,
             const std::string& name, Callback callback, void* data);

    std::vector<std::string> mSelection;
    std::string mSaveName;
    bool mValid = false;
    Callback mCallback = nullptr;
    void* mUserData = nullptr;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};
