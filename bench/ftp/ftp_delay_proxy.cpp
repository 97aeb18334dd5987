// ftp_delay_proxy TARGET_PORT DELAY_MS: an FTP proxy on 127.0.0.1 that holds
// every byte DELAY_MS before passing it on, in each direction, on the control
// connection and on every passive data connection, so that a loopback server
// behaves like one with a round trip of twice the delay. It rewrites the
// server's 227 and 229 replies to name a data listener of its own. (Opening
// a data connection completes at the proxy without the delay, for every
// client alike.) Prints the port it listens on, then serves until killed.
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Rewrite = std::function<std::string(std::string&)>;

struct Pipe {
    std::mutex lock;
    std::condition_variable cond;
    std::deque<std::pair<Clock::time_point, std::string>> queue;
    bool closed = false;
};

// Copies `from` to `to`, each piece delayed by `delay` from its arrival.
// `rewrite`, when set, takes the bytes received so far and gives what may go
// on (it keeps an unfinished line back).
void Pump(int from, int to, std::chrono::milliseconds delay, const Rewrite& rewrite) {
    Pipe pipe;
    std::thread writer([&] {
        for (;;) {
            std::unique_lock<std::mutex> l(pipe.lock);
            pipe.cond.wait(l, [&] { return pipe.closed || !pipe.queue.empty(); });
            if (pipe.queue.empty())
                break;
            const auto due = pipe.queue.front().first;
            if (Clock::now() < due) {
                l.unlock();
                std::this_thread::sleep_until(due);
                continue;
            }
            std::string chunk = std::move(pipe.queue.front().second);
            pipe.queue.pop_front();
            l.unlock();
            size_t done = 0;
            while (done < chunk.size()) {
                const ssize_t n = send(to, chunk.data() + done, chunk.size() - done, MSG_NOSIGNAL);
                if (n <= 0) {
                    shutdown(from, SHUT_RDWR);
                    return;
                }
                done += size_t(n);
            }
        }
        shutdown(to, SHUT_WR);
    });
    std::vector<char> buf(256 * 1024);
    std::string pending;
    for (;;) {
        const ssize_t n = recv(from, buf.data(), buf.size(), 0);
        std::unique_lock<std::mutex> l(pipe.lock);
        if (n <= 0) {
            if (!pending.empty())
                pipe.queue.emplace_back(Clock::now() + delay, std::move(pending));
            pipe.closed = true;
            pipe.cond.notify_all();
            break;
        }
        std::string piece(buf.data(), size_t(n));
        if (rewrite) {
            pending += piece;
            piece = rewrite(pending);
        }
        if (!piece.empty())
            pipe.queue.emplace_back(Clock::now() + delay, std::move(piece));
        pipe.cond.notify_all();
    }
    writer.join();
}

int ConnectLocal(int port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(uint16_t(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(s);
        return -1;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

int ListenLocal(int& port) {
    const int ls = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(ls, 16) != 0) {
        close(ls);
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(ls, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return ls;
}

// Both directions of one accepted connection to `target`, then closes both.
void Relay(int client, int target, std::chrono::milliseconds delay, const Rewrite& fromServer) {
    const int server = ConnectLocal(target);
    if (server < 0) {
        close(client);
        return;
    }
    int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread up([&] { Pump(client, server, delay, nullptr); });
    Pump(server, client, delay, fromServer);
    up.join();
    close(client);
    close(server);
}

// A listener for one passive data connection to the server's `port`.
int OpenDataRelay(int port, std::chrono::milliseconds delay) {
    int ours = 0;
    const int ls = ListenLocal(ours);
    if (ls < 0)
        return -1;
    std::thread([ls, port, delay] {
        pollfd waiter{ls, POLLIN, 0};
        const int c = poll(&waiter, 1, 60000) == 1 ? accept(ls, nullptr, nullptr) : -1;
        close(ls);
        if (c >= 0)
            Relay(c, port, delay, nullptr);
    }).detach();
    return ours;
}

// Whole lines of the server's control replies, with the passive replies
// pointed at a data relay.
std::string RewriteReplies(std::string& pending, std::chrono::milliseconds delay) {
    std::string out;
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end + 1);
        pending.erase(0, end + 1);
        unsigned h[4], p1, p2, port;
        const size_t open = line.find('(');
        if (line.rfind("227 ", 0) == 0 && open != std::string::npos &&
            std::sscanf(line.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &h[0], &h[1], &h[2], &h[3], &p1,
                        &p2) == 6) {
            const int relay = OpenDataRelay(int(p1 * 256 + p2), delay);
            char text[128];
            std::snprintf(text, sizeof text, "227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n",
                          relay >> 8, relay & 0xFF);
            line = text;
        } else if (line.rfind("229 ", 0) == 0 && open != std::string::npos &&
                   std::sscanf(line.c_str() + open, "(|||%u|)", &port) == 1) {
            const int relay = OpenDataRelay(int(port), delay);
            line = "229 Entering Extended Passive Mode (|||" + std::to_string(relay) + "|)\r\n";
        }
        out += line;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s TARGET_PORT DELAY_MS\n", argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const int target = std::atoi(argv[1]);
    const std::chrono::milliseconds delay(std::atoi(argv[2]));
    int port = 0;
    const int ls = ListenLocal(port);
    if (ls < 0)
        return 1;
    std::printf("%d\n", port);
    std::fflush(stdout);
    for (;;) {
        const int c = accept(ls, nullptr, nullptr);
        if (c < 0)
            continue;
        std::thread([c, target, delay] {
            Relay(c, target, delay,
                  [delay](std::string& pending) { return RewriteReplies(pending, delay); });
        }).detach();
    }
}
