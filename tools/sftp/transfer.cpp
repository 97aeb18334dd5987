#include "tools/sftp/client.h"
#include "tools/sftp/client_internal.h"
#include "tools/sftp/pump.h"
#include "tools/sftp/writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace sftptool {

using namespace sftp;

namespace {

// Transfers keep many requests in flight so that the link never idles on a
// round trip: 32 KiB each (what every server accepts), up to 4 MiB in all.
constexpr uint32_t kChunk = 32 * 1024;
constexpr size_t kInFlight = 128;
// Downloads ask for at least this many chunks at a time.
constexpr size_t kReadBatch = 16;
// Uploads hand the channel this many requests at once.
constexpr size_t kWriteBatch = 16;
constexpr long long kProgressMs = 500;
// The rest of a short answer is asked for in pieces of at least this size.
constexpr uint64_t kMinPiece = 4096;
// Empty answers to one read before the server is taken to be broken.
constexpr uint32_t kEmptyAnswers = 4;
// The size of a download from which a thread of its own writing the file pays
// for starting it.
constexpr uint64_t kWriterFrom = 1024 * 1024;

// Uploads keep enough in flight to cover the round trip (the open's) at
// about 1 GiB/s. No more than that: on a fast link what the server has yet
// to write piles up in its buffers, and OpenSSH's server then spends more on
// its memory than on the bytes.
size_t uploadsInFlight(std::chrono::steady_clock::duration roundTrip) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(roundTrip).count();
    const uint64_t bytes = uint64_t(std::max<long long>(us, 0)) * (1024 * 1024 * 1024 / 1000000);
    return std::clamp<size_t>(bytes / kChunk, kInFlight / 4, kInFlight);
}

} // namespace

char* Client::writeBuffer(size_t size) {
    if (mWriteSize < size) {
        mWrite.reset(new char[size]);
        mWriteSize = size;
    }
    return mWrite.get();
}

void Client::startProgress() {
    mNextProgress = nowMs() + kProgressMs;
    mNextLook = 0;
}

void Client::progress(uint64_t done, bool force) {
    const long long now = nowMs();
    if (!force && now < mNextProgress)
        return;
    mNextProgress = now + kProgressMs;
    mTerm.line(std::to_string(done) + " bytes transferred");
}

void Client::awaitReplies(bool any, bool stopped, uint64_t done) {
    if (!any)
        receive(stopped ? kPollMs
                        : int(std::clamp(mNextProgress - nowMs(), 0LL, (long long)kPollMs)));
    if (!stopped)
        progress(done, false);
}

