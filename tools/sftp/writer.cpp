#include "tools/sftp/writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/uio.h>
#include <unistd.h>

namespace sftptool {

namespace {

// The reader's buffer and the spares: each holds megabytes, so the disk may
// fall that far behind before the network waits.
constexpr size_t kMaxBuffers = 2;

// Queued bytes that wake the thread.
constexpr size_t kWakeBytes = 1024 * 1024;
// At most this many pieces go to the file in one call.
constexpr size_t kMaxPieces = 128;

// Writes all of the pieces at `offset`; false with errno set on failure.
bool writeAllAt(int fd, struct iovec* pieces, size_t count, uint64_t offset) {
    while (count) {
        const ssize_t n = ::pwritev(fd, pieces, int(count), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        offset += uint64_t(n);
        for (size_t left = size_t(n); left;) {
            const size_t take = std::min(left, pieces->iov_len);
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + take;
            pieces->iov_len -= take;
            left -= take;
            if (pieces->iov_len == 0) {
                ++pieces;
                --count;
            }
        }
        while (count && pieces->iov_len == 0) {
            ++pieces;
            --count;
        }
    }
    return true;
}

} // namespace

FileWriter::FileWriter(int fd, bool threaded, std::vector<std::vector<char>>& spares)
    : mFd(fd), mLent(spares) {
    // The thread inherits the tool's blocked signals: they reach only the
    // main thread. Without one (none could be made either) writes are done
    // at once.
    if (threaded) {
        try {
            mThread = std::thread(&FileWriter::run, this);
        } catch (...) {
        }
    }
    mSpare.swap(mLent);
    mBuffers += mSpare.size();
}

FileWriter::~FileWriter() {
    if (mThread.joinable()) {
        {
            const std::lock_guard<std::mutex> hold(mLock);
            mStop = true;
        }
        mWork.notify_one();
        mThread.join();
    }
    // Fresh memory costs page faults, and on a virtual machine that gave it
    // back to its host far more: the next download reuses these.
    mLent.swap(mSpare);
}

void FileWriter::write(const std::vector<char>& buffer, const char* data, size_t size,
                       uint64_t offset) {
    if (!mThread.joinable()) {
        struct iovec piece {
            const_cast<char*>(data), size
        };
        if (!mError && !writeAllAt(mFd, &piece, 1, offset))
            mError = errno;
        if (mError)
            mUnwritten = std::min(mUnwritten, offset);
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(mLock);
        if (mError) {
            mUnwritten = std::min(mUnwritten, offset);
            return;
        }
        mJobs.push_back(Job{buffer.data(), data, size, offset});
        ++mPending[buffer.data()];
        mQueued += size;
        // The thread is woken for a good share of work at once: every wake
        // costs both threads time.
        if (!mIdle || mQueued < kWakeBytes)
            return;
        mQueued = 0;
    }
    mWork.notify_one();
}

bool FileWriter::holds(const std::vector<char>& buffer) {
    const std::lock_guard<std::mutex> hold(mLock);
    return mPending.count(buffer.data()) > 0;
}

void FileWriter::exchange(std::vector<char>& buffer, size_t& start, size_t& end) {
    std::vector<char> fresh;
    {
        std::unique_lock<std::mutex> hold(mLock);
        for (;;) {
            auto it = mSpare.begin();
            while (it != mSpare.end() && mPending.count(it->data()))
                ++it;
            if (it != mSpare.end()) {
                fresh.swap(*it);
                mSpare.erase(it);
                break;
            }
            if (mBuffers < kMaxBuffers) {
                ++mBuffers;
                break;
            }
            wake();
            mDone.wait(hold);
        }
        mSpare.push_back(std::vector<char>());
        mSpare.back().swap(buffer);
    }
    if (fresh.empty())
        fresh.resize(mSpare.back().size());
    std::memcpy(fresh.data(), mSpare.back().data() + start, end - start);
    end -= start;
    start = 0;
    buffer.swap(fresh);
}

void FileWriter::wake() {
    if (mIdle && !mJobs.empty()) {
        mQueued = 0;
        mWork.notify_one();
    }
}

void FileWriter::drain() {
    std::unique_lock<std::mutex> hold(mLock);
    wake();
    mDone.wait(hold, [this] { return mJobs.empty() && !mBusy; });
}

int FileWriter::error() {
    const std::lock_guard<std::mutex> hold(mLock);
    return mError;
}

uint64_t FileWriter::unwrittenFrom() {
    const std::lock_guard<std::mutex> hold(mLock);
    return mUnwritten;
}

void FileWriter::run() {
    std::unique_lock<std::mutex> hold(mLock);
    std::deque<Job> jobs;
    std::vector<struct iovec> pieces;
    for (;;) {
        mIdle = true;
        mWork.wait(hold, [this] { return mStop || !mJobs.empty(); });
        mIdle = false;
        if (mJobs.empty())
            return;
        // All that is queued at once, runs of adjacent bytes in one call.
        jobs.swap(mJobs);
        mBusy = true;
        hold.unlock();
        int err = 0;
        uint64_t unwritten = UINT64_MAX;
        for (size_t i = 0; i < jobs.size();) {
            size_t n = 1;
            uint64_t size = jobs[i].size;
            while (i + n < jobs.size() && n < kMaxPieces &&
                   jobs[i + n].offset == jobs[i].offset + size) {
                size += jobs[i + n].size;
                ++n;
            }
            if (!err) {
                pieces.clear();
                for (size_t k = i; k < i + n; ++k)
                    pieces.push_back({const_cast<char*>(jobs[k].data), jobs[k].size});
                if (!writeAllAt(mFd, pieces.data(), pieces.size(), jobs[i].offset))
                    err = errno ? errno : EIO;
            }
            if (err)
                unwritten = std::min(unwritten, jobs[i].offset);
            i += n;
        }
        hold.lock();
        mBusy = false;
        if (err && !mError)
            mError = err;
        mUnwritten = std::min(mUnwritten, unwritten);
        for (const Job& job : jobs) {
            if (--mPending[job.base] == 0)
                mPending.erase(job.base);
        }
        jobs.clear();
        mDone.notify_all();
    }
}

} // namespace sftptool
