#pragma once
// The GUI application object: made first in main, before any window.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace PPx {

class UIApplication {
public:
    UIApplication(int& argc, char** argv);
    ~UIApplication();
    UIApplication(const UIApplication&) = delete;
    UIApplication& operator=(const UIApplication&) = delete;

    // Widget tests: makes the application once for the whole process.
    static void EnsureForTests();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// One program per user and Preferences folder: a second start hands its
// documents (possibly none) to the running one and ends. True when the
// running program took them.
bool HandDocumentsToRunningProgram(const std::vector<std::string>& paths);
// Makes this program the one that takes them; OPEN runs on the main thread,
// from the event loop, after the sender has had its answer.
void ListenForDocuments(std::function<void(const std::vector<std::string>&)> open);

// SIGTERM and SIGINT (a session ending, kill, Ctrl+C in a terminal) run
// QUIT on the main thread, from the event loop, instead of ending the
// process on the spot. A second one while the first still waits for the
// main thread ends the process as the signal does by default.
void OnTerminationSignal(std::function<void()> quit);

// How a start goes: this program is the only one for the user's Preferences
// folder (First), or another one holds it and took the documents
// (HandedOver), or another one holds it but did not answer within ANSWERWAIT
// (NotAnswering: the start must end, so that no two programs write the same
// stores). The claim is a lock held until the process ends.
enum class StartClaim { First, HandedOver, NotAnswering };
StartClaim ClaimOrHandOver(const std::vector<std::string>& paths,
                           std::chrono::milliseconds answerWait = std::chrono::seconds(20));

} // namespace PPx
