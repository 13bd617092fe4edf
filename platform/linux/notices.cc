#include "platform/linux/notices.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "platform/linux/clock.h"
#include "platform/linux/session_bus.h"

namespace hv {

namespace {

constexpr uint64_t kCallTimeoutUsec = 5'000'000;
// No notice is meant to outlive a day; the cap also keeps the milliseconds inside an int32.
constexpr double kLongestTimeout = 86400;

double boundedTimeout(double seconds) {
    if (!(seconds > 0)) return 0;
    return std::min(seconds, kLongestTimeout);
}

bool dropTo(uid_t uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[16384];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return false;
    // Groups first: once the uid is dropped the process may no longer change them.
    return initgroups(entry.pw_name, entry.pw_gid) == 0 && setgid(entry.pw_gid) == 0 &&
           setuid(uid) == 0 && getuid() == uid && geteuid() == uid;
}

}  // namespace

bool deliverNotice(const std::string& busAddress, const Notice& notice) {
    BusPtr bus = connectBus(busAddress, kCallTimeoutUsec);
    if (!bus) return false;
    const double timeout = boundedTimeout(notice.timeout);
    const auto timeoutMs = static_cast<int32_t>(std::lround(timeout * 1000));
    const uint8_t urgency = notice.level == NoticeLevel::Caution ? 1 : 2;

    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus.get(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                               "org.freedesktop.Notifications", "Notify", &error, &reply,
                               "susssasa{sv}i", "Horavel", uint32_t{0}, "", notice.header.c_str(),
                               notice.message.c_str(), 0, 1, "urgency", "y", urgency, timeoutMs);
    sd_bus_error_free(&error);
    if (r < 0) return false;
    uint32_t id = 0;
    r = sd_bus_message_read(reply, "u", &id);
    sd_bus_message_unref(reply);
    if (r < 0) return false;

    if (timeout > 0) {
        sleepSeconds(timeout);
        sd_bus_call_method(bus.get(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", "CloseNotification", nullptr, nullptr, "u", id);
    }
    return true;
}

void showNoticeAs(uid_t uid, const std::string& runtimeRoot, const Notice& notice) {
    const std::string address = "unix:path=" + runtimeRoot + "/" + std::to_string(uid) + "/bus";
    const pid_t child = fork();
    if (child < 0) return;
    if (child == 0) {
        // The intermediate child: forks the worker and exits, so the worker is reparented and
        // the daemon has nothing to reap later.
        const pid_t worker = fork();
        if (worker != 0) _exit(0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        close_range(3, ~0U, 0);
        if (!dropTo(uid)) _exit(1);
        _exit(deliverNotice(address, notice) ? 0 : 1);
    }
    while (waitpid(child, nullptr, 0) == -1 && errno == EINTR) {
    }
}

}  // namespace hv
