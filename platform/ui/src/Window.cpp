#include "platform/ui/Window.h"
#include "platform/core/EventLoop.h"
#include "platform/ui/Views.h"
#include "platform/ui/src/MenuBar.h"
#include "platform/ui/src/Nesting.h"
#include "platform/ui/src/Placement.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMainWindow>
#include <QMargins>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <exception>

namespace PPx {

// Command targets ------------------------------------------------------------

void CommandTarget::AddCommandHandler(CommandProcessDoer* handler) {
    mCommandHandlers.push_back(handler);
}

void CommandTarget::AddStatusHandler(CommandUpdateStatusDoer* handler) {
    mStatusHandlers.push_back(handler);
}

void CommandTarget::RemoveHandlers(const void* handler) {
    // The handler may be named by the object or by its doer part.
    auto named = [handler](auto* h) {
        return static_cast<const void*>(h) == handler || dynamic_cast<const void*>(h) == handler;
    };
    std::erase_if(mCommandHandlers, named);
    std::erase_if(mStatusHandlers, named);
}

constexpr FourCharCode kEventClassPostedCommand = 'Ppst';
constexpr FourCharCode kEventPostedCommand = 'cmnd';
constexpr FourCharCode kEventParamCommand = 'cmid';

CommandTarget::CommandTarget() {
    mPostedHandler =
        InstallHandler(kEventClassPostedCommand, kEventPostedCommand, [this](Event& event) {
            int64_t command = 0;
            if (!event.GetInteger(kEventParamCommand, command))
                return eventNotHandledErr;
            ProcessCommand(static_cast<uint32_t>(command));
            return noErr;
        });
}

void PostCommand(const EventTargetRef& target, uint32_t command) {
    Event event(kEventClassPostedCommand, kEventPostedCommand);
    event.SetInteger(kEventParamCommand, command);
    PostEvent(target, std::move(event));
}

OSStatus CommandTarget::ProcessCommand(uint32_t command) {
    // Doers first, target by target up to the application; each list is a
    // copy, since a doer may add or remove doers or close its window.
    for (EventTarget* target = this; target; target = target->Parent()) {
        auto* commandTarget = dynamic_cast<CommandTarget*>(target);
        if (!commandTarget)
            continue;
        std::vector<CommandProcessDoer*> handlers(commandTarget->mCommandHandlers.rbegin(),
                                                  commandTarget->mCommandHandlers.rend());
        for (CommandProcessDoer* handler : handlers) {
            OSStatus status;
            commandTarget->EnterHandler();
            try {
                status = handler->DoCommandProcess(command);
            } catch (...) {
                status = noErr; // an exception ends the event as handled
            }
            commandTarget->LeaveHandler();
            if (status != eventNotHandledErr)
                return status;
        }
    }
    Event event = MakeCommandEvent(command);
    return SendEvent(event);
}

OSStatus CommandTarget::UpdateStatus(uint32_t command, CommandStatus& status) {
    for (EventTarget* target = this; target; target = target->Parent()) {
        auto* commandTarget = dynamic_cast<CommandTarget*>(target);
        if (!commandTarget)
            continue;
        std::vector<CommandUpdateStatusDoer*> handlers(commandTarget->mStatusHandlers.rbegin(),
                                                       commandTarget->mStatusHandlers.rend());
        for (CommandUpdateStatusDoer* handler : handlers) {
            OSStatus result;
            try {
                result = handler->DoCommandUpdateStatus(command, status);
            } catch (...) {
                result = noErr;
            }
            if (result != eventNotHandledErr)
                return result;
        }
    }
    Event event(kEventClassCommandStatus, command);
    OSStatus result = SendEvent(event);
    int64_t enabled = 0;
    if (result != eventNotHandledErr && event.GetInteger(kEventParamEnabled, enabled))
        status.enabled = enabled != 0;
    return result;
}

namespace {

struct RunningLoop {
    Window* window;
    ModalLoop* loop;
    bool ending = false; // told to end; returns once the loops above it have
};

// Windows whose loop was asked to end before it ran.
std::vector<Window*>& EarlyQuits() {
    static std::vector<Window*> windows;
    return windows;
}

std::vector<RunningLoop>& ModalLoops() {
    static std::vector<RunningLoop> loops;
    return loops;
}

} // namespace

namespace {

// Window objects, the one most recently shown or activated last.
std::vector<Window*>& FrontOrder() {
    static std::vector<Window*> order;
    return order;
}

void BringToFront(Window* window) {
    std::erase(FrontOrder(), window);
    FrontOrder().push_back(window);
}

} // namespace

std::vector<Window*>& LiveWindows();

namespace {

std::function<void()>& LastWindowClosedHandler() {
    static std::function<void()> handler;
    return handler;
}

bool gLastWindowCheckPending = false;
bool gLastWindowCheckAfterLoops = false;

bool AnyWindowVisible();

// Asks, back in the event loop, whether any window is left; the check waits
// for nested loops (an alert over a hidden window) to end.
void ScheduleLastWindowCheck() {
    if (!LastWindowClosedHandler() || gLastWindowCheckPending)
        return;
    gLastWindowCheckPending = true;
    QTimer::singleShot(0, qApp, [] {
        gLastWindowCheckPending = false;
        if (NestedLoopDepth() > 0) {
            gLastWindowCheckAfterLoops = true;
            return;
        }
        if (!AnyWindowVisible() && LastWindowClosedHandler())
            LastWindowClosedHandler()();
    });
}

} // namespace

// The window's helper object: receives its posted close, watches its
// toolbox window for close requests, moves and resizes.
class Window::Agent : public QObject {
public:
    Agent(Window* window, QWidget* widget) : QObject(widget), mWindow(window) {
        widget->installEventFilter(this);
    }
    // The toolbox window went first (with a parent that was destroyed):
    // the object must not destroy it again.
    ~Agent() override {
        if (mWindow) {
            mWindow->mWindow = nullptr;
            mWindow->mAgent = nullptr;
        }
    }
    Window* mWindow;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!mWindow || watched != parent())
            return false;
        switch (event->type()) {
        case QEvent::Close:
            // The close box and the window manager ask; the window decides.
            // For a sheet that is its Cancel: its caller still owns it.
            event->ignore();
            if (qobject_cast<QDialog*>(static_cast<QWidget*>(watched)))
                mWindow->ProcessCommand('not!');
            else
                mWindow->Close();
            return true;
        case QEvent::KeyPress:
            // Escape in a sheet is its Cancel.
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
                qobject_cast<QDialog*>(static_cast<QWidget*>(watched))) {
                mWindow->ProcessCommand('not!');
                return true;
            }
            return false;
        case QEvent::WindowActivate:
            BringToFront(mWindow);
            return false;
        case QEvent::Hide:
            // Minimising hides too, but the window is still there.
            if (!qobject_cast<QDialog*>(static_cast<QWidget*>(watched)) &&
                !static_cast<QWidget*>(watched)->isMinimized())
                ScheduleLastWindowCheck();
            return false;
        case QEvent::Move:
        case QEvent::Resize: {
            auto handlers = mWindow->mBoundsHandlers;
            for (auto* handler : handlers) {
                try {
                    if (handler->DoWindowBoundsChanged() != eventNotHandledErr)
                        break;
                } catch (...) {
                    break;
                }
            }
            return false;
        }
        default:
            return false;
        }
    }
};

