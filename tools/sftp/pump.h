#pragma once
// Carries the bytes of a connection between the network and the SSH library
// on two threads of its own.
//
// The library reads its socket a few kilobytes per system call, which makes
// the one thread that also decrypts and writes the files the bottleneck of a
// fast transfer. Reading the network in large pieces on other cores and
// handing them over through a local socket pair leaves that thread cheaper
// reads and nothing of the network stack's work.

namespace sftptool {

// Takes over `connection` and returns the descriptor the library is to use
// instead, or -1 when no pump could be set up. The end of the connection on
// either side is passed on to the other.
int startPump(int connection);

} // namespace sftptool
