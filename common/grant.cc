#include "common/grant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>

namespace hv {

std::string formatGrant(const Grant& grant) {
    return std::to_string(grant.day) + " " + std::to_string(grant.minutes) + "\n";
}

std::optional<Grant> parseGrant(std::string_view text) {
    if (text.empty() || text.back() != '\n') return std::nullopt;
    text.remove_suffix(1);
    const size_t space = text.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    Grant grant;
    const char* end = text.data() + space;
    auto day = std::from_chars(text.data(), end, grant.day);
    if (day.ec != std::errc() || day.ptr != end || grant.day < 10000101 || grant.day > 99991231) return std::nullopt;
    const char* minutesEnd = text.data() + text.size();
    auto minutes = std::from_chars(end + 1, minutesEnd, grant.minutes);
    if (minutes.ec != std::errc() || minutes.ptr != minutesEnd || minutes.ptr == end + 1) return std::nullopt;
    return grant;
}

int localDay(double unixTime) {
    constexpr double kFarthest = 1e15;
    if (!(std::fabs(unixTime) < kFarthest)) return 0;
    const time_t t = static_cast<time_t>(std::floor(unixTime));
    struct tm local = {};
    if (localtime_r(&t, &local) == nullptr) return 0;
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

int32_t grantFor(const std::optional<Grant>& grant, int today) {
    return grant && today != 0 && grant->day == today ? grant->minutes : 0;
}

uint32_t grantedAllowance(uint32_t allowance, int32_t granted) {
    if (allowance == 0) return 0;
    const int64_t total = static_cast<int64_t>(allowance) + granted;
    return static_cast<uint32_t>(std::clamp<int64_t>(total, 0, UINT32_MAX));
}

int32_t lowestGrant(uint32_t allowance) {
    return -static_cast<int32_t>(std::min<uint32_t>(allowance, INT32_MAX));
}

}  // namespace hv
