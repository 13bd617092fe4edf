#include "platform/linux/event_loop.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/timer_schedule.h"

namespace hv {
namespace {

TEST(NextDueTime, CountsFromTheScheduledTimeAndSkipsMissedFirings) {
    struct Case {
        double scheduled, interval, dispatched, next;
    } cases[] = {
        {5, 5, 5, 10},        // on time
        {5, 5, 5.3, 10},      // dispatched late: no drift
        {5, 5, 9.99, 10},     // nearly an interval late: still the next slot
        {5, 5, 10, 15},       // the slot at 10 passed while dispatching: skipped
        {5, 5, 22, 25},       // blocked for 17 s: one firing stands for the missed ones
        {100, 900, 5000, 5500},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(nextDueTime(c.scheduled, c.interval, c.dispatched), c.next)
            << c.scheduled << " " << c.interval << " " << c.dispatched;
    }
    EXPECT_EQ(nextDueTime<uint64_t>(5'000'000, 5'000'000, 22'000'001), 25'000'000u);
    EXPECT_EQ(nextDueTime<uint64_t>(5'000'000, 5'000'000, 5'000'100), 10'000'000u);
}

TEST(EventLoop, RunReturnsAtOnceWithNothingToWaitFor) {
    auto loop = EventLoop::create();
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->run(), 0);
}

// Bounded real loops: 20 ms timers, and a guard timer that ends a loop that would otherwise hang.
class EventLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGUSR1);
        sigaddset(&signals_, SIGUSR2);
        sigprocmask(SIG_BLOCK, &signals_, &previous_);
        loop_ = EventLoop::create();
        ASSERT_NE(loop_, nullptr);
        ASSERT_TRUE(loop_->addTimer(5.0, [this] { loop_->exit(kTimedOut); }));
    }
    void TearDown() override {
        loop_.reset();
        sigprocmask(SIG_SETMASK, &previous_, nullptr);
    }

    static constexpr int kTimedOut = 99;
    std::unique_ptr<EventLoop> loop_;
    sigset_t signals_;
    sigset_t previous_;
};

TEST_F(EventLoopTest, TimerRepeatsUntilTheLoopExits) {
    int fired = 0;
    ASSERT_TRUE(loop_->addTimer(0.02, [&] {
        if (++fired == 3) loop_->exit(0);
    }));
    EXPECT_EQ(loop_->run(), 0);
    EXPECT_EQ(fired, 3);
}

TEST_F(EventLoopTest, SignalRaisedInsideACallbackRunsAfterIt) {
    std::vector<std::string> order;
    ASSERT_TRUE(loop_->onSignal(SIGUSR1, [&] {
        order.push_back("usr1");
        loop_->exit(0);
    }));
    bool raised = false;
    ASSERT_TRUE(loop_->addTimer(0.02, [&] {
        if (raised) return;
        raised = true;
        order.push_back("tick-start");
        kill(getpid(), SIGUSR1);
        order.push_back("tick-end");
    }));
    EXPECT_EQ(loop_->run(), 0);
    EXPECT_EQ(order, (std::vector<std::string>{"tick-start", "tick-end", "usr1"}));
}

TEST_F(EventLoopTest, ReadableDescriptorIsHandledBeforeATimerDueAtTheSameWakeUp) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::vector<std::string> order;
    ASSERT_TRUE(loop_->onReadable(fds[0], [&] {
        char byte;
        ASSERT_EQ(read(fds[0], &byte, 1), 1);
        order.push_back("readable");
    }));
    // Due before the loop first waits, as the descriptor is readable.
    ASSERT_TRUE(loop_->addTimer(1e-6, [&] {
        order.push_back("tick");
        loop_->exit(0);
    }));
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_EQ(loop_->run(), 0);
    EXPECT_EQ(order, (std::vector<std::string>{"readable", "tick"}));
    loop_.reset();
    close(fds[0]);
    close(fds[1]);
}

TEST_F(EventLoopTest, SignalPendingBeforeRegistrationIsDiscarded) {
    kill(getpid(), SIGUSR2);  // blocked, so it stays pending
    sigset_t pending;
    sigpending(&pending);
    ASSERT_TRUE(sigismember(&pending, SIGUSR2));

    std::vector<int> deliveredOnTick;
    int ticks = 0;
    ASSERT_TRUE(loop_->onSignal(SIGUSR2, [&] {
        deliveredOnTick.push_back(ticks);
        loop_->exit(0);
    }));
    // The second tick sends a fresh one: it alone must arrive.
    ASSERT_TRUE(loop_->addTimer(0.02, [&] {
        if (++ticks == 2) kill(getpid(), SIGUSR2);
    }));
    EXPECT_EQ(loop_->run(), 0);
    EXPECT_EQ(deliveredOnTick, (std::vector<int>{2}));
}

}  // namespace
}  // namespace hv
