#include "platform/core/Events.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>

namespace PPx {

// ---------------------------------------------------------------- Event

Event::Param* Event::Find(FourCharCode tag) {
    for (auto& p : mParams)
        if (p.tag == tag)
            return &p;
    return nullptr;
}

const Event::Param* Event::Find(FourCharCode tag) const {
    for (auto& p : mParams)
        if (p.tag == tag)
            return &p;
    return nullptr;
}

void Event::SetString(FourCharCode tag, std::string value) {
    Param* p = Find(tag);
    if (!p)
        p = &mParams.emplace_back();
    p->tag = tag;
    p->isString = true;
    p->number = 0;
    p->text = std::move(value);
}

void Event::SetInteger(FourCharCode tag, int64_t value) {
    Param* p = Find(tag);
    if (!p)
        p = &mParams.emplace_back();
    p->tag = tag;
    p->isString = false;
    p->number = value;
    p->text.clear();
}

bool Event::GetString(FourCharCode tag, std::string& out) const {
    const std::string* s = FindString(tag);
    if (!s)
        return false;
    out = *s;
    return true;
}

bool Event::GetInteger(FourCharCode tag, int64_t& out) const {
    const Param* p = Find(tag);
    if (!p || p->isString)
        return false;
    out = p->number;
    return true;
}

const std::string* Event::FindString(FourCharCode tag) const {
    const Param* p = Find(tag);
    return p && p->isString ? &p->text : nullptr;
}

bool Event::HasParameter(FourCharCode tag) const {
    return Find(tag) != nullptr;
}

Event MakeCommandEvent(FourCharCode command) {
    return Event(kEventClassCommand, command);
}

Event MakeCommandEvent(FourCharCode command, std::string name, int64_t size, int64_t offset) {
    Event event(kEventClassCommand, command);
    event.SetString(kEventParamName, std::move(name));
    event.SetInteger(kEventParamSize, size);
    event.SetInteger(kEventParamOffset, offset);
    return event;
}

// ---------------------------------------------------------------- targets

namespace detail {

struct HandlerRecord {
    FourCharCode eventClass;
    FourCharCode kind;
    EventHandlerFunc func;
    bool removed = false;
    std::weak_ptr<TargetCore> target;
};

struct TargetCore {
    uint64_t id = 0;
    EventTarget* owner = nullptr;
    bool dead = false;
    std::weak_ptr<TargetCore> parent;
    // Oldest first; dispatch walks from the back.
    std::vector<std::shared_ptr<HandlerRecord>> handlers;
};

} // namespace detail

namespace {

std::atomic<uint64_t> gNextTargetId{1};

void Unlink(const std::shared_ptr<detail::HandlerRecord>& record) {
    if (!record || record->removed)
        return;
    record->removed = true;
    if (auto core = record->target.lock()) {
        auto& list = core->handlers;
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (*it == record) {
                list.erase(it);
                break;
            }
        }
    }
    // Whatever the handler captured goes now, not when the last copy of the
    // dispatch snapshot goes.
    record->func = nullptr;
}

OSStatus Dispatch(std::shared_ptr<detail::TargetCore> core, Event& event) {
    std::vector<std::shared_ptr<detail::HandlerRecord>> matching;
    while (core && !core->dead) {
        matching.clear();
        for (auto it = core->handlers.rbegin(); it != core->handlers.rend(); ++it)
            if ((*it)->eventClass == event.Class() && (*it)->kind == event.Kind())
                matching.push_back(*it);
        for (auto& record : matching) {
            if (record->removed)
                continue;
            // Keep the function alive even if the handler removes itself.
            EventHandlerFunc func = record->func;
            OSStatus status;
            try {
                status = func(event);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "zarvel: handler for '%s' failed: %s\n",
                             FourCharCodeToString(event.Kind()).c_str(), e.what());
                status = noErr;
            } catch (...) {
                status = noErr;
            }
            if (status != eventNotHandledErr)
                return status;
            if (core->dead)
                return eventNotHandledErr;
        }
        core = core->parent.lock();
    }
    return eventNotHandledErr;
}

} // namespace

EventHandler::~EventHandler() {
    Remove();
}

EventHandler::EventHandler(EventHandler&& other) noexcept : mRecord(std::move(other.mRecord)) {}

EventHandler& EventHandler::operator=(EventHandler&& other) noexcept {
    if (this != &other) {
        Remove();
        mRecord = std::move(other.mRecord);
    }
    return *this;
}

void EventHandler::Remove() {
    Unlink(mRecord);
    mRecord.reset();
}

bool EventHandler::IsInstalled() const {
    return mRecord && !mRecord->removed;
}

