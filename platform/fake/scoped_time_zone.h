#pragma once

// ScopedTimeZone: sets TZ for the life of the object, so that local-time tests give the same
// answer on every machine, and restores the previous TZ (or its absence) afterwards.

#include <optional>
#include <string>

namespace hv {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& zone);  // e.g. "UTC", "Europe/Berlin", "EST5EDT"
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

}  // namespace hv