void Client::doGet(const std::vector<Word>& w) {
    const bool resume = mHaveRest;
    const uint64_t offset = mHaveRest ? mRest : 0;
    mHaveRest = false; // a rest offset serves the next transfer only, whatever becomes of it
    mRest = 0;
    gInterrupted = 0;

    const std::string remote = remotePath(mCwd, w[1].text);
    const std::string local = w.size() > 2 ? w[2].text : lastComponent(w[1].text);
    if (local.empty()) {
        mTerm.line("Couldn't get: no local file name can be made from that path");
        return;
    }
    // The size is asked for by path together with the open: one round trip
    // for both.
    Packet openIt(Open, nextId());
    openIt.str(remote).u32(OpenRead).attrs(Attributes());
    Packet statIt(Stat, nextId());
    statIt.str(remote);
    Asked asked[2] = {{&openIt, Handle, {}, {}}, {&statIt, Attrs, {}, {}}};
    requests(asked, 2);
    std::string handle, error = asked[0].error;
    if (asked[0].ok) {
        Reader r(asked[0].reply);
        handle = std::string(r.str());
        if (!r.ok())
            error = "Bad message";
    }
    if (!error.empty()) {
        mTerm.line("Couldn't open remote file: " + error);
        return;
    }
    Attributes info;
    if (asked[1].ok) {
        Reader r(asked[1].reply);
        info = r.attrs();
        if (!r.ok())
            asked[1].error = "Bad message";
    }
    if (!asked[1].error.empty())
        error = "Couldn't read remote file size: " + asked[1].error;
    else if (info.isDirectory())
        error = "Couldn't get: the remote path is a folder";
    else if (resume && (info.flags & HasSize) && offset > info.size)
        error = "Couldn't resume: the offset lies beyond the end of the remote file";
    if (!error.empty()) {
        closeHandle(handle);
        mTerm.line(error);
        return;
    }

    // Where the bytes go. A new file is written in place, so that an
    // interrupted download can be resumed; an existing one is only replaced
    // once the new copy is complete; a resume continues the existing file.
    Fd out;
    std::string temporary;
    struct stat st {};
    const bool exists = ::stat(local.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        error = "Couldn't write local file: it is a folder";
    } else if (resume && offset > 0) {
        if (!exists || uint64_t(st.st_size) < offset)
            error = "Couldn't resume: the local file is shorter than the offset";
        else if ((out.fd = ::open(local.c_str(), O_WRONLY | O_CLOEXEC)) < 0 ||
                 ftruncate(out.fd, off_t(offset)) != 0)
            error = std::string("Couldn't open local file: ") + std::strerror(errno);
    } else if (!exists) {
        out.fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out.fd < 0)
            error = std::string("Couldn't create local file: ") + std::strerror(errno);
    } else {
        const size_t slash = local.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : local.substr(0, slash + 1);
        temporary = dir + (slash == std::string::npos ? "/" : "") + ".sftp-part-XXXXXX";
        std::vector<char> tmpl(temporary.begin(), temporary.end());
        tmpl.push_back('\0');
        out.fd = mkostemp(tmpl.data(), O_CLOEXEC);
        if (out.fd < 0) {
            error = std::string("Couldn't create local file: ") + std::strerror(errno);
            temporary.clear();
        } else {
            temporary = tmpl.data();
            setTemporaryFile(temporary);
            fchmod(out.fd, st.st_mode & 07777);
        }
    }
    if (!error.empty()) {
        closeHandle(handle);
        mTerm.line(error);
        return;
    }

    // Local offsets equal remote ones. Replies may come for any request in
    // flight. A server may answer a read with fewer bytes than asked, so the
    // rest of every short answer below the end of the file is asked for again
    // until it arrives: the end is where the server first said so, and an end
    // below bytes it already sent is a broken answer, never a shorter file.
    // Everything below the lowest offset still in flight has arrived, which
    // is where a stopped download is cut so the local file never holds a hole.
    // Reads stop at the size the server gave, with one read beyond it that
    // finds the end in the same round trip; only a file that grew since is
    // read on from there.
    struct Ask {
        uint64_t offset;
        uint32_t length;
        uint32_t empties; // empty answers to this range so far
    };
    std::map<uint32_t, Ask> inFlight;
    uint64_t awaited = 0; // bytes asked for and not yet answered
    uint64_t next = offset, done = 0, complete = offset;
    uint64_t end = UINT64_MAX, reached = offset;
    uint64_t hint = (info.flags & HasSize) ? info.size : UINT64_MAX;
    long long giveUpAt = 0;
    bool interrupted = false;
    std::string batch;
    auto ask = [&](uint64_t at, uint32_t length, uint32_t empties) {
        const uint32_t id = nextId();
        Packet p(Read, id);
        batch += p.str(handle).u64(at).u32(length).finish();
        inFlight[id] = Ask{at, length, empties};
        awaited += length;
    };
    auto stopped = [&] { return interrupted || !error.empty(); };
    auto lowest = [&] {
        uint64_t low = next;
        for (const auto& [id, a] : inFlight)
            low = std::min(low, a.offset);
        return low;
    };
    auto fail = [&](const Ask& a, const std::string& why) {
        if (stopped())
            return;
        complete = std::min(lowest(), a.offset);
        error = "Couldn't read remote file: " + why;
    };
    pumpForLargeTransfer(hint == UINT64_MAX ? hint : hint - std::min(hint, offset));
    // A large file is written on another thread, straight from the receive
    // buffer; the first failed write stops the download as a failed read does.
    FileWriter writer(out.fd, hint - std::min(hint, offset) >= kWriterFrom, mSpareIn);
    mWriter = &writer;
    struct Detach {
        FileWriter*& writer;
        ~Detach() { writer = nullptr; }
    } detach{mWriter};
    auto writeFailed = [&] {
        if (const int e = writer.error(); e && !stopped()) {
            error = std::string("Couldn't write local file: ") + std::strerror(e);
            complete = lowest();
        }
    };
    struct EndStream {
        ~EndStream() { pumpExpect(0); }
    } endStream;
    startProgress();
    for (;;) {
        if (!interrupted && interruptRequested()) {
            interrupted = true;
            complete = lowest();
            giveUpAt = nowMs() + kDrainMs;
        }
        writeFailed();
        // Asked for in groups: fewer, fuller packets for both ends.
        const size_t room = inFlight.size() + kReadBatch <= kInFlight ? kInFlight : 0;
        while (!stopped() && next < end && next <= hint && inFlight.size() < room) {
            const uint32_t length =
                next < hint ? uint32_t(std::min<uint64_t>(kChunk, hint - next)) : kChunk;
            ask(next, length, 0);
            next += length;
        }
        if (!batch.empty()) {
            send(batch);
            batch.clear();
        }
        if (inFlight.empty())
            break;
        // After an interrupt a server that does not answer is not waited for.
        if (giveUpAt && nowMs() >= giveUpAt) {
            for (const auto& [id, a] : inFlight)
                abandon(id);
            inFlight.clear();
            checkInStep();
            break;
        }
        std::string_view body;
        bool any = false;
        while (nextPacket(body)) {
            any = true;
            Reader r(body);
            const uint8_t type = r.u8();
            const uint32_t id = r.u32();
            if (abandonedReply(id))
                continue;
            const Ask a = takeAsked(inFlight, id);
            awaited -= std::min<uint64_t>(awaited, a.length);
            if (type == Data) {
                const std::string_view data = r.str();
                if (!r.ok() || data.size() > a.length) {
                    fail(a, "Bad message");
                } else if (a.offset + data.size() > end) {
                    fail(a, "the server sent bytes beyond the end of the file");
                } else if (stopped()) {
                } else if (data.empty()) {
                    // Not the end of the file (that is a status): asked again
                    // a few times, then the server is taken to be broken.
                    if (a.empties + 1 >= kEmptyAnswers)
                        fail(a, "the server sends no data");
                    else
                        ask(a.offset, a.length, a.empties + 1);
                } else {
                    writer.write(mIn, data.data(), data.size(), a.offset);
                    if (a.offset >= hint)
                        hint = UINT64_MAX; // the file grew: read on
                    done += data.size();
                    reached = std::max(reached, a.offset + data.size());
                    // The rest at once, in pieces the size of this answer:
                    // a server that caps its reads answers them all in one
                    // round trip rather than one after the other.
                    const uint64_t stop = std::min(a.offset + a.length, end);
                    const uint64_t piece = std::max<uint64_t>(data.size(), kMinPiece);
                    for (uint64_t at = a.offset + data.size(); at < stop; at += piece)
                        ask(at, uint32_t(std::min(piece, stop - at)), 0);
                }
            } else if (type == Status && r.u32() == Eof) {
                if (a.offset < reached)
                    fail(a, "the server said the file ends before bytes it had sent");
                end = std::min(end, a.offset);
            } else {
                r = Reader(body.substr(5));
                fail(a, type == Status ? statusText(r.u32()) : "Bad message");
            }
        }
        pumpExpect(stopped() ? 0 : awaited);
        awaitReplies(any, stopped(), done);
    }
    writer.drain();
    writeFailed();
    complete = std::min(complete, writer.unwrittenFrom());
    if (stopped()) {
        closeHandle(handle);
    } else {
        // Everything has arrived, so the answer to the CLOSE changes nothing.
        closeUnanswered(handle);
    }
    if (stopped()) {
        struct stat now {};
        if (fstat(out.fd, &now) == 0 && uint64_t(now.st_size) > complete)
            (void)ftruncate(out.fd, off_t(complete));
    } else if (close(out.fd) != 0) {
        error = std::string("Couldn't write local file: ") + std::strerror(errno);
    } else {
        out.fd = -1;
    }
    if (!temporary.empty()) {
        if (!stopped() && rename(temporary.c_str(), local.c_str()) != 0)
            error = std::string("Couldn't replace local file: ") + std::strerror(errno);
        if (stopped())
            unlink(temporary.c_str());
        setTemporaryFile("");
    }
    if (interrupted)
        mTerm.line("Transfer interrupted.");
    else if (!error.empty())
        mTerm.line(error);
    else
        progress(done, true);
}

