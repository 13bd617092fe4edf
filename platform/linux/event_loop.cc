#include "platform/linux/event_loop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>

#include <algorithm>
#include <cmath>
#include <ctime>

#include "platform/timer_schedule.h"

namespace hv {

namespace {

// The loop may coalesce wake-ups within this window; 1 ms keeps ticks on time without waking the
// machine more than the timers themselves ask for.
constexpr uint64_t kAccuracyUsec = 1000;

// Far beyond any period the daemon asks for, and far from overflowing when added to a
// monotonic timestamp.
constexpr double kLongestInterval = 1e12;

uint64_t toUsec(double seconds) {
    if (!(seconds > 0)) return 1;
    return static_cast<uint64_t>(std::llround(std::min(seconds, kLongestInterval) * 1e6));
}

}  // namespace

std::unique_ptr<EventLoop> EventLoop::create() {
    sd_event* event = nullptr;
    if (sd_event_new(&event) < 0) return nullptr;
    return std::unique_ptr<EventLoop>(new EventLoop(event));
}

EventLoop::~EventLoop() {
    for (auto& timer : timers_) sd_event_source_disable_unref(timer->source);
    for (auto& signal : signals_) sd_event_source_disable_unref(signal->source);
    for (auto& readable : readables_) sd_event_source_disable_unref(readable->source);
    sd_event_unref(event_);
}

bool EventLoop::addTimer(double interval, std::function<void()> action) {
    auto timer = std::make_unique<Timer>();
    timer->intervalUsec = toUsec(interval);
    timer->action = std::move(action);
    uint64_t now = 0;
    if (sd_event_now(event_, CLOCK_MONOTONIC, &now) < 0) return false;
    timer->scheduledUsec = now + timer->intervalUsec;
    if (sd_event_add_time(event_, &timer->source, CLOCK_MONOTONIC, timer->scheduledUsec,
                          kAccuracyUsec, &EventLoop::onTimer, timer.get()) < 0) {
        return false;
    }
    timers_.push_back(std::move(timer));
    return true;
}

int EventLoop::onTimer(sd_event_source* source, uint64_t usec, void* userdata) {
    auto* timer = static_cast<Timer*>(userdata);
    (void)usec;
    uint64_t dispatched = timer->scheduledUsec;
    sd_event_now(sd_event_source_get_event(source), CLOCK_MONOTONIC, &dispatched);
    timer->action();
    // The next firing comes from the scheduled time, so the period does not drift by the
    // dispatch delay or by how long the action ran.
    timer->scheduledUsec = nextDueTime(timer->scheduledUsec, timer->intervalUsec, dispatched);
    sd_event_source_set_time(source, timer->scheduledUsec);
    sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
    return 0;
}

bool EventLoop::onSignal(int signo, std::function<void()> action) {
    for (auto& signal : signals_) {
        if (signal->signo == signo) {
            signal->action = std::move(action);
            return true;
        }
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) < 0) return false;
    // A blocked signal stays pending until consumed; take every pending instance now so that the
    // new source does not report a signal sent before its action existed.
    const struct timespec noWait {};
    while (sigtimedwait(&set, nullptr, &noWait) == signo) {
    }

    auto entry = std::make_unique<Signal>();
    entry->signo = signo;
    entry->action = std::move(action);
    if (sd_event_add_signal(event_, &entry->source, signo, &EventLoop::onSignalInfo, entry.get()) < 0) {
        return false;
    }
    signals_.push_back(std::move(entry));
    return true;
}

int EventLoop::onSignalInfo(sd_event_source*, const struct signalfd_siginfo*, void* userdata) {
    static_cast<Signal*>(userdata)->action();
    return 0;
}

bool EventLoop::onReadable(int fd, std::function<void()> action) {
    auto entry = std::make_unique<Readable>();
    entry->action = std::move(action);
    if (sd_event_add_io(event_, &entry->source, fd, EPOLLIN, &EventLoop::onIo, entry.get()) < 0) return false;
    // sd-event dispatches one source per iteration, the most important first: a descriptor that
    // became readable before a timer fired is handled before the timer's action.
    if (sd_event_source_set_priority(entry->source, SD_EVENT_PRIORITY_IMPORTANT) < 0) {
        sd_event_source_disable_unref(entry->source);
        return false;
    }
    readables_.push_back(std::move(entry));
    return true;
}

int EventLoop::onIo(sd_event_source*, int, uint32_t, void* userdata) {
    static_cast<Readable*>(userdata)->action();
    return 0;
}

int EventLoop::run() {
    if (timers_.empty() && signals_.empty()) return 0;
    return sd_event_loop(event_);
}

void EventLoop::exit(int code) { sd_event_exit(event_, code); }

}  // namespace hv
