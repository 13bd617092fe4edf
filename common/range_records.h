#pragma once

// The time-range and network-range records of a policy list, as the daemon and the login check read
// them. After the limit record at index a come `ranges` pairs of time-range records, then
// `netranges` pairs of network-range records; each record's weekday value is a minute of the day
// (hours * 60 + minutes), start in the first record of a pair and end in the second.

#include <cstdint>

#include "foundation/value.h"

namespace hv {

struct DayRange {
    uint32_t start = 0;
    uint32_t end = 0;
    bool unset() const { return start == 0 && end == 0; }
    // Whether a time range takes part on its day. Without the daily allowance beside the ranges
    // (keeplimit 0) an unset range means "no range that day"; with it, an unset range is the range
    // of minute 0 alone.
    bool counts(bool keeplimit) const { return !unset() || keeplimit; }
    // Both ends are inclusive, compared unsigned: a range whose start lies after its end holds no
    // minute (a range over midnight is two ranges, one ending at 23:59 and one starting at 00:00).
    bool holds(uint32_t minute) const { return start <= minute && minute <= end; }
};

// The ranges to look at: `count` pairs beginning at list index `first`, for weekday `day`
// (0 = Sunday). A record that is missing from the list, or is not a policy record, reads as a
// range whose values are all 0.
class RangeList {
  public:
    RangeList(const Array& list, int64_t first, int32_t count, int day);

    // How many ranges need looking at. Past the end of the list every range reads as the same
    // all-zero range, so a count larger than the list can hold is cut to the ranges the list
    // holds plus one all-zero range: the outcome is the same, and a hostile count cannot make a
    // tick loop for billions of steps.
    int64_t size() const { return size_; }
    DayRange operator[](int64_t i) const;

  private:
    const Array& list_;
    int64_t first_;
    int64_t size_;
    int day_;
};

}  // namespace hv
