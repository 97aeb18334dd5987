#include "bench/common/delay_relay.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace benchdelay {

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    std::mutex lock;
    std::condition_variable cond;
    std::deque<std::pair<Clock::time_point, std::string>> queue;
    size_t queued = 0;
    bool closed = false;
};

} // namespace

void Pump(int from, int to, std::chrono::milliseconds delay, const Rewrite& rewrite,
          size_t maxQueued) {
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
            pipe.queued -= chunk.size();
            pipe.cond.notify_all();
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
        pipe.cond.wait(l, [&] { return pipe.queued < maxQueued; });
        std::string piece(buf.data(), size_t(n));
        if (rewrite) {
            pending += piece;
            piece = rewrite(pending);
        }
        if (!piece.empty()) {
            pipe.queued += piece.size();
            pipe.queue.emplace_back(Clock::now() + delay, std::move(piece));
        }
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

void Relay(int client, int target, std::chrono::milliseconds delay, const Rewrite& fromServer,
           size_t maxQueued) {
    const int server = ConnectLocal(target);
    if (server < 0) {
        close(client);
        return;
    }
    int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread up([&] { Pump(client, server, delay, nullptr, maxQueued); });
    Pump(server, client, delay, fromServer, maxQueued);
    up.join();
    close(client);
    close(server);
}

int ProxyMain(
    int argc, char** argv,
    const std::function<void(int client, int target, std::chrono::milliseconds delay)>& serve) {
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
        std::thread([&serve, c, target, delay] { serve(c, target, delay); }).detach();
    }
}

} // namespace benchdelay
