#include "daemon/monitor_fixture.h"

namespace hv::test {
namespace {

using Words = std::array<int32_t, 4>;

class ChannelTest : public MonitorTest {
protected:
    ChannelTest() {
        sys.login("kid");
        monitor = std::make_unique<Monitor>(sys, config);
        monitor->rmin = 12;
        monitor->rminsec = 30;
        monitor->nrmin = static_cast<uint32_t>(-2);
    }
};

TEST_F(ChannelTest, ShowremainAndHideremainDecideWhatIsWritten) {
    struct Case {
        uint32_t showremain, hideremain, rmin, rminsec;
        bool timeLimited, warning;
        Words expected;
    };
    const Case cases[] = {
        {0, 0, 12, 30, true, false, {-1, -1, 0, -1}},
        {0, 1, 0, 30, false, true, {-1, -1, 1, -1}},
        {1, 1, 0, 30, false, false, {-1, -2, 0, 30}},  // no allowance today: hidden
        {1, 1, 12, 30, true, false, {12, -2, 0, 30}},
        {1, 1, 0, 30, true, false, {0, -2, 0, 30}},    // the last minute is shown
        {1, 1, 0, 0, true, true, {0, -2, 3, 0}},       // no time left: marked, shown
        {1, 0, 0, 0, true, false, {0, -2, 2, 0}},
        {0, 0, 0, 0, true, true, {-1, -1, 1, -1}},     // nothing shown, nothing marked
        {1, 2, 0, 30, false, true, {0, -2, 1, 30}},
        {7, 0, 12, 30, true, false, {12, -2, 0, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "showremain " << c.showremain << " hideremain "
                                        << c.hideremain << " rmin " << c.rmin << ":"
                                        << c.rminsec << " limited " << c.timeLimited);
        monitor->showremain = c.showremain;
        monitor->hideremain = c.hideremain;
        monitor->rmin = c.rmin;
        monitor->rminsec = c.rminsec;
        monitor->timeLimited = c.timeLimited;
        monitor->warning = c.warning;
        monitor->showRemain();
        EXPECT_EQ(sys.channel->words, c.expected);
    }
    EXPECT_EQ(sys.channel->unlockedWrites, 0);
    EXPECT_EQ(sys.channel->unlocks, 10);
    EXPECT_FALSE(sys.channel->locked);
}

TEST_F(ChannelTest, SemaphoreHeldElsewhereSkipsTheWrite) {
    monitor->showremain = 1;
    monitor->showRemain();
    ASSERT_EQ(sys.channel->writes.size(), 1u);
    sys.channel->heldElsewhere = true;
    monitor->rmin = 3;
    monitor->showRemain();
    EXPECT_EQ(sys.channel->writes.size(), 1u);
    EXPECT_EQ(sys.channel->words[0], 12);
    sys.channel->heldElsewhere = false;
    monitor->showRemain();
    EXPECT_EQ(sys.channel->words[0], 3);
}

TEST_F(ChannelTest, EmptyConsoleNameWritesNothingButAbsentNameDoes) {
    monitor->showremain = 1;
    sys.session->userName = "";
    monitor->showRemain();
    EXPECT_TRUE(sys.channel->writes.empty());
    sys.logout();
    monitor->showRemain();
    EXPECT_EQ(sys.channel->writes.size(), 1u);
}

TEST(ChannelOpenTest, NoChannelMeansNothingIsPublishedAndTheDaemonRuns) {
    ScopedTimeZone zone("UTC");
    FakeSystem sys;
    sys.openChannelFails = true;
    Config config;
    Monitor monitor(sys, config);
    EXPECT_EQ(monitor.sharedMem, nullptr);
    monitor.showremain = 1;
    monitor.showRemain();
    EXPECT_TRUE(sys.channel->writes.empty());
    EXPECT_EQ(sys.channel->key, 0);
}

TEST(ChannelOpenTest, OpensTheConfiguredSegmentAndSemaphore) {
    FakeSystem sys;
    Config config;
    config.shmKey = 4242;
    config.semaphoreName = "4242";
    Monitor monitor(sys, config);
    ASSERT_NE(monitor.sharedMem, nullptr);
    EXPECT_EQ(sys.channel->key, 4242);
    EXPECT_EQ(sys.channel->size, 1024u);
    EXPECT_EQ(sys.channel->semaphoreName, "4242");
}

// What another account had put at the key or name is said in one line before start-up completes.
TEST_F(MonitorTest, RemovedSquatIsLoggedOnceBeforeInitializationCompletes) {
    struct Case {
        ChannelSquat removed;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{}, {"initialization complete"}},
        {{4201, {}}, {"channel taken back: removed segment 1500 created by uid 4201", "initialization complete"}},
        {{{}, 4202}, {"channel taken back: removed semaphore 1500 owned by uid 4202", "initialization complete"}},
        {{4201, 0},
         {"channel taken back: removed segment 1500 created by uid 4201 and semaphore 1500 owned by uid 0",
          "initialization complete"}},
    };
    for (const Case& c : cases) {
        const size_t mark = logMessages().size();
        sys.channelSquat = c.removed;
        Monitor monitor(sys, config);
        EXPECT_NE(monitor.sharedMem, nullptr);
        const std::vector<std::string> messages = logMessages();
        EXPECT_EQ(std::vector<std::string>(messages.begin() + mark, messages.end()), c.expected);
    }
}

}  // namespace
}  // namespace hv::test
