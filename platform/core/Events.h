#pragma once
// Event targets, handlers and the main event queue.
//
// A target keeps, per (event class, kind), a stack of handlers: the newest
// runs first; a handler that answers eventNotHandledErr passes the event to the
// next one, then to the parent target (control -> window -> application). An
// exception escaping a handler is caught and the event counts as handled.
//
// Events may be posted to a target from any thread; they are delivered on the
// main thread, in the order they were posted, by the main event loop. A target
// being destroyed removes its own undelivered events, so no event reaches a
// dead target. Targets, handlers and SendEvent belong to the main thread.
#include "platform/core/Errors.h"
#include "platform/core/FourCharCode.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace PPx {

// Command events: class 'Pcmd', kind = the command code. Progress messages
// carry a file name and two signed 64-bit numbers.
constexpr FourCharCode kEventClassCommand = 'Pcmd';
constexpr FourCharCode kEventParamName = 'NAME';
constexpr FourCharCode kEventParamSize = 'SIZE';
constexpr FourCharCode kEventParamOffset = 'OFFS';

class Event {
public:
    Event() = default;
    Event(FourCharCode eventClass, FourCharCode kind) : mClass(eventClass), mKind(kind) {}

    FourCharCode Class() const { return mClass; }
    FourCharCode Kind() const { return mKind; }
    // For command events: the command code (same as the kind).
    FourCharCode Command() const { return mKind; }

    // Setting a parameter again replaces it (and its type).
    void SetString(FourCharCode tag, std::string value);
    void SetInteger(FourCharCode tag, int64_t value);
    // False, and `out` untouched, when the parameter is missing or of the other type.
    bool GetString(FourCharCode tag, std::string& out) const;
    bool GetInteger(FourCharCode tag, int64_t& out) const;
    // The string parameter in place (valid while the event lives), or null.
    const std::string* FindString(FourCharCode tag) const;
    bool HasParameter(FourCharCode tag) const;

private:
    struct Param {
        FourCharCode tag;
        bool isString;
        int64_t number;
        std::string text;
    };
    Param* Find(FourCharCode tag);
    const Param* Find(FourCharCode tag) const;

    FourCharCode mClass = 0;
    FourCharCode mKind = 0;
    std::vector<Param> mParams;
};

// Command event without parameters, and the progress form with 'NAME', 'SIZE', 'OFFS'.
Event MakeCommandEvent(FourCharCode command);
Event MakeCommandEvent(FourCharCode command, std::string name, int64_t size, int64_t offset);

// Answer noErr when handled, eventNotHandledErr to pass the event on.
using EventHandlerFunc = std::function<OSStatus(Event&)>;

namespace detail {
struct TargetCore;
struct HandlerRecord;
} // namespace detail

// An installed handler. Removing it (or destroying this object) takes it off its
// target; that is safe inside the handler itself and after the target is gone.
class [[nodiscard]] EventHandler {
public:
    EventHandler() = default;
    ~EventHandler();
    EventHandler(EventHandler&& other) noexcept;
    EventHandler& operator=(EventHandler&& other) noexcept;
    EventHandler(const EventHandler&) = delete;
    EventHandler& operator=(const EventHandler&) = delete;

    void Remove();
    bool IsInstalled() const;

private:
    friend class EventTarget;
    std::shared_ptr<detail::HandlerRecord> mRecord;
};

// A weak reference to a target that any thread may copy, compare and post to.
// Empty ("none") by default; posting to an empty or dead reference drops the event.
class EventTargetRef {
public:
    EventTargetRef() = default;
    explicit operator bool() const { return mId != 0; }
    bool operator==(const EventTargetRef& other) const { return mId == other.mId; }
    bool operator!=(const EventTargetRef& other) const { return mId != other.mId; }

private:
    friend class EventTarget;
    friend void PostEvent(const EventTargetRef&, Event, const void*);
    friend void RemovePostedEvents(const EventTargetRef&);
    std::weak_ptr<detail::TargetCore> mCore;
    uint64_t mId = 0;
};

class EventTarget {
public:
    explicit EventTarget(EventTarget* parent = nullptr);
    virtual ~EventTarget();
    EventTarget(const EventTarget&) = delete;
    EventTarget& operator=(const EventTarget&) = delete;

    void SetParent(EventTarget* parent);
    EventTarget* Parent() const;

    // The handler goes on top of the stack for (eventClass, kind).
    EventHandler InstallHandler(FourCharCode eventClass, FourCharCode kind,
                                EventHandlerFunc handler);
    // A handler for the command event 'Pcmd' / `command`.
    EventHandler InstallCommandHandler(FourCharCode command, EventHandlerFunc handler);

    // Dispatch at once (main thread): this target's handlers, then the parents'.
    // Returns eventNotHandledErr when nobody handled it.
    OSStatus SendEvent(Event& event);

    EventTargetRef Ref() const;

private:
    std::shared_ptr<detail::TargetCore> mCore;
};

// The application's target, the root every window hangs under. Lives for the
// whole program.
EventTarget& ApplicationTarget();

// Queue `event` for `target` on the main event queue (any thread). `sender` is an
// optional key for RemovePostedEventsFrom (a worker passes itself).
void PostEvent(const EventTargetRef& target, Event event, const void* sender = nullptr);
// Drop undelivered events (any thread; on the main thread the removal is exact,
// from another thread an event already being delivered still completes).
void RemovePostedEvents(const EventTargetRef& target);
void RemovePostedEventsFrom(const void* sender);
// Number of undelivered events (tests and diagnostics).
size_t PostedEventCount();

} // namespace PPx