// Windows --------------------------------------------------------------------

namespace {

int gNestedDepth = 0;

// Windows whose close waits for the nested loops to end.
std::vector<Window*>& DeferredCloses() {
    static std::vector<Window*> windows;
    return windows;
}

} // namespace

void SetLastWindowClosedHandler(std::function<void()> handler) {
    LastWindowClosedHandler() = std::move(handler);
}

constexpr FourCharCode kEventClassWindow = 'wind';
constexpr FourCharCode kEventWindowClose = 72;

std::vector<Window*>& LiveWindows() {
    static std::vector<Window*> windows;
    return windows;
}

std::vector<Window*> Window::AllWindows() {
    return LiveWindows();
}

namespace {

bool AnyWindowVisible() {
    for (Window* window : LiveWindows()) {
        QWidget* widget = window->GetSysWindow();
        if (widget && widget->isVisible() && !qobject_cast<QDialog*>(widget))
            return true;
    }
    return false;
}

} // namespace

Window::Window() {
    LiveWindows().push_back(this);
    SetParent(&ApplicationTarget());
    mCloseHandler = InstallHandler(kEventClassWindow, kEventWindowClose, [this](Event&) {
        DeliverClose();
        return noErr;
    });
}

Window::~Window() {
    std::erase(DeferredCloses(), this);
    std::erase(LiveWindows(), this);
    std::erase(EarlyQuits(), this);
    std::erase(FrontOrder(), this);
    for (auto& loop : ModalLoops())
        if (loop.window == this) {
            loop.window = nullptr;
            loop.ending = true;
            loop.loop->Quit();
        }
    if (mAgent)
        mAgent->mWindow = nullptr;
    if (mWindow) {
        QWidget* widget = mWindow;
        mWindow = nullptr;
        if (widget->isVisible() && !qobject_cast<QDialog*>(widget))
            ScheduleLastWindowCheck();
        widget->hide();
        delete widget;
    }
}

