#pragma once
// Writes a download's bytes to its file on a thread of its own, so that the
// thread that reads and decrypts the network never waits for the disk and
// both go on at once.
//
// The bytes are written straight from the buffers the network was read into:
// a write only points into its buffer, which is used again once every write
// into it is done. The number of buffers is bounded; when all hold writes not
// yet done, the reader waits for the disk.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace sftptool {

class FileWriter {
public:
    // Without `threaded` every write is done at once, on the caller's thread.
    // `spares` lends buffers kept from an earlier download, which are used
    // before new ones are made; all spares are handed back to it at the end.
    FileWriter(int fd, bool threaded, std::vector<std::vector<char>>& spares);
    ~FileWriter(); // waits for the writes queued
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Queues SIZE bytes at DATA, which lie in the buffer BUFFER, to be written
    // at OFFSET. After a failed write nothing more is written.
    void write(const std::vector<char>& buffer, const char* data, size_t size, uint64_t offset);
    // Whether queued writes still point into BUFFER.
    bool holds(const std::vector<char>& buffer);
    // Replaces BUFFER, which queued writes point into, by one of the same size
    // that none do, with the bytes [start, end) moved to its front; waits
    // for the disk when every buffer is in use.
    void exchange(std::vector<char>& buffer, size_t& start, size_t& end);
    // Waits until every write queued is done.
    void drain();
    // The errno of the first write that failed; 0 while none did.
    int error();
    // The lowest offset whose bytes were queued but not written because a
    // write failed; UINT64_MAX when everything queued was written.
    uint64_t unwrittenFrom();

private:
    struct Job {
        const char* base;
        const char* data;
        size_t size;
        uint64_t offset;
    };
    void run();
    void wake(); // with the lock held: when idle, the thread starts on the queue

    const int mFd;
    std::vector<std::vector<char>>& mLent;
    std::mutex mLock;
    std::condition_variable mWork, mDone;
    std::deque<Job> mJobs;
    std::map<const char*, size_t> mPending; // writes not yet done per buffer
    std::vector<std::vector<char>> mSpare;  // buffers given up by the reader
    size_t mBuffers = 1;                    // the reader's and the spares
    bool mBusy = false;                     // jobs are being written
    bool mIdle = false;                     // the thread waits for jobs
    size_t mQueued = 0;                     // bytes queued since it was last woken
    bool mStop = false;
    int mError = 0;
    uint64_t mUnwritten = UINT64_MAX;
    std::thread mThread;
};

} // namespace sftptool
