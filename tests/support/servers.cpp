#include "tests/support/servers.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace testsupport {

std::string serverDir(const std::string& name) {
    const char* base = std::getenv("ZARVEL_SERVERS");
    if (!base)
        throw std::runtime_error("ZARVEL_SERVERS is not set: run the test through ctest");
    return std::string(base) + "/" + name;
}

std::string serverFromEnv(const char* variable, const char* fallback) {
    const char* name = std::getenv(variable);
    return name ? name : fallback;
}

TestServer testServer(const std::string& name) {
    TestServer s;
    const std::string dir = serverDir(name);
    std::ifstream in(dir + "/port");
    if (!(in >> s.port) || s.port <= 0)
        throw std::runtime_error("test server " + name + " is not running");
    s.root = dir + "/root";
    std::ifstream creds(dir + "/credentials");
    if (!(creds >> s.user >> s.password)) {
        s.user = "zarvel";
        s.password = "zarvel-secret";
    }
    if (name == "pyftpd")
        s.root += "/home";
    return s;
}

namespace {

std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return children;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        // pid (name) state ppid: the name may hold blanks, so read after ')'.
        const size_t close = line.rfind(')');
        char state = 0;
        int ppid = 0;
        if (close != std::string::npos &&
            std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
            children.push_back(pid);
    }
    ::closedir(proc);
    return children;
}

// `first` and every process below them.
std::vector<pid_t> WithDescendants(std::vector<pid_t> first) {
    for (size_t at = 0; at < first.size(); ++at)
        for (pid_t child : ChildrenOf(first[at]))
            first.push_back(child);
    return first;
}

} // namespace

PrivateServer::PrivateServer(const std::string& kind) : mKind(kind) {
    // The server's own user (vsftpd) must reach the folders in here.
    ::chmod(mBase.path().c_str(), 0755);
    mScript = std::string(std::getenv("ZARVEL_SOURCE_DIR")) + "/tests/servers/server.sh";
    mStarted = std::system(Command("start").c_str()) == 0;
    const char* previous = std::getenv("ZARVEL_SERVERS");
    const std::string saved = previous ? previous : "";
    ::setenv("ZARVEL_SERVERS", mBase.path().c_str(), 1);
    if (mStarted)
        info = testServer(mKind);
    ::setenv("ZARVEL_SERVERS", saved.c_str(), 1);
}

PrivateServer::~PrivateServer() {
    std::system(Command("stop").c_str());
}

std::string PrivateServer::Command(const char* action) const {
    return mScript + " " + action + " " + mKind + " " + mBase.path() + " >/dev/null";
}

void PrivateServer::Kill() {
    // The start script runs the server; vsftpd and sshd run each session in
    // processes of their own below it.
    std::ifstream in(mBase.path() + "/" + mKind + "/pid");
    pid_t root = 0;
    if (!(in >> root) || root <= 0)
        return;
    for (pid_t pid : WithDescendants({root}))
        ::kill(pid, SIGKILL);
}

void PrivateServer::KillSessions() {
    std::ifstream in(mBase.path() + "/" + mKind + "/pid");
    pid_t root = 0;
    if (!(in >> root) || root <= 0)
        return;
    for (pid_t server : ChildrenOf(root)) {
        std::vector<pid_t> sessions = WithDescendants(ChildrenOf(server));
        for (pid_t pid : sessions)
            ::kill(pid, SIGKILL);
    }
}

} // namespace testsupport
