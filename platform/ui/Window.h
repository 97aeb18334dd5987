#pragma once
// Window objects over nib-made windows, the command path control -> window
// -> application, posted closes, sheets with their modal loop and the menu
// bar. Toolbars: ppxui/Toolbar.h.
#include "platform/core/Events.h"
#include "platform/ui/Nib.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
class QObject;

namespace PPx {

class View;
class Window;

// Command status as a menu item or toolbar item shows it.
struct CommandStatus {
    bool enabled = false;
};

class CommandProcessDoer {
public:
    virtual ~CommandProcessDoer() = default;
    // noErr when the command was handled, eventNotHandledErr to pass it on.
    virtual OSStatus DoCommandProcess(uint32_t command) = 0;
};

class CommandUpdateStatusDoer {
public:
    virtual ~CommandUpdateStatusDoer() = default;
    virtual OSStatus DoCommandUpdateStatus(uint32_t command, CommandStatus& status) = 0;
};

class WindowBoundsChangedDoer {
public:
    virtual ~WindowBoundsChangedDoer() = default;
    virtual OSStatus DoWindowBoundsChanged() = 0;
};

enum class ThemeCursor { Arrow, IBeam };

class WindowCursorChangeDoer {
public:
    virtual ~WindowCursorChangeDoer() = default;
    // UNDER is the control under the mouse, null over no control.
    virtual OSStatus DoWindowCursorChange(View* under, ThemeCursor& cursor) = 0;
};

// The event class of command status queries; the handler sets the integer
// parameter 'enab' to 1 to enable the command.
constexpr FourCharCode kEventClassCommandStatus = 'Pups';
constexpr FourCharCode kEventParamEnabled = 'enab';

// An event target that also takes command doers: objects that answer every
// command in one operation. A command goes to the doers of this target and
// of its parents (newest first at each), then as a 'Pcmd' event to the
// handlers installed for that very command here and up to the application.
// An exception escaping a handler counts as handled.
class CommandTarget : public EventTarget {
public:
    CommandTarget();

    void AddCommandHandler(CommandProcessDoer* handler);
    void AddStatusHandler(CommandUpdateStatusDoer* handler);
    void RemoveHandlers(const void* handler);

    // The command travels from here up; eventNotHandledErr when nobody took it.
    OSStatus ProcessCommand(uint32_t command);
    OSStatus UpdateStatus(uint32_t command, CommandStatus& status);

protected:
    // Runs around every handler call of this target (windows count their
    // callbacks with it).
    virtual void EnterHandler() {}
    virtual void LeaveHandler() {}

private:
    std::vector<CommandProcessDoer*> mCommandHandlers;
    std::vector<CommandUpdateStatusDoer*> mStatusHandlers;
    EventHandler mPostedHandler;
};

// Queues COMMAND for TARGET's command path (any thread, through a reference
// taken on the main thread); it runs from the event loop, doers included,
// and is dropped when the target goes first.
void PostCommand(const EventTargetRef& target, uint32_t command);

struct Rect {
    int16_t top = 0, left = 0, bottom = 0, right = 0;
    bool operator==(const Rect&) const = default;
};

// The menu bar each top-level window carries ("MenuBar" by default; empty
// for none).
void SetMenuBar(const std::string& nibName);
const std::string& GetMenuBarName();

class Window : public CommandTarget {
public:
    Window();
    ~Window() override; // destroys the toolbox window

    // Takes over a nib-made window: the object owns it from now on and is
    // found again from it; a main window (HasMenuBar) gets the menu bar.
    void AdoptSysWindow(SysWindow window);
    SysWindow GetSysWindow() const { return mWindow; }
    static Window* GetWindowObject(const QWidget* widget);
    // The frontmost visible window object, or null; with CLASSNAME, the
    // frontmost of that class.
    static Window* FrontWindow();
    static Window* FrontWindow(const char* className);
    // Every window object alive, oldest first.
    static std::vector<Window*> AllWindows();

    virtual void FinishInit() {}
    virtual const char* ClassName() const { return "PPx::Window"; }

    void Show();
    void Hide();
    bool IsVisible() const;
    void Select(); // show and bring to the front
    bool IsCollapsed() const;
    // A window listed in the Window menu whose title another listed window
    // already shows gets a number: "host (2)".
    void SetTitle(const std::string& title);
    std::string GetTitle() const;

    // Content rectangle in screen coordinates.
    Rect GetContentBounds() const;
    void SetContentBounds(const Rect& bounds);
    // Moves the window onto the screen it overlaps most, the primary one
    // when none.
    void ConstrainToScreen();
    // Places the window cascaded below and right of PARENT, starting again
    // at the screen's top left when that would leave the screen.
    void CascadeOn(const Window& parent);
    // Centres the window over OWNER when it is visible, else on the screen.
    void CenterOn(const Window* owner);
    // The program has set the window's place (bounds set, centred or
    // cascaded); until then it stands where its interface file put it.
    bool WasPlaced() const { return mPlaced; }
    // Drops the textured look (windows have none here; kept as a mark).
    void ClearTexturedLook();
    bool HasTexturedLook() const;

