#pragma once

// EventLoop: the daemon's run loop on sd-event. Timers run on CLOCK_MONOTONIC (they stand still
// during suspend) and repeat from their scheduled time; signals arrive through signal sources, so
// their actions run between callbacks, never inside one.
//
// sd-event objects do not survive fork(): create the loop in the process that runs it, after the
// daemon has detached.

#include <systemd/sd-event.h>

#include <functional>
#include <memory>
#include <vector>

namespace hv {

class EventLoop {
public:
    // nullptr when sd-event cannot set up its epoll instance.
    static std::unique_ptr<EventLoop> create();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // A repeating timer; the first firing one interval from now. False when it cannot be added.
    bool addTimer(double interval, std::function<void()> action);
    // Delivers `signo` to `action` on the loop. The signal is blocked in the calling thread (a
    // signal source needs that), and any instance already pending is discarded first: signals
    // sent before anyone could act on them are dropped, not replayed. Registering the same
    // signal again replaces the action.
    bool onSignal(int signo, std::function<void()> action);
    // Runs `action` whenever `fd` is readable, before any timer due at the same wake-up. False
    // when it cannot be added. The descriptor stays the caller's and must outlive the loop.
    bool onReadable(int fd, std::function<void()> action);
    // Runs until exit() is called or the loop fails; the exit code, or a negative errno. With no
    // timer and no signal registered there is nothing to wait for: returns 0 at once.
    int run();
    void exit(int code);

    sd_event* event() const { return event_; }

private:
    struct Timer {
        sd_event_source* source = nullptr;
        uint64_t intervalUsec = 0;
        uint64_t scheduledUsec = 0;
        std::function<void()> action;
    };
    struct Signal {
        sd_event_source* source = nullptr;
        int signo = 0;
        std::function<void()> action;
    };
    struct Readable {
        sd_event_source* source = nullptr;
        std::function<void()> action;
    };
    explicit EventLoop(sd_event* event) : event_(event) {}
    static int onTimer(sd_event_source* source, uint64_t usec, void* userdata);
    static int onSignalInfo(sd_event_source* source, const struct signalfd_siginfo* info,
                            void* userdata);
    static int onIo(sd_event_source* source, int fd, uint32_t events, void* userdata);

    sd_event* event_;
    std::vector<std::unique_ptr<Timer>> timers_;
    std::vector<std::unique_ptr<Signal>> signals_;
    std::vector<std::unique_ptr<Readable>> readables_;
};

}  // namespace hv
