// sftp_drive TOOL PORT USER PASSWORD COMMAND...: logs our sftp tool in through a
// pseudo-terminal, as the program does, types each command and waits for the
// prompt after it. Prints the tool's output on failure; exits 0 when every
// command came back to the prompt and the tool quit.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int gFd = -1;
std::string gSeen;

// Reads until one of `a` or `b` appears in the output since `from`; false at
// the end of the terminal.
bool waitFor(const std::string& a, size_t from, const std::string& b = std::string()) {
    for (;;) {
        if (gSeen.find(a, from) != std::string::npos ||
            (!b.empty() && gSeen.find(b, from) != std::string::npos))
            return true;
        struct pollfd p {
            gFd, POLLIN, 0
        };
        if (poll(&p, 1, -1) < 0)
            return false;
        char buf[65536];
        const ssize_t n = read(gFd, buf, sizeof buf);
        if (n <= 0)
            return false;
        gSeen.append(buf, size_t(n));
        if (gSeen.size() > (1u << 20)) {
            const size_t drop = gSeen.size() - 4096;
            gSeen.erase(0, drop);
            from = from > drop ? from - drop : 0;
        }
    }
}

void type(const std::string& text) {
    if (write(gFd, text.data(), text.size()) != ssize_t(text.size()))
        std::exit(3);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s TOOL PORT USER PASSWORD COMMAND...\n", argv[0]);
        return 2;
    }
    const std::string port = std::string("-oPort=") + argv[2];
    const std::string dest = std::string(argv[3]) + "@127.0.0.1";
    const pid_t pid = forkpty(&gFd, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execl(argv[1], argv[1], "-oCheckHostIP=no", "-oProtocol=2,1", port.c_str(), dest.c_str(),
              static_cast<char*>(nullptr));
        _exit(2);
    }
    size_t from = 0;
    for (;;) {
        if (!waitFor("(yes/no)?", from, "password:"))
            break;
        if (gSeen.find("(yes/no)?", from) != std::string::npos) {
            from = gSeen.size();
            type("yes\n");
        } else if (gSeen.find("password:", from) != std::string::npos) {
            from = gSeen.size();
            type(std::string(argv[4]) + "\n");
            break;
        }
    }
    if (!waitFor("sftp> ", from)) {
        std::fprintf(stderr, "login failed:\n%s\n", gSeen.c_str());
        return 1;
    }
    for (int i = 5; i < argc; ++i) {
        from = gSeen.size();
        type(std::string(argv[i]) + "\n");
        if (!waitFor("sftp> ", from)) {
            std::fprintf(stderr, "command failed:\n%s\n", gSeen.c_str());
            return 1;
        }
        const std::string out = from < gSeen.size() ? gSeen.substr(from) : std::string();
        if (out.find("Couldn't") != std::string::npos) {
            std::fprintf(stderr, "%s\n", out.c_str());
            return 1;
        }
    }
    type("quit\n");
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
