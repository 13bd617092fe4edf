#include <csignal>

#include "daemon/monitor_fixture.h"
#include "daemon/startup.h"

namespace hv::test {
namespace {

class StartupTest : public MonitorTest {};

TEST_F(StartupTest, LogLineIsTheCtimeStampABlankAndTheMessage) {
    struct Case {
        double when;
        const char* line;
    };
    const Case cases[] = {
        {utc(2026, 12, 6, 9, 5, 7), "Sun Dec  6 09:05:07 2026 hello\n"},
        {utc(2026, 12, 16, 23, 59, 59), "Wed Dec 16 23:59:59 2026 hello\n"},
        {utc(2027, 1, 1, 0, 0, 0) + 0.75, "Fri Jan  1 00:00:00 2027 hello\n"},
    };
    Monitor m(sys, config);
    for (const Case& c : cases) {
        sys.setTime(c.when);
        sys.appends.clear();
        m.logIt("hello");
        ASSERT_EQ(sys.appends[config.logFile].size(), 1u);
        EXPECT_EQ(sys.appends[config.logFile][0], c.line);
    }
}

TEST_F(StartupTest, LogLineFollowsTheLocalTimeZone) {
    ScopedTimeZone berlin("Europe/Berlin");
    Monitor m(sys, config);
    sys.setTime(utc(2026, 7, 1, 22, 30, 0));
    sys.appends.clear();
    m.logIt("x");
    EXPECT_EQ(sys.appends[config.logFile], std::vector<std::string>{"Thu Jul  2 00:30:00 2026 x\n"});
}

TEST_F(StartupTest, UnwritableLogIsSilent) {
    sys.unwritable.insert(config.logFile);
    Monitor m(sys, config);
    m.logIt("lost");
    EXPECT_TRUE(sys.appendedLines(config.logFile).empty());
}

TEST_F(StartupTest, StartsInOrderWritesThePidFileAndRemovesItAtTheEnd) {
    plantRunningSettings();
    sys.login("kid");
    sys.powerAvailable = false;
    EXPECT_EQ(runDaemon(sys, config, 4711, nullptr), 0);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"IORegisterForSystemPower() failed",
                                                       "initialization complete",
                                                       "preferences loaded", "data loaded for kid"}));
    EXPECT_EQ(sys.inPlaceWrites, std::vector<std::string>{config.pidFile});
    EXPECT_EQ(sys.runCalls, 1);
    EXPECT_FALSE(sys.fileExists(config.pidFile)) << "removed when the loop returns";
    EXPECT_EQ(sys.firewallChanges, (std::vector<std::string>{"clear", "clear"}))
        << "what a killed run left is cleared at the start, and the table again at the end";
}

// A fake whose loop "runs" long enough to look at the pid file.
class PidCheckingSystem : public FakeSystem {
public:
    std::string pidPath, pidWhileRunning;
    int run() override {
        pidWhileRunning = contents(pidPath);
        return FakeSystem::run();
    }
};

TEST(StartupPidTest, PidFileHoldsOnlyTheDigitsWhileTheDaemonRuns) {
    ScopedTimeZone zone("UTC");
    PidCheckingSystem sys;
    Config config;
    sys.pidPath = config.pidFile;
    sys.runResult = 3;
    EXPECT_EQ(runDaemon(sys, config, 4711, nullptr), 3);
    EXPECT_EQ(sys.pidWhileRunning, "4711");
}

TEST_F(StartupTest, SignalsReloadSwitchAndIgnoreInterrupt) {
    plantRunningSettings();
    plantPolicy(listOf({limitRecord(60, 1, sys.now())}));
    sys.login("kid");
    monitor = std::make_unique<Monitor>(sys, config);
    installSignalHandlers(sys, *monitor);
    monitor->loadUserStatus();
    monitor->loadUserData();
    tick();
    sys.appends.clear();

    ASSERT_TRUE(sys.raise(SIGINT));
    EXPECT_TRUE(logMessages().empty());
    EXPECT_FALSE(monitor->switched);

    ASSERT_TRUE(sys.raise(SIGUSR2));
    ASSERT_TRUE(sys.raise(SIGUSR1));
    ASSERT_TRUE(sys.raise(SIGHUP));
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"disabled", "preferences loaded", "enabled",
                                                       "preferences loaded", "data loaded for kid"}));
    EXPECT_TRUE(monitor->isRunning);
    EXPECT_TRUE(monitor->switched);
}

TEST_F(StartupTest, FirstTickComesFiveSecondsAfterStart) {
    plantRunningSettings();
    plantPolicy(listOf({limitRecord(60, 1, sys.now())}));
    sys.login("kid");
    start();
    sys.advance(4.9);
    EXPECT_TRUE(monitor->switched);
    sys.advance(0.1);
    EXPECT_FALSE(monitor->switched);
}

}  // namespace
}  // namespace hv::test