    // Asks for the window to close: the close is posted and runs once the
    // event loop has it and no callback or sheet of this window is running.
    void Close();
    bool IsClosePending() const { return mClosePending; }
    // A callback or sheet of this window is running.
    bool IsBusy() const { return mBusy > 0; }
    // Expires when the object goes (for work posted for later).
    std::weak_ptr<bool> AliveFlag() const { return mAlive; }
    // Handles the close: the default destroys the object.
    virtual OSStatus DoWindowClose();

    void InstallBoundsChangedHandler(WindowBoundsChangedDoer* handler);
    void InstallCursorChangeHandler(WindowCursorChangeDoer* handler);
    // Asks the cursor handlers again for every control (after enabling or
    // disabling some).
    void ApplyCursorRule();
    void SetDefaultButton(View* button);
    // Escape presses BUTTON while it is enabled (sheets answer Escape with
    // 'not!' by themselves).
    void SetCancelButton(View* button);
    // Main windows carry the menu bar; dialogs-like windows answer false.
    // Asked once, when the toolbox window is adopted.
    virtual bool HasMenuBar() const { return true; }
    // Listed in the Window menu, to be brought to the front from there.
    virtual bool IsListedInWindowMenu() const { return false; }

    // Marks a callback of this window as running: closes wait for it.
    class Busy {
    public:
        explicit Busy(Window* window);
        ~Busy();
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        Window* mWindow;
        std::weak_ptr<bool> mAlive; // the window may go meanwhile
    };

    class Agent;

protected:
    void EnterHandler() override;
    void LeaveHandler() override;

private:
    friend class SheetWindow;
    friend class Agent;
    void Enter();
    void Leave();
    void DeliverClose();

    SysWindow mWindow = nullptr;
    Agent* mAgent = nullptr; // a QObject owned by the toolbox window
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
    EventHandler mCloseHandler;
    int mBusy = 0;
    bool mClosePending = false;
    bool mPlaced = false;
    std::vector<WindowBoundsChangedDoer*> mBoundsHandlers;
    std::vector<WindowCursorChangeDoer*> mCursorHandlers;
    friend class WindowEvents;
};

// A window run window-modally on a parent, with its own app-modal loop.
class SheetWindow : public Window {
public:
    ~SheetWindow() override;
    const char* ClassName() const override { return "PPx::SheetWindow"; }

    // Attaches the sheet to PARENT and shows it centred over it (unless the
    // program placed it); the parent is blocked and counts as busy until
    // Hide. Hiding twice, or while hiding, does nothing more.
    void Show(Window* parent);
    void Hide();
    Window* GetParentWindow() const { return mParentWindow; }

private:
    Window* mParentWindow = nullptr;
    std::weak_ptr<bool> mParentAlive;
    bool mHiding = false;
};

// Called, from the event loop, once a window was closed or hidden and no
// window that carries a menu bar is visible any more (the program then has
// nothing the user can reach). Empty: nothing is called.
void SetLastWindowClosedHandler(std::function<void()> handler);

// Nested event loops that block every other window except the one run for.
// A loop ends once: a sheet whose loop was told to end is hidden at once
// (its answer is given, even while a later loop of another window still
// runs above it) and further answers to it are dropped. An answer before
// the loop runs ends it as soon as it starts.
OSStatus RunAppModalLoopForWindow(Window* window);
OSStatus QuitAppModalLoopForWindow(Window* window);
int AppModalDepth();

class NibWindow : public Window {
public:
    const char* ClassName() const override { return "NibWindow"; }
};

class NibSheetWindow : public SheetWindow {
public:
    const char* ClassName() const override { return "NibSheetWindow"; }
};

void DestroySysWindow(SysWindow window);

// Makes a window object of class T from the nib window NAME: adopt, then
// FinishInit. Null when the nib has no such window; when FinishInit fails
// the half-made object is destroyed and the error travels on.
template <class T, class... Args>
T* MakeNibWindow(const SysNib& nib, const std::string& name, Args&&... args) {
    SysWindow sys = nib.CreateWindow(name);
    if (!sys)
        return nullptr;
    T* object = nullptr;
    try {
        object = new T(std::forward<Args>(args)...);
    } catch (...) {
        DestroySysWindow(sys);
        throw;
    }
    try {
        object->AdoptSysWindow(sys);
        object->FinishInit();
    } catch (...) {
        delete object;
        throw;
    }
    return object;
}

} // namespace PPx