void Window::AdoptSysWindow(SysWindow window) {
    if (!window || mWindow)
        throw OSError(paramErr, "AdoptSysWindow failed");
    mWindow = window;
    mAgent = new Agent(this, window);
    window->setProperty("ppxWindow", QVariant::fromValue<void*>(this));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    if (HasMenuBar())
        AttachMenuBar(this, window);
    else
        AttachWindowKeys(this, window);
}

Window* Window::GetWindowObject(const QWidget* widget) {
    if (!widget)
        return nullptr;
    const QWidget* top = widget->window();
    return static_cast<Window*>(top->property("ppxWindow").value<void*>());
}

Window* Window::FrontWindow() {
    for (auto it = FrontOrder().rbegin(); it != FrontOrder().rend(); ++it) {
        QWidget* widget = (*it)->GetSysWindow();
        if (widget && widget->isVisible() && !qobject_cast<QDialog*>(widget))
            return *it;
    }
    return nullptr;
}

Window* Window::FrontWindow(const char* className) {
    for (auto it = FrontOrder().rbegin(); it != FrontOrder().rend(); ++it) {
        QWidget* widget = (*it)->GetSysWindow();
        if (widget && widget->isVisible() && std::string((*it)->ClassName()) == className)
            return *it;
    }
    return nullptr;
}

void Window::Show() {
    if (!mWindow)
        return;
    ApplyCursorRule();
    mWindow->show();
    // A window shown comes to the front, as window managers do.
    BringToFront(this);
    mWindow->raise();
    mWindow->activateWindow();
}

void Window::Hide() {
    if (mWindow)
        mWindow->hide();
}

bool Window::IsVisible() const {
    return mWindow && mWindow->isVisible();
}

namespace {

// A sheet or alert open on WINDOW stays above it when it comes forward (a
// window manager does that by itself; without one, nobody would).
void RaiseSheetsOf(QWidget* window) {
    for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isWindow() && child->isVisible())
            child->raise();
}

} // namespace

void Window::Select() {
    if (!mWindow)
        return;
    mWindow->show();
    BringToFront(this);
    mWindow->raise();
    RaiseSheetsOf(mWindow);
    mWindow->activateWindow();
}

bool Window::IsCollapsed() const {
    return mWindow && mWindow->isMinimized();
}

void Window::SetTitle(const std::string& title) {
    if (!mWindow)
        return;
    std::string shown = title;
    if (IsListedInWindowMenu()) {
        // Two windows on one server would look alike in the Window menu and
        // the task bar: the later one is numbered, as desktop programs do.
        std::vector<std::string> taken;
        for (Window* other : LiveWindows())
            if (other != this && other->mWindow && other->IsListedInWindowMenu())
                taken.push_back(other->GetTitle());
        for (int n = 2; std::find(taken.begin(), taken.end(), shown) != taken.end(); ++n)
            shown = title + " (" + std::to_string(n) + ")";
    }
    mWindow->setWindowTitle(QString::fromStdString(shown));
}

