#pragma once

// The re-arming rule every run loop of the daemon follows, real or fake.

#include <cmath>
#include <type_traits>

namespace hv {

// The next due time of a repeating timer that was scheduled for `scheduled` and dispatched at
// `dispatched` (one clock and unit: seconds as double, or microseconds as an integer). The period
// is counted from the scheduled time, not from the dispatch, so a late dispatch does not push
// every later firing back. Firings missed because the loop was blocked for longer than an
// interval are not made up in a burst: the late dispatch stands for all of them, and the next
// firing is the first scheduled time after the dispatch.
template <typename T>
T nextDueTime(T scheduled, T interval, T dispatched) {
    static_assert(std::is_arithmetic_v<T>);
    T next = scheduled + interval;
    if (interval > 0 && next <= dispatched) {
        T missed = (dispatched - next) / interval;
        if constexpr (std::is_floating_point_v<T>) missed = std::floor(missed);
        next += missed * interval;
        while (next <= dispatched) next += interval;
    }
    return next;
}

}  // namespace hv
