// The floor under the daemon's CPU per tick: the daemon's run loop with its 5-second timer and
// nothing to do when it fires. scripts/bench runs it beside the daemon, under the same unit
// settings, and samples both alike, so that what waking up every 5 seconds costs on the machine at
// hand is told apart from the tick's own work. A reference for the benchmark, not a test.

#include <signal.h>

#include <memory>

#include "platform/linux/event_loop.h"

int main() {
    const std::unique_ptr<hv::EventLoop> loop = hv::EventLoop::create();
    if (!loop) return 1;
    // The daemon's tick interval.
    if (!loop->addTimer(5.0, [] {})) return 1;
    if (!loop->onSignal(SIGTERM, [&] { loop->exit(0); })) return 1;
    return loop->run() < 0 ? 1 : 0;
}