std::string Window::GetTitle() const {
    return mWindow ? mWindow->windowTitle().toStdString() : std::string();
}

namespace {
int16_t Clamp16(int v) {
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}
} // namespace

Rect Window::GetContentBounds() const {
    if (!mWindow)
        throw OSError(paramErr, "GetWindowBounds failed");
    QRect r = mWindow->geometry();
    return Rect{Clamp16(r.top()), Clamp16(r.left()), Clamp16(r.top() + r.height()),
                Clamp16(r.left() + r.width())};
}

void Window::SetContentBounds(const Rect& b) {
    if (!mWindow)
        return;
    int width = std::max(1, b.right - b.left);
    int height = std::max(1, b.bottom - b.top);
    mWindow->setGeometry(b.left, b.top, width, height);
    mPlaced = true;
}

namespace {

// Moves WIDGET's content by (DX, DY). move() places the frame, whose size
// the window manager may only tell after the first show, so the content
// rectangle is what moves.
void MoveContent(QWidget* widget, int dx, int dy) {
    if (dx == 0 && dy == 0)
        return;
    widget->setGeometry(widget->geometry().translated(dx, dy));
}

} // namespace

void Window::ConstrainToScreen() {
    if (!mWindow)
        return;
    const QMargins margins = FrameMargins(mWindow);
    QRect frame = mWindow->geometry().marginsAdded(margins);
    QScreen* screen = ScreenFor(frame);
    if (!screen)
        return;
    QRect avail = screen->availableGeometry();
    // Move even when it does not fit: the top left stays reachable. A window
    // already on screen is left exactly where it is.
    int x = std::max(avail.left(), std::min(frame.left(), avail.right() + 1 - frame.width()));
    int y = std::max(avail.top(), std::min(frame.top(), avail.bottom() + 1 - frame.height()));
    MoveContent(mWindow, x - frame.left(), y - frame.top());
}

void Window::CascadeOn(const Window& parent) {
    if (!mWindow || !parent.mWindow)
        return;
    const QMargins margins = FrameMargins(mWindow);
    const QRect from = parent.mWindow->geometry();
    QScreen* screen = ScreenFor(from.marginsAdded(margins));
    if (!screen)
        return;
    const QRect avail = screen->availableGeometry();
    // One title bar down and right of the parent, so that both titles show.
    const int step = std::max(20, margins.top());
    QRect to = mWindow->geometry();
    to.moveTopLeft(from.topLeft() + QPoint(step, step));
    if (!avail.contains(to.marginsAdded(margins))) {
        // Off the bottom or the right: start again from the top left.
        to.moveTopLeft(avail.topLeft() + QPoint(margins.left() + step, margins.top() + step));
    }
    mWindow->setGeometry(FitInto(to, margins, avail, mWindow->minimumSize()));
    mPlaced = true;
}

void Window::CenterOn(const Window* owner) {
    if (!mWindow)
        return;
    const QMargins margins = FrameMargins(mWindow);
    QRect over;
    QScreen* screen = nullptr;
    if (owner && owner->mWindow && owner->mWindow->isVisible()) {
        over = owner->mWindow->geometry();
        screen = ScreenFor(owner->mWindow->frameGeometry());
    } else {
        screen = ScreenFor(mWindow->geometry().marginsAdded(margins));
        if (screen)
            over = screen->availableGeometry().marginsRemoved(margins);
    }
    if (!screen)
        return;
    QRect mine = mWindow->geometry();
    mine.moveCenter(over.center());
    mWindow->setGeometry(
        FitInto(mine, margins, screen->availableGeometry(), mWindow->minimumSize()));
    mPlaced = true;
}

void Window::ClearTexturedLook() {
    if (mWindow)
        mWindow->setProperty("textured", false);
}

