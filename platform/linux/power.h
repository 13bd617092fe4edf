#pragma once

// Sleep and wake through logind on the system bus. A "delay" inhibitor lock on "sleep" holds a
// coming sleep back until the daemon has recorded it; PrepareForSleep(true) is the will-sleep
// message and closing the lock's descriptor lets the sleep go ahead; PrepareForSleep(false) is
// the has-powered-on message, after which the lock is taken again for the next sleep.

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/linux/unique_fd.h"
#include "platform/system.h"

namespace hv {

class LogindPower {
  public:
    using Handler = std::function<void(PowerEvent)>;

    // Connects to the bus at `busAddress`, subscribes to logind's PrepareForSleep, takes the delay
    // lock and attaches the connection to `event`, whose loop then delivers the events to
    // `handler`. nullptr when the bus cannot be reached or logind does not grant the lock.
    static std::unique_ptr<LogindPower> connect(sd_event* event, const std::string& busAddress,
                                                Handler handler);
    ~LogindPower();
    LogindPower(const LogindPower&) = delete;
    LogindPower& operator=(const LogindPower&) = delete;

    // Lets a pending sleep go ahead by closing the lock's descriptor; nothing when none is held.
    void allowPowerChange();
    bool holdsLock() const { return static_cast<bool>(lock_); }

  private:
    explicit LogindPower(Handler handler) : handler_(std::move(handler)) {}
    bool takeLock();
    static int onPrepareForSleep(sd_bus_message* message, void* self, sd_bus_error* error);

    Handler handler_;
    sd_bus* bus_ = nullptr;
    sd_bus_slot* match_ = nullptr;
    UniqueFd lock_;
};

}  // namespace hv
