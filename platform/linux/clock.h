#pragma once

// The wall clock and the blocking sleep of the daemon's thread.

namespace hv {

// Seconds since the Unix epoch, with fractions (CLOCK_REALTIME).
double wallClockNow();
// Seconds of CLOCK_MONOTONIC: never stepped, stopped during suspend.
double monotonicClockNow();
// Blocks for `seconds`, resuming after any interruption until the whole time has passed.
void sleepSeconds(double seconds);

}  // namespace hv