void Client::doPut(const std::vector<Word>& w) {
    const bool resume = mHaveRest;
    const uint64_t offset = mHaveRest ? mRest : 0;
    mHaveRest = false;
    mRest = 0;
    gInterrupted = 0;

    const std::string& local = w[1].text;
    const std::string remoteName = w.size() > 2 ? w[2].text : lastComponent(local);
    if (remoteName.empty()) {
        mTerm.line("Couldn't put: no remote file name can be made from that path");
        return;
    }
    const std::string remote = remotePath(mCwd, remoteName);
    Fd in;
    struct stat st {};
    in.fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0 || fstat(in.fd, &st) != 0) {
        mTerm.line(std::string("Couldn't open local file: ") + std::strerror(errno));
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        mTerm.line("Couldn't put: the local path is not a file");
        return;
    }
    if (resume && offset > uint64_t(st.st_size)) {
        mTerm.line("Couldn't resume: the offset lies beyond the end of the local file");
        return;
    }
    Attributes mode;
    mode.flags = HasPermissions;
    mode.permissions = st.st_mode & 0777;
    std::string handle, error;
    const auto asked = std::chrono::steady_clock::now();
    if (!open(remote, Open, OpenWrite | (offset > 0 ? 0 : OpenCreate | OpenTruncate), mode, handle,
              error)) {
        mTerm.line("Couldn't open remote file: " + error);
        return;
    }
    const size_t maxInFlight = uploadsInFlight(std::chrono::steady_clock::now() - asked);
    if (offset > 0) {
        // Resuming: the remote file must hold at least the offset (no hole), and
        // anything beyond it is cut off so the result is exactly the local file.
        Attributes a;
        if (!stat(handle, a, Fstat, error))
            error = "Couldn't read remote file size: " + error;
        else if (!(a.flags & HasSize) || a.size < offset)
            error = "Couldn't resume: the remote file is shorter than the offset";
        if (error.empty() && a.size > offset) {
            Attributes cut;
            cut.flags = HasSize;
            cut.size = offset;
            Packet t(Fsetstat, nextId());
            t.str(handle).attrs(cut);
            if (!simple(t, error))
                error = "Couldn't resume: " + error;
        }
        if (!error.empty()) {
            closeHandle(handle);
            mTerm.line(error);
            return;
        }
    }

    // Requests are read from the file straight behind their headers, several
    // into one buffer that goes out as one stream, so the SSH layer sends
    // full-sized packets. The server writes requests in order, so whatever it
    // acknowledged before a stop leaves the remote file a clean prefix of the
    // local one. The CLOSE follows the last write in the same stream: a small
    // file then costs one round trip after the open, not two; its answer is
    // still read after those of the writes.
    const size_t header = 4 + 1 + 4 + 4 + handle.size() + 8 + 4;
    const size_t closeSize = 4 + 1 + 4 + 4 + handle.size();
    char* const batch = writeBuffer(kWriteBatch * (header + kChunk) + closeSize);
    std::map<uint32_t, uint32_t> inFlight;
    uint64_t next = offset, done = 0;
    bool eof = false, interrupted = false;
    uint32_t closeId = 0; // the CLOSE sent and not yet answered
    bool closeSent = false;
    std::string closeError;
    long long giveUpAt = 0;
    auto stopped = [&] { return interrupted || !error.empty(); };
    noPumpForLargeUpload(uint64_t(st.st_size) - std::min(uint64_t(st.st_size), offset));
    startProgress();
    for (;;) {
        if (!interrupted && interruptRequested()) {
            interrupted = true;
            giveUpAt = nowMs() + kDrainMs;
        }
        for (;;) {
            // Only what the server's window takes goes out, so the tool never
            // waits inside the library and keeps showing progress on a slow
            // link. One request may always go, whatever the window.
            const size_t window = ssh_channel_window_size(mChannel);
            if (stopped() || eof || inFlight.size() >= maxInFlight ||
                (window < header + kChunk && !inFlight.empty()))
                break;
            size_t used = 0;
            for (size_t k = 0; k < kWriteBatch && !eof && inFlight.size() < maxInFlight &&
                               (used == 0 || used + header + kChunk <= window);
                 ++k) {
                char* at = batch + used;
                const ssize_t n = pread(in.fd, at + header, kChunk, off_t(next));
                if (n < 0 && errno == EINTR) {
                    --k;
                    continue;
                }
                if (n < 0) {
                    error = std::string("Couldn't read local file: ") + std::strerror(errno);
                    break;
                }
                if (n == 0) {
                    eof = true;
                    break;
                }
                const uint32_t id = nextId();
                Packet p(Write, id);
                const std::string& head = p.str(handle).u64(next).u32(uint32_t(n)).finish();
                std::memcpy(at, head.data(), header);
                const uint32_t length = uint32_t(header - 4 + size_t(n));
                at[0] = char(length >> 24);
                at[1] = char(length >> 16);
                at[2] = char(length >> 8);
                at[3] = char(length);
                used += header + size_t(n);
                inFlight[id] = uint32_t(n);
                next += uint64_t(n);
            }
            if (eof && error.empty() && !interrupted) {
                closeId = nextId();
                Packet c(Close, closeId);
                const std::string& bytes = c.str(handle).finish();
                std::memcpy(batch + used, bytes.data(), bytes.size());
                used += bytes.size();
                closeSent = true;
            }
            if (used)
                send(batch, used);
            if (!interrupted && interruptRequested()) {
                interrupted = true;
                giveUpAt = nowMs() + kDrainMs;
            }
        }
        if (inFlight.empty() && !closeId)
            break;
        // After an interrupt a server that does not answer is not waited for.
        if (giveUpAt && nowMs() >= giveUpAt) {
            for (const auto& [id, length] : inFlight)
                abandon(id);
            inFlight.clear();
            if (closeId)
                abandon(closeId);
            closeId = 0;
            checkInStep();
            break;
        }
        std::string_view body;
        bool any = false;
        while (nextPacket(body)) {
            any = true;
            Reader r(body);
            const uint8_t type = r.u8();
            const uint32_t id = r.u32();
            if (abandonedReply(id))
                continue;
            if (closeId && id == closeId) {
                closeId = 0;
                if (type != Status)
                    closeError = "Bad message";
                else if (const uint32_t code = r.u32(); code != Ok)
                    closeError = statusText(code);
                continue;
            }
            const uint32_t length = takeAsked(inFlight, id);
            const uint32_t code = type == Status ? r.u32() : uint32_t(Failure);
            if (code == Ok)
                done += length;
            else if (error.empty())
                error = std::string("Couldn't write remote file: ") +
                        (type == Status ? statusText(code) : "Bad message");
        }
        awaitReplies(any, stopped(), done);
    }
    if (!closeSent)
        closeHandle(handle, &closeError);
    if (!closeError.empty() && !stopped())
        error = "Couldn't close remote file: " + closeError;
    if (interrupted)
        mTerm.line("Transfer interrupted.");
    else if (!error.empty())
        mTerm.line(error);
    else
        progress(done, true);
}

} // namespace sftptool
