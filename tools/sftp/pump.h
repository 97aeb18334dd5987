#pragma once
// Carries the bytes of a connection between the network and the SSH library
// on two threads of its own.
//
// The library reads its socket a few kilobytes per system call, which makes
// the one thread that also decrypts and writes the files the bottleneck of a
// fast transfer. Reading the network in large pieces on other cores and
// handing them over through a local socket pair leaves that thread cheaper
// reads and nothing of the network stack's work. Every message then wakes one
// thread more on its way, which a session of small requests pays for in each
// round trip: the pump is put in only when a large download begins. A large
// upload takes it out again: its bytes would take one more hop.

#include <cstdint>
#include <functional>

namespace sftptool {

// Puts a pump between the connection that `fd` holds and whoever uses `fd`:
// the connection moves to a descriptor of the pump's and `fd` becomes the
// pump's local end, with the same file status flags, so that a library using
// it goes on without noticing. Only while nobody waits on `fd`. The end of
// the connection on either side is passed on to the other. False (and
// nothing changed) when no pump could be set up.
bool pumpInPlace(int fd);

// Takes the pump out again (if one is in place): `fd` holds the connection
// itself once more, and every byte the pump took from either side has been
// passed on. Only between commands. `readSome(timeoutMs)` has the library
// read from `fd`: the bytes the pump passed on wait there for it.
void pumpOut(int fd, const std::function<void(int timeoutMs)>& readSome);

// Tells the pump how many bytes the session awaits from the network before
// it must answer or ask anything: while that is a stream, the pump wakes for
// large pieces only. 0 once the stream has ended, however it ended.
void pumpExpect(uint64_t bytes);

} // namespace sftptool
