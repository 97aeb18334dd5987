#pragma once
// Standard alerts (application-modal or as a sheet on a window) and the file
// and folder choosers.
#include "platform/ui/Nib.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace PPx {

class Window;

enum AlertType : uint32_t {
    kAlertStopAlert = 0,
    kAlertNoteAlert = 1,
    kAlertCautionAlert = 2,
    kAlertPlainAlert = 3,
};

// Up to three buttons, first to third; an empty text leaves the button out.
// The default and cancel positions count from 1 (0 for none). CLOSECODE is
// what the alert answers when the window manager closes it.
struct AlertButtons {
    std::string text[3];
    uint32_t code[3] = {0, 0, 0};
    int defaultButton = 1;
    int cancelButton = 0;
    uint32_t closeCode = 0;
};

// Alerts show paths with this invisible character (U+2060 WORD JOINER)
// after each "/", so that lines break at blanks only.
constexpr char16_t kWordJoiner = u'\u2060';

// Shows the alert and runs it modally: as a sheet on PARENT, or on its own
// when PARENT is null. RESULT gets the code of the pressed button.
OSStatus RunAlert(Window* parent, AlertType type, const std::string& message,
                  const std::string& explanation, const AlertButtons& buttons, uint32_t& result);

// An application-modal alert with one OK button.
void StandardAlert(AlertType type, const std::string& message, const std::string& explanation);
// The same, modal to PARENT and placed over it, so that with several windows
// open the user sees which one it is about; application-modal when PARENT
// is null or not shown.
void StandardAlert(Window* parent, AlertType type, const std::string& message,
                   const std::string& explanation);

// The choosers. Window-modal on PARENT with a callback (called later from
// the event loop), application-modal without one (returns after the user
// has finished).
enum class ChooserKind { File, Object, Folder, Save };

struct ChooserOptions {
    ChooserKind kind = ChooserKind::File;
    std::string title;
    std::string message;
    std::string saveName;
    bool multiple = false;
    bool showHidden = true;
    std::string startFolder; // empty: the user's home
};

struct ChooserReply {
    bool valid = false;             // false when cancelled
    std::vector<std::string> paths; // the chosen items, in the chooser's order
    std::string saveName;           // file name typed in a save chooser
};

void RunChooser(Window* parent, const ChooserOptions& options,
                std::function<void(const ChooserReply&)> done);

// Runs FUNCTION on the main thread once the event loop is back.
void PostToMainThread(std::function<void()> function);

} // namespace PPx
