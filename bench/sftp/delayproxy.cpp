// sftp_delay_proxy TARGET_PORT DELAY_MS: a TCP proxy on 127.0.0.1 that holds
// every byte DELAY_MS before passing it on, in each direction, so that a
// loopback connection behaves like one with a round trip of twice the delay.
// Prints the port it listens on, then serves until killed.
#include <arpa/inet.h>
#include <chrono>
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

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    std::mutex lock;
    std::condition_variable cond;
    std::deque<std::pair<Clock::time_point, std::vector<char>>> queue;
    size_t queued = 0;
    bool closed = false;
};

constexpr size_t kMaxQueued = 256u << 20; // far above any window in flight

void pump(int from, int to, std::chrono::milliseconds delay) {
    Pipe pipe;
    std::thread writer([&] {
        for (;;) {
            std::unique_lock<std::mutex> l(pipe.lock);
            pipe.cond.wait(l, [&] { return pipe.closed || !pipe.queue.empty(); });
            if (pipe.queue.empty())
                break;
            auto due = pipe.queue.front().first;
            if (Clock::now() < due) {
                l.unlock();
                std::this_thread::sleep_until(due);
                continue;
            }
            std::vector<char> chunk = std::move(pipe.queue.front().second);
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
    for (;;) {
        const ssize_t n = recv(from, buf.data(), buf.size(), 0);
        std::unique_lock<std::mutex> l(pipe.lock);
        if (n <= 0) {
            pipe.closed = true;
            pipe.cond.notify_all();
            break;
        }
        pipe.cond.wait(l, [&] { return pipe.queued < kMaxQueued; });
        pipe.queue.emplace_back(Clock::now() + delay,
                                std::vector<char>(buf.begin(), buf.begin() + n));
        pipe.queued += size_t(n);
        pipe.cond.notify_all();
    }
    writer.join();
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
    const int ls = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(ls, 16) != 0)
        return 1;
    socklen_t len = sizeof addr;
    getsockname(ls, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int c = accept(ls, nullptr, nullptr);
        if (c < 0)
            continue;
        std::thread([c, target, delay] {
            const int s = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            to.sin_port = htons(uint16_t(target));
            if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                close(c);
                close(s);
                return;
            }
            int one = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::thread up([&] { pump(c, s, delay); });
            pump(s, c, delay);
            up.join();
            close(c);
            close(s);
        }).detach();
    }
}
