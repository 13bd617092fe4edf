#include <cstdio>
#include <utility>

#include "daemon/monitor.h"

namespace hv {

namespace {

std::string clockText(int32_t minutes) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", minutes / 60, minutes % 60);
    return text;
}

}  // namespace

void Monitor::makeMessage(const std::optional<std::string>& templ) {
    // Absent values (nobody at the console, no application looked at yet, no template in the
    // settings) read as empty text.
    const std::pair<const char*, std::string> placeholders[] = {
        {"%u", user.value_or("")},
        {"%a", appname.value_or("")},
        {"%w", std::to_string(static_cast<int32_t>(warntime))},
        {"%m", std::to_string(static_cast<int32_t>(rmin))},
        {"%l", std::to_string(static_cast<int32_t>(armin))},
        {"%sr", clockText(starttime)},
        {"%er", clockText(endtime)},
        {"%g", std::to_string(grantmin)},
    };
    std::string text = templ.value_or("");
    // Only the first occurrence of each placeholder is replaced, and each search runs on the
    // text as the earlier replacements left it.
    for (const auto& [placeholder, value] : placeholders) {
        const std::string key = placeholder;
        if (const size_t at = text.find(key); at != std::string::npos) {
            text.replace(at, key.size(), value);
        }
    }
    message = std::move(text);
}

}  // namespace hv
