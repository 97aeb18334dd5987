// sftp_drive PASSWORD COMMAND... -- PROGRAM ARG...: runs an sftp client (ours
// or OpenSSH's) on a pseudo-terminal, as the program drives ours: answers a
// host-key question and the password (PASSWORD "-": none is asked), waits for
// the "sftp> " prompt, then types each command and waits for the prompt after
// it. Only the commands are timed, never the login. Prints
// "SECONDS CPU-SECONDS" (the client's processor time, its children included);
// prints the client's output and exits non-zero on failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int gFd = -1;
std::string gSeen;

// Reads until one of `a` or `b` appears in the output since `from`; false at
// the end of the terminal.
bool waitFor(const std::string& a, size_t& from, const std::string& b = std::string()) {
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

double cpuSeconds(const struct rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    int split = 2;
    while (split < argc && std::strcmp(argv[split], "--") != 0)
        ++split;
    if (argc < 4 || split >= argc - 1) {
        std::fprintf(stderr, "usage: %s PASSWORD COMMAND... -- PROGRAM ARG...\n", argv[0]);
        return 2;
    }
    const std::string password = argv[1];
    const std::vector<std::string> commands(argv + 2, argv + split);
    const pid_t pid = forkpty(&gFd, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execv(argv[split + 1], argv + split + 1);
        _exit(2);
    }
    size_t from = 0;
    for (;;) {
        if (!waitFor("(yes/no", from, password == "-" ? "sftp> " : "password:"))
            break;
        if (gSeen.find("(yes/no", from) != std::string::npos) {
            from = gSeen.size();
            type("yes\n");
        } else {
            if (password != "-") {
                from = gSeen.size();
                type(password + "\n");
            }
            break;
        }
    }
    if (!waitFor("sftp> ", from)) {
        std::fprintf(stderr, "login failed:\n%s\n", gSeen.c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& command : commands) {
        from = gSeen.size();
        type(command + "\n");
        // The echo holds no prompt; the prompt after the command ends it.
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
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    type("quit\n");
    int status = 0;
    waitpid(pid, &status, 0);
    struct rusage children {};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("%.3f %.3f\n", took.count(), cpuSeconds(children));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