bool Window::HasTexturedLook() const {
    return mWindow && mWindow->property("textured").toBool();
}

void Window::Close() {
    if (mClosePending)
        return;
    mClosePending = true;
    PostEvent(Ref(), Event(kEventClassWindow, kEventWindowClose));
}

void EnterNestedLoop() {
    ++gNestedDepth;
}

void LeaveNestedLoop() {
    if (--gNestedDepth > 0)
        return;
    if (gLastWindowCheckAfterLoops) {
        gLastWindowCheckAfterLoops = false;
        ScheduleLastWindowCheck();
    }
    std::vector<Window*> waiting;
    waiting.swap(DeferredCloses());
    for (Window* window : waiting)
        PostEvent(window->Ref(), Event(kEventClassWindow, kEventWindowClose));
}

int NestedLoopDepth() {
    return gNestedDepth;
}

void Window::DeliverClose() {
    // A close is handled once however often it was posted (by the callback
    // that asked, and again when the callback returned).
    if (!mClosePending)
        return;
    if (mBusy > 0)
        return; // Leave posts it again once the last callback has returned
    if (gNestedDepth > 0) {
        // Some callback below a sheet, alert or menu may belong to this window.
        if (std::find(DeferredCloses().begin(), DeferredCloses().end(), this) ==
            DeferredCloses().end())
            DeferredCloses().push_back(this);
        return;
    }
    mClosePending = false;
    try {
        DoWindowClose();
    } catch (...) {
        // An exception ends the event as handled.
    }
}

OSStatus Window::DoWindowClose() {
    delete this;
    return noErr;
}

void Window::InstallBoundsChangedHandler(WindowBoundsChangedDoer* handler) {
    mBoundsHandlers.push_back(handler);
}

void Window::InstallCursorChangeHandler(WindowCursorChangeDoer* handler) {
    mCursorHandlers.push_back(handler);
    ApplyCursorRule();
}

void Window::ApplyCursorRule() {
    if (!mWindow || mCursorHandlers.empty())
        return;
    // Qt shows a widget's cursor while the mouse is over it, so the rule is
    // asked once per control instead of on every move.
    for (QWidget* widget : mWindow->findChildren<QWidget*>()) {
        View* view = View::FromWidget(widget);
        if (!view)
            continue;
        ThemeCursor cursor = ThemeCursor::Arrow;
        for (auto it = mCursorHandlers.rbegin(); it != mCursorHandlers.rend(); ++it) {
            try {
                if ((*it)->DoWindowCursorChange(view, cursor) != eventNotHandledErr)
                    break;
            } catch (...) {
                break;
            }
        }
        widget->setCursor(cursor == ThemeCursor::IBeam ? Qt::IBeamCursor : Qt::ArrowCursor);
    }
}

void Window::SetDefaultButton(View* button) {
    auto* push = button ? dynamic_cast<PushButton*>(button) : nullptr;
    if (!push || !mWindow)
        throw OSError(paramErr, "SetWindowDefaultButton failed");
    push->SetDefault(true);
    if (qobject_cast<QDialog*>(mWindow))
        return; // dialogs press their default button on Return themselves
    // Elsewhere Return and Enter press it while it is enabled.
    QWidget* target = push->GetWidget();
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), mWindow);
        QObject::connect(shortcut, &QShortcut::activated, target, [target] {
            auto* pressable = qobject_cast<QAbstractButton*>(target);
            if (pressable && pressable->isEnabled() && pressable->isVisible())
                pressable->click();
        });
    }
}

void Window::SetCancelButton(View* button) {
    auto* push = button ? dynamic_cast<PushButton*>(button) : nullptr;
    if (!push || !mWindow)
        throw OSError(paramErr, "SetWindowCancelButton failed");
    if (qobject_cast<QDialog*>(mWindow))
        return; // sheets answer Escape with 'not!' already
    QWidget* target = push->GetWidget();
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), mWindow);
    QObject::connect(shortcut, &QShortcut::activated, target, [target] {
        auto* pressable = qobject_cast<QAbstractButton*>(target);
        if (pressable && pressable->isEnabled() && pressable->isVisible())
            pressable->click();
    });
}

