#include "platform/linux/power.h"

#include <fcntl.h>

namespace hv {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
// A sleep waits for the daemon's answer while it is busy (a forced logout blocks it for 15
// seconds); logind caps the delay itself, but a call to logind must never hang the daemon.
constexpr uint64_t kCallTimeoutUsec = 5'000'000;

}  // namespace

std::unique_ptr<LogindPower> LogindPower::connect(sd_event* event, const std::string& busAddress,
                                                  Handler handler) {
    std::unique_ptr<LogindPower> power(new LogindPower(std::move(handler)));
    if (sd_bus_new(&power->bus_) < 0) return nullptr;
    if (sd_bus_set_address(power->bus_, busAddress.c_str()) < 0 ||
        sd_bus_set_bus_client(power->bus_, 1) < 0 ||
        sd_bus_set_method_call_timeout(power->bus_, kCallTimeoutUsec) < 0 ||
        sd_bus_start(power->bus_) < 0) {
        return nullptr;
    }
    // Subscribe before taking the lock, so that no sleep can slip between the two.
    if (sd_bus_match_signal(power->bus_, &power->match_, kLogind, kLogindPath, kManager,
                            "PrepareForSleep", &LogindPower::onPrepareForSleep, power.get()) < 0) {
        return nullptr;
    }
    if (!power->takeLock()) return nullptr;
    if (sd_bus_attach_event(power->bus_, event, SD_EVENT_PRIORITY_NORMAL) < 0) return nullptr;
    return power;
}

LogindPower::~LogindPower() {
    sd_bus_slot_unref(match_);
    if (bus_) {
        sd_bus_detach_event(bus_);
        sd_bus_flush_close_unref(bus_);
    }
}

void LogindPower::allowPowerChange() { lock_.reset(); }

bool LogindPower::takeLock() {
    if (lock_) return true;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kLogind, kLogindPath, kManager, "Inhibit", &error, &reply,
                               "ssss", "sleep", "Horavel",
                               "Recording sleep and wake for the usage limits", "delay");
    sd_bus_error_free(&error);
    if (r < 0) return false;
    int fd = -1;
    // The descriptor belongs to the reply: duplicate it before the reply is freed.
    if (sd_bus_message_read(reply, "h", &fd) >= 0)
        lock_ = UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
    sd_bus_message_unref(reply);
    return static_cast<bool>(lock_);
}

int LogindPower::onPrepareForSleep(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* power = static_cast<LogindPower*>(self);
    // logind broadcasts PrepareForSleep, and the bus hands us broadcasts only from the owner of
    // logind's name. A signal addressed to us alone can come from any account on the bus: a
    // forged "will sleep" would drop the lock so that a real sleep goes unrecorded.
    if (sd_bus_message_get_destination(message) != nullptr) return 0;
    int start = 0;
    if (sd_bus_message_read(message, "b", &start) < 0) return 0;
    if (start) {
        power->handler_(PowerEvent::WillSleep);
    } else {
        // A failed re-take leaves the next sleep unguarded; the next wake tries again.
        power->takeLock();
        power->handler_(PowerEvent::HasPoweredOn);
    }
    return 0;
}

}  // namespace hv
