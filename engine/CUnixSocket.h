#pragma once
// A blocking IPv4 TCP stream socket: connect, bind, listen, accept, and loops
// that send or receive an exact number of bytes. Reports success as a bool.
#include <cstdint>
#include <string>

class CUnixSocket {
public:
    CUnixSocket() = default;
    explicit CUnixSocket(int fd) : mSocketFD(fd) {}
    virtual ~CUnixSocket();

    CUnixSocket(const CUnixSocket&) = delete;
    CUnixSocket& operator=(const CUnixSocket&) = delete;

    virtual bool CreateTCP();
    virtual void Close();
    virtual bool Connect(const char* host, int port);
    // port 0 lets the system choose; address in host byte order (e.g. INADDR_ANY).
    virtual bool Bind(int port, uint32_t address);
    virtual bool Listen(int backlog);
    virtual bool Accept(CUnixSocket& client, std::string& peerAddress, int& peerPort);
    virtual bool SendData(const void* buffer, uint32_t length);
    // In: bytes wanted; out: bytes received (fewer when the stream ended or failed).
    virtual bool ReadData(void* buffer, uint32_t& length);
    virtual bool GetSockAddress(std::string& address, int& port);
    // Replaces the descriptor without closing the old one.
    virtual void SetSocketFD(int fd);
    virtual int GetFD();
    virtual bool Disconnected();

protected:
    int mSocketFD = -1;
    bool mFailed = false;
};
