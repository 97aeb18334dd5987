#include "tests/engine/conn_frontend.h"

#include "tests/support/servers.h"

#include <dirent.h>
#include <map>

namespace conntest {

void RecordingFrontend::Sent() {
    if (outstanding)
        faults.push_back("request sent while another was outstanding");
    ++requests;
    outstanding = true;
}

bool RecordingFrontend::WaitEnd(std::chrono::milliseconds timeout) {
    return PPx::RunEventLoopUntil([&] { return !outstanding; }, timeout);
}

bool RecordingFrontend::Do(const std::function<void()>& send, std::chrono::milliseconds timeout) {
    Sent();
    send();
    if (!WaitEnd(timeout)) {
        faults.push_back("request did not end: " + (log.empty() ? "" : log.back()));
        return false;
    }
    return mLastOk;
}

void RecordingFrontend::Drain(std::chrono::milliseconds span) {
    PPx::RunEventLoopUntil([] { return false; }, span);
}

int RecordingFrontend::Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& line : log)
        if (line.rfind(prefix, 0) == 0)
            ++n;
    return n;
}

std::string RecordingFrontend::ProgressFault() const {
    std::string current;
    bool open = false;
    for (size_t i = 0; i < log.size(); ++i) {
        const std::string& line = log[i];
        const std::string code = line.substr(0, 4);
        const std::string rest = line.size() > 5 ? line.substr(5) : "";
        const std::string name = rest.substr(0, rest.find(' '));
        if (code == "strt") {
            if (open)
                return "line " + std::to_string(i) + ": strt before endt of " + current;
            open = true;
            current = name;
        } else if (code == "updt" || code == "endt") {
            if (!open || name != current)
                return "line " + std::to_string(i) + ": " + line + " outside its file";
            if (code == "endt")
                open = false;
        } else if (code == "err " || code == "erra") {
            open = false; // a file that fails before its data flows has no endt
        } else if (open && code != "stat") {
            return "line " + std::to_string(i) + ": " + line + " inside a transfer";
        }
    }
    return "";
}

void RecordingFrontend::Completed(const std::string& line) {
    log.push_back(line);
    if (!outstanding)
        faults.push_back("completion without a request: " + line);
    else
        ++ends;
    outstanding = false;
    mLastOk = true;
}

void RecordingFrontend::SetDeleteStatus(const std::string& name) {
    log.push_back("dlst " + name);
}

void RecordingFrontend::SetStatus(const std::string& text) {
    log.push_back("stat " + text);
}

void RecordingFrontend::SetError(const std::string& text) {
    log.push_back("err  " + text);
    lastError = text;
    if (!outstanding) {
        idleErrors.push_back(text);
        return;
    }
    ++ends;
    outstanding = false;
    mLastOk = false;
}

bool RecordingFrontend::SetErrorAsk(const std::string& text) {
    log.push_back("erra " + text);
    lastError = text;
    ++asks;
    if (!outstanding)
        faults.push_back("ask without a request");
    return answer ? answer(text) : false;
}

void RecordingFrontend::StartTransfer(const sFileProgress& p) {
    log.push_back("strt " + p.name + " " + std::to_string(p.size) + " " + std::to_string(p.offset));
}

void RecordingFrontend::EndTransfer(const sFileProgress& p) {
    log.push_back("endt " + p.name + " " + std::to_string(p.size));
}

void RecordingFrontend::UpdateTransfer(const sFileProgress& p) {
    log.push_back("updt " + p.name + " " + std::to_string(p.size));
    if (onUpdate)
        onUpdate(p);
}

void RecordingFrontend::ConnectComplete() {
    Completed("conn");
}

void RecordingFrontend::DisconnectComplete() {
    Completed("dcon");
}

void RecordingFrontend::GetServerInfoComplete(bool resumeSupported, int type) {
    resume = resumeSupported;
    serverType = type;
    Completed("gsic");
}

void RecordingFrontend::GetDirListComplete(const std::string& path, const std::string& listing) {
    lastPath = path;
    lastListing = listing;
    Completed("gdlc");
}

void RecordingFrontend::ChangeDirToComplete() {
    Completed("cdtc");
}

void RecordingFrontend::ResolveLinksComplete(const std::vector<std::string>& folders) {
    linkFolders = folders;
    Completed("rslc");
}

void RecordingFrontend::RenameComplete() {
    Completed("renc");
}

void RecordingFrontend::CreateFolderComplete() {
    Completed("cflc");
}

void RecordingFrontend::SetPermsComplete() {
    Completed("stpc");
}

void RecordingFrontend::CreateFileListComplete(const std::string& path, const std::string& listing,
                                               int mode) {
    lastPath = path;
    lastListing = listing;
    lastMode = mode;
    Completed("cFLc");
}

void RecordingFrontend::DownloadComplete() {
    Completed("dnlc");
}

void RecordingFrontend::DeleteComplete() {
    Completed("delc");
}

void RecordingFrontend::UploadComplete() {
    Completed("uplc");
}

void RecordingFrontend::GetModTimeComplete(const std::vector<sFileInfo>& files) {
    modTimes = files;
    Completed("gmtc");
}

ServerSpec Server(const std::string& fixture) {
    const testsupport::TestServer s = testsupport::testServer(fixture);
    return ServerSpec{s.host, s.port, s.user, s.password, s.root};
}

sBookMarkData Bookmark(const ServerSpec& server, bool passive) {
    sBookMarkData b;
    b.name = "test";
    b.host = server.host;
    b.port = server.port;
    b.username = server.user;
    b.password = server.password;
    b.passive = passive;
    return b;
}

std::unique_ptr<Connection> Open(RecordingFrontend& frontend, const sBookMarkData& bookmark) {
    auto connection = std::make_unique<Connection>(&frontend);
    frontend.Sent();
    if (connection->Initialize(bookmark) != 0)
        return nullptr;
    if (!frontend.WaitEnd() || frontend.log.empty() || frontend.log.back() != "conn")
        return nullptr;
    return connection;
}

namespace {
int CountEntries(const char* folder) {
    int n = 0;
    if (DIR* dir = opendir(folder)) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                ++n;
        closedir(dir);
    }
    return n;
}
} // namespace

int OpenDescriptors() {
    return CountEntries("/proc/self/fd") - 1; // less the one opendir holds
}

int Threads() {
    return CountEntries("/proc/self/task");
}

} // namespace conntest