EventTarget::EventTarget(EventTarget* parent) : mCore(std::make_shared<detail::TargetCore>()) {
    mCore->id = gNextTargetId.fetch_add(1);
    mCore->owner = this;
    SetParent(parent);
}

EventTarget::~EventTarget() {
    mCore->dead = true;
    mCore->owner = nullptr;
    RemovePostedEvents(Ref());
    for (auto& record : mCore->handlers) {
        record->removed = true;
        record->func = nullptr;
    }
    mCore->handlers.clear();
}

void EventTarget::SetParent(EventTarget* parent) {
    mCore->parent = parent ? parent->mCore : std::weak_ptr<detail::TargetCore>();
}

EventTarget* EventTarget::Parent() const {
    auto parent = mCore->parent.lock();
    return parent ? parent->owner : nullptr;
}

EventHandler EventTarget::InstallHandler(FourCharCode eventClass, FourCharCode kind,
                                         EventHandlerFunc handler) {
    auto record = std::make_shared<detail::HandlerRecord>();
    record->eventClass = eventClass;
    record->kind = kind;
    record->func = std::move(handler);
    record->target = mCore;
    mCore->handlers.push_back(record);
    EventHandler result;
    result.mRecord = std::move(record);
    return result;
}

EventHandler EventTarget::InstallCommandHandler(FourCharCode command, EventHandlerFunc handler) {
    return InstallHandler(kEventClassCommand, command, std::move(handler));
}

OSStatus EventTarget::SendEvent(Event& event) {
    return Dispatch(mCore, event);
}

EventTargetRef EventTarget::Ref() const {
    EventTargetRef ref;
    ref.mCore = mCore;
    ref.mId = mCore->id;
    return ref;
}

EventTarget& ApplicationTarget() {
    // Never destroyed: posted events and handlers may refer to it until exit.
    static EventTarget* target = new EventTarget();
    return *target;
}

// ---------------------------------------------------------------- main event queue
//
// One ordered queue of our own; the Qt event loop is only told that there is
// work ("wake"). A wake delivers a batch; before each delivery a further wake
// is made sure of while events remain, so that a handler that runs a nested
// loop (a sheet) still sees the events behind its own.

namespace {

struct Posted {
    std::weak_ptr<detail::TargetCore> target;
    uint64_t targetId;
    const void* sender;
    Event event;
};

const QEvent::Type kWakeEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
constexpr int kBatch = 64;

class Dispatcher : public QObject {
protected:
    void customEvent(QEvent* event) override;
};

struct PostQueue {
    std::mutex mutex;
    std::deque<Posted> queue;
    bool wakePending = false;
    Dispatcher* dispatcher = nullptr;

    // Under `mutex`.
    void WakeLocked() {
        if (wakePending)
            return;
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return; // a later post or loop start wakes it
        if (!dispatcher) {
            dispatcher = new Dispatcher();
            if (dispatcher->thread() != app->thread())
                dispatcher->moveToThread(app->thread());
        }
        wakePending = true;
        QCoreApplication::postEvent(dispatcher, new QEvent(kWakeEventType));
    }

    void Drain() {
        {
            std::lock_guard lock(mutex);
            wakePending = false;
        }
        for (int i = 0; i < kBatch; ++i) {
            Posted posted;
            {
                std::lock_guard lock(mutex);
                if (queue.empty())
                    return;
                posted = std::move(queue.front());
                queue.pop_front();
                if (!queue.empty())
                    WakeLocked();
            }
            auto core = posted.target.lock();
            if (core && !core->dead)
                Dispatch(std::move(core), posted.event);
        }
    }
};

PostQueue& Queue() {
    // Never destroyed: worker threads may still post while the program exits.
    static PostQueue* queue = new PostQueue();
    return *queue;
}

void Dispatcher::customEvent(QEvent* event) {
    if (event->type() == kWakeEventType)
        Queue().Drain();
}

} // namespace

namespace detail {
// Called when a loop starts, for events posted before the application existed.
void WakePostedEvents() {
    PostQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    if (!q.queue.empty())
        q.WakeLocked();
}
} // namespace detail

void PostEvent(const EventTargetRef& target, Event event, const void* sender) {
    if (!target || target.mCore.expired())
        return;
    PostQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    q.queue.push_back(Posted{target.mCore, target.mId, sender, std::move(event)});
    q.WakeLocked();
}

void RemovePostedEvents(const EventTargetRef& target) {
    if (!target)
        return;
    PostQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    std::erase_if(q.queue, [&](const Posted& p) { return p.targetId == target.mId; });
}

void RemovePostedEventsFrom(const void* sender) {
    if (!sender)
        return;
    PostQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    std::erase_if(q.queue, [&](const Posted& p) { return p.sender == sender; });
}

size_t PostedEventCount() {
    PostQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    return q.queue.size();
}

} // namespace PPx
