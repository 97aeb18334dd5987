// A Connection front end that only records how each request ended; the
// benchmarks wait on `done` in their own ways.
#pragma once

#include "engine/Connection.h"

#include <string>
#include <vector>

namespace benchfront {

class RecordingFrontend : public ConnectionFrontend {
public:
    bool done = false;
    bool ok = false;
    std::string error;

    virtual void Finish(bool success);

    void SetDeleteStatus(const std::string&) override {}
    void SetStatus(const std::string&) override {}
    void SetError(const std::string& text) override;
    bool SetErrorAsk(const std::string& text) override;
    void StartTransfer(const sFileProgress&) override {}
    void EndTransfer(const sFileProgress&) override {}
    void UpdateTransfer(const sFileProgress&) override {}
    void ConnectComplete() override { Finish(true); }
    void DisconnectComplete() override { Finish(true); }
    void GetServerInfoComplete(bool, int) override { Finish(true); }
    void GetDirListComplete(const std::string&, const std::string&) override { Finish(true); }
    void ChangeDirToComplete() override { Finish(true); }
    void ResolveLinksComplete(const std::vector<std::string>&) override { Finish(true); }
    void RenameComplete() override { Finish(true); }
    void CreateFolderComplete() override { Finish(true); }
    void SetPermsComplete() override { Finish(true); }
    void CreateFileListComplete(const std::string&, const std::string&, int) override {
        Finish(true);
    }
    void DownloadComplete() override { Finish(true); }
    void DeleteComplete() override { Finish(true); }
    void UploadComplete() override { Finish(true); }
    void GetModTimeComplete(const std::vector<sFileInfo>&) override { Finish(true); }
};

} // namespace benchfront
