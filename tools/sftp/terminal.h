#pragma once
// The tool's side of its terminal: raw input without kernel echo or line
// editing (the tool echoes each command itself, as one line), whole-line
// writes, and waits that wake for the signals the tool answers.
#include <csignal>
#include <string>
#include <termios.h>

namespace sftptool {

extern volatile sig_atomic_t gInterrupted; // SIGINT: stop the running transfer
extern volatile sig_atomic_t gHangup;      // SIGHUP or SIGTERM: end the tool

// Installs the handlers and blocks the signals; they are let through only
// while the tool waits (see waitMask()).
void installSignals();
const sigset_t* waitMask();
// Takes the signals that arrived while they were blocked (the tool was busy,
// not waiting) and sets the flags above for them.
void takeSignals();

// Ends the tool: removes an unfinished temporary file, restores the terminal.
[[noreturn]] void finish(int status);
// The path of a temporary file that finish() must remove; empty for none.
void setTemporaryFile(const std::string& path);

class Terminal {
public:
    void setup();
    void restore();

    // Writes the bytes with one write where the system allows, so that a reader
    // never sees half a line. Ends the tool when the terminal is gone.
    void write(const std::string& text);
    void line(const std::string& text) { write(text + eol()); }
    std::string eol() const { return mCrlf ? "\r\n" : "\n"; }

    // Reads one command (a line end inside a quoted name does not end it) or,
    // with command false, one plain line such as a password. False at the end
    // of the input. While waiting, `watchFd` (when not -1) is watched; when it
    // becomes readable `onWatch` is called, which says whether to go on
    // watching it.
    bool readLine(std::string& out, bool command, int watchFd = -1, bool (*onWatch)() = nullptr);

    int fd() const { return 0; }

private:
    bool fill(int watchFd, bool (*onWatch)());

    std::string mInput;
    bool mCrlf = true;
    bool mSkipLF = false;
    bool mRaw = false;
    struct termios mSaved {};
};

} // namespace sftptool