void Window::Enter() {
    ++mBusy;
}

void Window::Leave() {
    if (--mBusy == 0 && mClosePending)
        PostEvent(Ref(), Event(kEventClassWindow, kEventWindowClose));
}

void Window::EnterHandler() {
    Enter();
}
void Window::LeaveHandler() {
    Leave();
}

Window::Busy::Busy(Window* window) : mWindow(window) {
    if (window) {
        mAlive = window->mAlive;
        window->Enter();
    }
}

Window::Busy::~Busy() {
    if (mWindow && !mAlive.expired())
        mWindow->Leave();
}

void DestroySysWindow(SysWindow window) {
    delete window;
}

// Sheets ---------------------------------------------------------------------

SheetWindow::~SheetWindow() {
    Hide();
}

void SheetWindow::Show(Window* parent) {
    QWidget* sheet = GetSysWindow();
    if (!sheet)
        return;
    Hide();
    if (parent && parent->GetSysWindow()) {
        mParentWindow = parent;
        mParentAlive = parent->mAlive;
        parent->Enter(); // a close of the parent waits for the sheet
        Qt::WindowFlags flags = sheet->windowFlags();
        sheet->setParent(parent->GetSysWindow(), flags | Qt::Dialog);
        sheet->setWindowModality(Qt::WindowModal);
        // Over the window it belongs to, so that with several windows open
        // the user sees which one asks (unless the program placed it).
        if (!WasPlaced())
            sheet->setGeometry(CentredOver(sheet, sheet->size(), parent->GetSysWindow()));
    } else {
        sheet->setWindowModality(Qt::ApplicationModal);
    }
    sheet->show();
    sheet->raise();
}

void SheetWindow::Hide() {
    // Hiding may deliver events (focus, activation) that end up here again.
    if (mHiding)
        return;
    mHiding = true;
    if (QWidget* sheet = GetSysWindow()) {
        if (sheet->isVisible())
            sheet->hide();
        // Off its parent again, so that the parent's going cannot take it.
        if (sheet->parentWidget())
            sheet->setParent(nullptr, sheet->windowFlags());
    }
    mHiding = false;
    if (mParentWindow) {
        Window* parent = mParentWindow;
        mParentWindow = nullptr;
        if (!mParentAlive.expired())
            parent->Leave();
    }
}

// Modal loops ----------------------------------------------------------------

OSStatus RunAppModalLoopForWindow(Window* window) {
    if (!window || !window->GetSysWindow())
        return paramErr;
    if (std::erase(EarlyQuits(), window) > 0)
        return noErr;
    ModalLoop loop;
    ModalLoops().push_back({window, &loop});
    {
        Window::Busy busy(window);
        NestedLoop nested;
        loop.Run();
    }
    std::erase_if(ModalLoops(), [&loop](const RunningLoop& m) { return m.loop == &loop; });
    return noErr;
}

OSStatus QuitAppModalLoopForWindow(Window* window) {
    if (!window)
        return noErr;
    auto& loops = ModalLoops();
    for (auto it = loops.rbegin(); it != loops.rend(); ++it) {
        if (it->window != window)
            continue;
        if (it->ending)
            return noErr; // answered already: a second Return, a late timer
        it->ending = true;
        it->loop->Quit();
        // The loop returns only once every loop started above it (another
        // window's sheet, say) has; the answer is given now, so the sheet
        // goes from the screen now and takes no further input. (Its Hide,
        // which also lets go of the parent, follows when the loop returns,
        // outside the event the answer came with.)
        if (dynamic_cast<SheetWindow*>(window) && window->IsVisible())
            window->GetSysWindow()->hide();
        return noErr;
    }
    if (std::find(EarlyQuits().begin(), EarlyQuits().end(), window) == EarlyQuits().end())
        EarlyQuits().push_back(window);
    return noErr;
}

int AppModalDepth() {
    return static_cast<int>(ModalLoops().size());
}

} // namespace PPx
