#include "common/history.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "foundation/civil_date.h"

namespace hv {

std::string historyTime(double unixTime) {
    constexpr double kFarthest = 1e15;
    if (!(std::fabs(unixTime) < kFarthest)) return "";
    const time_t t = static_cast<time_t>(std::floor(unixTime));
    struct tm local = {};
    if (localtime_r(&t, &local) == nullptr) return "";
    char text[64];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return std::string(text, length);
}

int shiftDay(int day, int days) {
    int64_t year = 0;
    unsigned month = 0, dayOfMonth = 0;
    civilFromDays(daysFromCivil(day / 10000, static_cast<unsigned>(day / 100 % 100), static_cast<unsigned>(day % 100)) +
                      days,
                  year, month, dayOfMonth);
    return static_cast<int>(year * 10000 + month * 100 + dayOfMonth);
}

std::string isoDay(int day) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day / 10000, day / 100 % 100, day % 100);
    return text;
}

}  // namespace hv
