// Preloaded into a program under test, shifts its wall clock by the whole number of seconds written
// in the file that HORAVEL_CLOCK_SHIFT_FILE names, read again on every call, so that a scenario can
// step the clock of a running daemon back and forth. Monotonic time, and so every timer, is left
// alone: libfaketime, the usual tool, also moves absolute monotonic timerfd deadlines, which stops an
// sd-event loop.

#include <dlfcn.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

long shiftSeconds() {
    const char* path = std::getenv("HORAVEL_CLOCK_SHIFT_FILE");
    std::FILE* file = path ? std::fopen(path, "re") : nullptr;
    long seconds = 0;
    if (file != nullptr) {
        if (std::fscanf(file, "%ld", &seconds) != 1) seconds = 0;
        std::fclose(file);
    }
    return seconds;
}

using ClockGettime = int (*)(clockid_t, struct timespec*);

}  // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec* ts) {
    static const auto real = reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, "clock_gettime"));
    const int result = real(clock, ts);
    if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE)) ts->tv_sec += shiftSeconds();
    return result;
}

extern "C" time_t time(time_t* out) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    if (out != nullptr) *out = now.tv_sec;
    return now.tv_sec;
}

extern "C" int gettimeofday(struct timeval* tv, void*) {
    struct timespec now {};
    const int result = clock_gettime(CLOCK_REALTIME, &now);
    tv->tv_sec = now.tv_sec;
    tv->tv_usec = now.tv_nsec / 1000;
    return result;
}
