#include "platform/fake/fake_system.h"

#include <csignal>
#include <ctime>

#include <gtest/gtest.h>

#include "platform/fake/scoped_time_zone.h"

namespace hv {
namespace {

TEST(FakeSystemTimers, FireInDueOrderWithTiesInCreationOrder) {
    FakeSystem sys;
    std::vector<std::string> fired;
    sys.addTimer(5, [&] { fired.push_back("tick@" + std::to_string(int(sys.monotonic()))); });
    sys.addTimer(15, [&] { fired.push_back("disk@" + std::to_string(int(sys.monotonic()))); });
    sys.advance(16);
    EXPECT_EQ(fired, (std::vector<std::string>{"tick@5", "tick@10", "tick@15", "disk@15"}));
    EXPECT_DOUBLE_EQ(sys.monotonic(), 16);
}

TEST(FakeSystemTimers, WallClockStandsAtDueTimeDuringAction) {
    FakeSystem sys;
    sys.setTime(1000);
    std::vector<double> seen;
    sys.addTimer(5, [&] { seen.push_back(sys.now()); });
    sys.advance(12);
    EXPECT_EQ(seen, (std::vector<double>{1005, 1010}));
    EXPECT_DOUBLE_EQ(sys.now(), 1012);
}

TEST(FakeSystemTimers, SetTimeMovesWallClockButNotTimers) {
    FakeSystem sys;
    int fired = 0;
    sys.addTimer(5, [&] { ++fired; });
    sys.setTime(86400 * 365);
    EXPECT_EQ(fired, 0);
    sys.advance(4.9);
    EXPECT_EQ(fired, 0);
    sys.advance(0.1);
    EXPECT_EQ(fired, 1);
}

TEST(FakeSystemTimers, SleepInsideActionGivesOneLateFiringThenKeepsPhase) {
    FakeSystem sys;
    std::vector<double> firedAt;
    bool slept = false;
    sys.addTimer(5, [&] {
        firedAt.push_back(sys.monotonic());
        if (!slept) {
            slept = true;
            sys.sleepFor(15);
        }
    });
    sys.advance(30);
    // Due at 5 (sleeps to 20); 10, 15 and 20 are missed: one late firing at 20, then 25, 30.
    EXPECT_EQ(firedAt, (std::vector<double>{5, 20, 25, 30}));
    EXPECT_EQ(sys.sleeps, (std::vector<double>{15}));
}

TEST(FakeSystemTimers, SleepOutsideTimersFiresNothing) {
    FakeSystem sys;
    int fired = 0;
    sys.addTimer(5, [&] { ++fired; });
    sys.sleepFor(12);
    EXPECT_EQ(fired, 0);
    sys.advance(0);
    EXPECT_EQ(fired, 1);  // the missed firings count once
    sys.advance(3);
    EXPECT_EQ(fired, 2);  // phase kept: 15
}

TEST(FakeSystemTimers, TimerAddedInsideActionStartsFromThen) {
    FakeSystem sys;
    std::vector<double> inner;
    bool added = false;
    sys.addTimer(5, [&] {
        if (!added) {
            added = true;
            sys.addTimer(3, [&] { inner.push_back(sys.monotonic()); });
        }
    });
    sys.advance(11);
    EXPECT_EQ(inner, (std::vector<double>{8, 11}));
    EXPECT_EQ(sys.timerCount(), 2u);
}

TEST(FakeSystemTimers, FireNextTimerJumpsToTheNextDueTime) {
    FakeSystem sys;
    EXPECT_FALSE(sys.fireNextTimer());
    int fired = 0;
    sys.addTimer(900, [&] { ++fired; });
    EXPECT_TRUE(sys.fireNextTimer());
    EXPECT_EQ(fired, 1);
    EXPECT_DOUBLE_EQ(sys.monotonic(), 900);
}

TEST(FakeSystemSignals, RaisedInsideCallbackRunAfterIt) {
    FakeSystem sys;
    std::vector<std::string> order;
    sys.onSignal(SIGHUP, [&] { order.push_back("hup"); });
    sys.addTimer(5, [&] {
        order.push_back("tick-start");
        EXPECT_TRUE(sys.raise(SIGHUP));
        order.push_back("tick-end");
    });
    sys.advance(5);
    EXPECT_EQ(order, (std::vector<std::string>{"tick-start", "tick-end", "hup"}));
}

TEST(FakeSystemSignals, UnhandledSignalReportsFalse) {
    FakeSystem sys;
    int hups = 0;
    sys.onSignal(SIGHUP, [&] { ++hups; });
    EXPECT_FALSE(sys.raise(SIGUSR1));
    EXPECT_TRUE(sys.raise(SIGHUP));
    EXPECT_EQ(hups, 1);
}

TEST(FakeSystemConsole, LoginListsLeaderAndTerminateEndsOnlyThatSession) {
    FakeSystem sys;
    const ConsoleSession s = sys.login("kid");
    EXPECT_EQ(sys.consoleUser(), "kid");
    EXPECT_EQ(sys.uidByName("kid"), static_cast<int32_t>(s.uid));
    const auto procs = sys.scanProcesses({s.uid}, [](const ProcessEntry&) { return false; });
    ASSERT_TRUE(procs);
    ASSERT_EQ(procs->size(), 1u);
    EXPECT_EQ((*procs)[0].pid, s.leader);
    EXPECT_EQ((*procs)[0].comm, "loginwindow");
    EXPECT_TRUE((*procs)[0].executable.empty());

    EXPECT_FALSE(sys.terminateSession("no-such-session"));
    sys.logindReachable = false;
    EXPECT_FALSE(sys.terminateSession(s.id));
    EXPECT_EQ(sys.consoleUser(), "kid");
    sys.logindReachable = true;
    EXPECT_TRUE(sys.terminateSession(s.id));
    EXPECT_FALSE(sys.consoleUser());
    EXPECT_EQ(sys.terminatedSessions.size(), 3u);
}

TEST(FakeSystemProcesses, SignalsAndLogindEndProcessesAsTheKernelWould) {
    FakeSystem sys;
    const ConsoleSession s = sys.login("kid");
    const pid_t stubborn = sys.addProcess(s.uid, "game");
    sys.process(stubborn)->ignoresTerm = true;
    const pid_t other = sys.addProcess(0, "game");

    EXPECT_TRUE(sys.sendSignal(stubborn, SIGTERM));
    EXPECT_TRUE(sys.running(stubborn));
    EXPECT_FALSE(sys.sendSignal(4242, SIGKILL));
    EXPECT_FALSE(sys.sendSignal(0, SIGKILL));

    sys.logindReachable = false;
    EXPECT_FALSE(sys.terminateUser(s.uid));
    EXPECT_TRUE(sys.running(s.leader));
    sys.logindReachable = true;
    EXPECT_TRUE(sys.terminateUser(s.uid));
    EXPECT_FALSE(sys.running(s.leader));
    EXPECT_FALSE(sys.consoleUser());
    EXPECT_TRUE(sys.running(stubborn));
    EXPECT_TRUE(sys.killUser(s.uid, SIGKILL));
    EXPECT_FALSE(sys.running(stubborn));
    EXPECT_TRUE(sys.running(other));
    EXPECT_EQ(sys.terminatedUsers, (std::vector<uid_t>{s.uid, s.uid}));
    EXPECT_EQ(sys.killedUsers, (std::vector<std::pair<uid_t, int>>{{s.uid, SIGKILL}}));
}

TEST(FakeSystemFiles, ResolvedInfoFollowsLinks) {
    FakeSystem sys;
    sys.files["/usr/games/game"] = FakeFile{"elf", S_IFREG | 0755, 0, 0, 77};
    sys.files["/usr/bin/game"] = FakeFile{"/usr/games/game", S_IFLNK | 0777};
    sys.files["/loop"] = FakeFile{"/loop", S_IFLNK | 0777};
    EXPECT_EQ(sys.resolvedFileInfo("/usr/bin/game")->inode, 77u);
    EXPECT_TRUE(S_ISLNK(sys.fileInfo("/usr/bin/game")->mode));
    EXPECT_FALSE(sys.resolvedFileInfo("/loop"));
    EXPECT_FALSE(sys.resolvedFileInfo("/missing"));
}

TEST(FakeSystemFiles, ReadOutcomesByKind) {
    FakeSystem sys;
    sys.files["/reg"] = FakeFile{"abc"};
    sys.files["/fifo"] = FakeFile{"", S_IFIFO | 0644};
    sys.files["/link"] = FakeFile{"/reg", S_IFLNK | 0777};
    sys.files["/big"] = FakeFile{std::string(11, 'x')};
    struct Case {
        const char* path;
        bool hasBytes;
        bool missing;
    } cases[] = {{"/reg", true, false}, {"/fifo", false, false}, {"/link", false, false},
                 {"/big", false, false}, {"/none", false, true}};
    for (const Case& c : cases) {
        const ReadResult r = sys.readFile(c.path, 10);
        EXPECT_EQ(r.bytes.has_value(), c.hasBytes) << c.path;
        EXPECT_EQ(r.missing, c.missing) << c.path;
        EXPECT_EQ(r.error.empty(), c.hasBytes) << c.path;
    }
    sys.unreadable.insert("/reg");
    EXPECT_FALSE(sys.readFile("/reg", 10).bytes);
}

TEST(FakeSystemFiles, WritesReplaceLinksAndHonourFailureSwitches) {
    FakeSystem sys;
    sys.files["/p"] = FakeFile{"/etc/shadow", S_IFLNK | 0777, 501};
    ASSERT_TRUE(sys.writeFileAtomic("/p", "new", 0600, std::nullopt));
    EXPECT_EQ(sys.fileInfo("/p")->mode, static_cast<mode_t>(S_IFREG | 0600));
    EXPECT_EQ(sys.fileInfo("/p")->uid, 0u);
    EXPECT_EQ(sys.contents("/p"), "new");

    sys.unwritable.insert("/p");
    EXPECT_FALSE(sys.writeFileAtomic("/p", "other", 0644, std::nullopt));
    EXPECT_FALSE(sys.removeFile("/p"));
    EXPECT_EQ(sys.contents("/p"), "new");

    sys.files["/log"] = FakeFile{"/x", S_IFLNK | 0777};
    EXPECT_FALSE(sys.appendToFile("/log", "line\n"));
    EXPECT_TRUE(sys.appendToFile("/log2", "one\ntwo"));
    EXPECT_TRUE(sys.appendToFile("/log2", "\nthree\n"));
    EXPECT_EQ(sys.appendedLines("/log2"), (std::vector<std::string>{"one", "two", "three"}));
}

TEST(FakeSystemChannel, RecordsWritesAndRefusesLockHeldElsewhere) {
    FakeSystem sys;
    sys.openChannelFails = true;
    EXPECT_EQ(sys.openChannel(1500, 1024, "1500").channel, nullptr);
    sys.openChannelFails = false;
    {
        auto ch = sys.openChannel(1500, 1024, "1500").channel;
        ASSERT_NE(ch, nullptr);
        EXPECT_TRUE(sys.channel->open);
        sys.channel->heldElsewhere = true;
        EXPECT_FALSE(ch->tryLock());
        sys.channel->heldElsewhere = false;
        ASSERT_TRUE(ch->tryLock());
        EXPECT_FALSE(ch->tryLock());
        ch->write({7, -1, 1, 30});
        ch->unlock();
        ch->write({1, 2, 3, 4});
    }
    EXPECT_FALSE(sys.channel->open);
    EXPECT_EQ(sys.channel->writes.size(), 2u);
    EXPECT_EQ(sys.channel->writes[0], (std::array<int32_t, 4>{7, -1, 1, 30}));
    EXPECT_EQ(sys.channel->unlockedWrites, 1);
}

TEST(ScopedTimeZoneTest, SetsAndRestoresLocalTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    const time_t t = 1700000000;  // 2023-11-14 22:13:20 UTC
    {
        ScopedTimeZone zone("JST-9");
        struct tm local {};
        localtime_r(&t, &local);
        EXPECT_EQ(local.tm_hour, 7);
    }
    struct tm local {};
    localtime_r(&t, &local);
    EXPECT_EQ(local.tm_hour, 22);
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace hv
