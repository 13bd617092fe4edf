#include "platform/linux/clock.h"

#include <cerrno>
#include <cmath>
#include <ctime>

namespace hv {

double wallClockNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double monotonicClockNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void sleepSeconds(double seconds) {
    if (!(seconds > 0)) return;
    struct timespec remaining {};
    const double whole = std::floor(seconds);
    remaining.tv_sec = static_cast<time_t>(whole);
    remaining.tv_nsec = static_cast<long>((seconds - whole) * 1e9);
    // A signal handler (say, a sanitizer's or a debugger's) may cut the sleep short; the 15 s
    // before a logout must still be 15 s.
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}

}  // namespace hv
