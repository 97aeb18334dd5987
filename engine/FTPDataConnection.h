#pragma once
// One FTP data connection: passive (we connect) or active (we listen and the
// server connects). The engine reuses one object for every transfer.
//
// Interrupt() may be called from any thread: it shuts the sockets down so that
// a transfer blocked in connect, accept, receive or send wakes at once.
#include "engine/CUnixSocket.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

class FTPDataConnection {
public:
    FTPDataConnection() = default;
    virtual ~FTPDataConnection();
    FTPDataConnection(const FTPDataConnection&) = delete;
    FTPDataConnection& operator=(const FTPDataConnection&) = delete;

    // Passive: connects to host:port. Active: listens on `address` (host byte
    // order) and a port the system picks; address and port are set to what
    // the listening socket got.
    virtual bool MakeDataConnection(const std::string& host, uint32_t& address, uint16_t& port,
                                    bool passive, int timeout);
    // Active mode: waits for the server's connection. Connections from any
    // address but `allowedPeer` (the control connection's peer) are refused.
    virtual bool AcceptDataConnection(const std::string& allowedPeer);
    // Reads until the server closes the connection. False when the stream
    // failed, was interrupted, or grew beyond `limit` bytes.
    virtual bool RetrieveData(std::string& listing, size_t limit);
    // One receive of at most `length` bytes; `length` is set to what arrived.
    // True while more may follow; false at the end of the stream (length 0)
    // or on failure (see Failed()).
    virtual bool RetrieveData(void* buffer, uint32_t& length);
    virtual bool SendData(const void* buffer, uint32_t& length);
    // Whether the stream can be read (or written, `forSending`) within
    // `timeoutMs` without blocking; an end or an error counts as ready, so
    // that the next read or send reports it.
    bool WaitReady(bool forSending, int timeoutMs);
    virtual bool SetTimeout(int seconds);
    virtual void Disconnect();

    // Closes with a reset instead of an orderly end, so that the server does
    // not take a cut-off upload for a complete one.
    void Reset();
    // Thread-safe: wakes a blocked transfer; stays raised until ClearInterrupt.
    void Interrupt();
    void ClearInterrupt();
    bool Interrupted() const { return mInterrupted.load(); }
    // The last receive or send failed (reset, time-out, interrupt) rather than
    // ending in an orderly close.
    bool Failed() const { return mError != 0; }
    bool TimedOut() const { return mError == EAGAIN || mError == EWOULDBLOCK; }
    int LastErrno() const { return mError; }

private:
    void Publish();

    CUnixSocket mSocket;   // the data stream
    CUnixSocket mListener; // active mode, until the server has connected
    int mError = 0;

    // Copies of the descriptors for Interrupt(), guarded by mWakeLock; the
    // worker changes them only under the lock, so a shut-down never reaches
    // a descriptor that has been closed and reused.
    std::mutex mWakeLock;
    int mWakeStream = -1;
    int mWakeListener = -1;
    std::atomic<bool> mInterrupted{false};
};
