#pragma once
// A front end for the connection tests: records every callback in order and
// checks the rules a window relies on: each request ends with exactly one
// completion or one error, nothing completes without a request, and per
// file 'strt' < 'updt'* < 'endt'.
#include "engine/Connection.h"
#include "platform/core/EventLoop.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace conntest {

using namespace std::chrono_literals;

class RecordingFrontend : public ConnectionFrontend {
public:
    // Every callback as one line: "stat Connecting...", "err Disconnected",
    // "strt name size offset", "gdlc", ...
    std::vector<std::string> log;
    // Requests sent and ends seen (completions and errors while one was out).
    int requests = 0;
    int ends = 0;
    bool outstanding = false;
    std::vector<std::string> idleErrors; // errors with no request outstanding
    std::vector<std::string> faults;     // broken rules, for the test to show

    std::string lastError;
    std::string lastPath, lastListing;
    int lastMode = -1;
    bool resume = false;
    int serverType = -1;
    std::vector<std::string> linkFolders;
    std::vector<sFileInfo> modTimes;
    int asks = 0;
    // Answers SetErrorAsk; default: stop.
    std::function<bool(const std::string&)> answer;
    // Called from UpdateTransfer (e.g. to abort or to dispose).
    std::function<void(const sFileProgress&)> onUpdate;

    // Marks a request as sent (the tests call it right before the request).
    void Sent();
    // Runs the event loop until the outstanding request ended; false on timeout.
    bool WaitEnd(std::chrono::milliseconds timeout = 60s);
    // Sends with `send` and waits: true when it completed, false on error/timeout.
    bool Do(const std::function<void()>& send, std::chrono::milliseconds timeout = 60s);
    // Runs the loop for a while so that late messages (a second end) show.
    static void Drain(std::chrono::milliseconds span = 100ms);
    // Count of log lines that start with `prefix`.
    int Count(const std::string& prefix) const;
    // The per-file progress order over the whole log; "" when it holds.
    std::string ProgressFault() const;

    void SetDeleteStatus(const std::string& name) override;
    void SetStatus(const std::string& text) override;
    void SetError(const std::string& text) override;
    bool SetErrorAsk(const std::string& text) override;
    void StartTransfer(const sFileProgress& p) override;
    void EndTransfer(const sFileProgress& p) override;
    void UpdateTransfer(const sFileProgress& p) override;
    void ConnectComplete() override;
    void DisconnectComplete() override;
    void GetServerInfoComplete(bool resumeSupported, int type) override;
    void GetDirListComplete(const std::string& path, const std::string& listing) override;
    void ChangeDirToComplete() override;
    void ResolveLinksComplete(const std::vector<std::string>& folders) override;
    void RenameComplete() override;
    void CreateFolderComplete() override;
    void SetPermsComplete() override;
    void CreateFileListComplete(const std::string& path, const std::string& listing,
                                int mode) override;
    void DownloadComplete() override;
    void DeleteComplete() override;
    void UploadComplete() override;
    void GetModTimeComplete(const std::vector<sFileInfo>& files) override;

private:
    void Completed(const std::string& line);
    bool mLastOk = false;
};

// The server of a test: host, port, user, password and the folder it serves.
struct ServerSpec {
    std::string host;
    int port = 0;
    std::string user, password, root;
};
ServerSpec Server(const std::string& fixture);
sBookMarkData Bookmark(const ServerSpec& server, bool passive = true);

// Opens a connection and waits for ConnectComplete (null on failure).
std::unique_ptr<Connection> Open(RecordingFrontend& frontend, const sBookMarkData& bookmark);

// Descriptors and threads of this process.
int OpenDescriptors();
int Threads();

} // namespace conntest
