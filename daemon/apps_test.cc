#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "daemon/monitors_fixture.h"

namespace hv::test {
namespace {

class AppsTest : public MonitorsTest {
  protected:
    Monitor& withApps(const std::vector<std::shared_ptr<TableElement>>& apps) {
        std::vector<std::shared_ptr<TableElement>> records = {limitRecord(0, 0)};
        records.insert(records.end(), apps.begin(), apps.end());
        Monitor& m = monitorWith(records);
        m.appwarn = "%a:%l";
        m.timeout = 0.0f;
        sys.setTime(sunday(15, 0));
        return m;
    }

    pid_t run(const std::string& comm) { return sys.addProcess(sys.session->uid, comm); }

    int32_t used(Monitor& m, size_t index) {
        return recordAt(m.userlist, index)->usage().intValue();
    }

    // One application minute: twelve calls that only count seconds (and end what is used up
    // already), then the one that works, and the save that ends its tick.
    void appMinute(Monitor& m) {
        const size_t notices = sys.notices.size();
        const size_t writes = sys.atomicWrites.size();
        for (int i = 0; i < 12; ++i) m.checkApps();
        EXPECT_EQ(m.auminsec, 60u);
        EXPECT_EQ(sys.notices.size(), notices);
        EXPECT_EQ(sys.atomicWrites.size(), writes);
        m.checkApps();
        EXPECT_EQ(m.auminsec, 0u);
        m.saveIfUnsaved();
    }

    // SIGTERM to each of the pids, in order.
    static std::vector<std::pair<pid_t, int>> terms(const std::vector<pid_t>& pids) {
        std::vector<std::pair<pid_t, int>> sent;
        for (pid_t pid : pids) sent.emplace_back(pid, SIGTERM);
        return sent;
    }

    std::vector<std::string> warnings() const {
        std::vector<std::string> texts;
        for (const Notice& n : sys.notices) {
            EXPECT_EQ(n.level, NoticeLevel::Caution);
            EXPECT_EQ(n.timeout, 0.0);
            texts.push_back(n.message);
        }
        return texts;
    }
};

struct AppCase {
    const char* name;
    Value allowed;
    Value usage;
    bool running;
    int32_t usedAfter;
    bool killed;
    std::vector<std::string> warnings;
};

void PrintTo(const AppCase& c, std::ostream* os) { *os << c.name; }

class AppMinute : public AppsTest, public ::testing::WithParamInterface<AppCase> {};

TEST_P(AppMinute, CountsWarnsAndTerminates) {
    const AppCase& c = GetParam();
    Monitor& m = withApps({appRecord("Name.app", c.allowed, c.usage)});
    const pid_t pid = c.running ? run("Name") : 0;

    appMinute(m);

    EXPECT_EQ(used(m, 1), c.usedAfter);
    EXPECT_EQ(sys.signalsSent, c.killed ? terms({pid}) : terms({}));
    EXPECT_EQ(sys.running(pid), c.running && !c.killed);
    EXPECT_TRUE(sys.commands.empty());
    EXPECT_EQ(warnings(), c.warnings);
    const bool counted = c.usedAfter != c.usage.intValue();
    EXPECT_EQ(sys.atomicWrites,
              counted ? std::vector<std::string>{policyPath()} : std::vector<std::string>{});
    EXPECT_TRUE(monitorLog().empty());
}

const Value k30 = Value::integer(30, 'i');

INSTANTIATE_TEST_SUITE_P(
    ThirtyMinutes, AppMinute,
    ::testing::Values(
        AppCase{"used24", k30, Value::integer(24, 'i'), true, 25, false, {}},
        AppCase{"used25", k30, Value::integer(25, 'i'), true, 26, false, {"Name.app:5"}},
        AppCase{"used29", k30, Value::integer(29, 'i'), true, 30, false, {"Name.app:1"}},
        AppCase{"used30", k30, Value::integer(30, 'i'), true, 30, true, {}},
        AppCase{"lowered", k30, Value::integer(32, 'i'), true, 32, true, {}},
        AppCase{"negativeUsage", k30, Value::integer(-100, 'i'), true, -99, false, {}},
        AppCase{"notRunning", k30, Value::integer(29, 'i'), false, 29, false, {}},
        AppCase{"value0", Value::integer(0, 'i'), Value::integer(3, 'i'), true, 3, false, {}},
        AppCase{"negative", Value::integer(-5, 'i'), Value::integer(3, 'i'), true, 3, false, {}},
        AppCase{"absentUsage", k30, Value(), true, 1, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppsTest, WarnsEveryMinuteOfTheLastFiveThenTerminates) {
    Monitor& m = withApps({appRecord("Name.app", k30, Value::integer(24, 'i'))});
    const pid_t pid = run("Name");
    for (int minute = 0; minute < 8; ++minute) appMinute(m);
    EXPECT_EQ(warnings(), (std::vector<std::string>{"Name.app:5", "Name.app:4", "Name.app:3",
                                                    "Name.app:2", "Name.app:1"}));
    EXPECT_EQ(used(m, 1), 30);
    EXPECT_EQ(sys.signalsSent, terms({pid}));
    EXPECT_FALSE(sys.running(pid));
    EXPECT_FALSE(m.appwarndone);
}

TEST_F(AppsTest, WarnonceShowsOnlyTheFirstWarningOfAnyApplication) {
    Monitor& m = withApps({appRecord("A.app", k30, Value::integer(26, 'i')),
                           appRecord("B.app", k30, Value::integer(27, 'i'))});
    m.warnonce = 1;
    run("A");
    run("B");
    appMinute(m);
    appMinute(m);
    EXPECT_EQ(warnings(), std::vector<std::string>{"A.app:4"});
    EXPECT_TRUE(m.appwarndone);
    EXPECT_EQ(m.message, "B.app:2");  // expanded, not shown
}

TEST_F(AppsTest, TwoRecordsInOneMinuteInListOrder) {
    Monitor& m = withApps({appRecord("B.app", k30, Value::integer(1, 'i')),
                           appRecord("A.app", k30, Value::integer(28, 'i'))});
    run("A");
    run("B");
    appMinute(m);
    EXPECT_EQ(used(m, 1), 2);
    EXPECT_EQ(used(m, 2), 29);
    EXPECT_EQ(sys.atomicWrites.size(), 1u) << "both counts go to disk in one save";
    EXPECT_EQ(m.appname, "A.app");
    // The saved file holds both counts.
    const auto saved = savedPolicy();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[1]->usage().intValue(), 2);
    EXPECT_EQ(saved[2]->usage().intValue(), 29);
}

TEST_F(AppsTest, ProcessNameIsTheTextBeforeTheFirstDotApp) {
    Monitor& m = withApps({appRecord("A.apple.app", k30, Value::integer(0, 'i'))});
    run("A.apple");
    appMinute(m);
    EXPECT_EQ(used(m, 1), 0);
    run("A");
    appMinute(m);
    EXPECT_EQ(used(m, 1), 1);
    EXPECT_EQ(m.appname, "A.apple.app");
}

TEST_F(AppsTest, ALongNameMatchesTheKernelsFifteenCharacters) {
    Monitor& m = withApps({appRecord("VeryLongApplicationName.app", k30, Value::integer(30, 'i'))});
    const pid_t pid = run("VeryLongApplica");
    appMinute(m);
    EXPECT_EQ(sys.signalsSent, terms({pid}));
}

TEST_F(AppsTest, EveryProcessThatIsTheApplicationEndsAndWhatIgnoresSigtermIsKilled) {
    // The game on the system path, reached through a link.
    sys.files["/usr/games/game"] = FakeFile{"elf", S_IFREG | 0755, 0, 0, 700};
    sys.files["/usr/bin/game"] = FakeFile{"/usr/games/game", S_IFLNK | 0777};
    Monitor& m = withApps({appRecord("game.app", k30, Value::integer(30, 'i'))});
    const uid_t kid = sys.session->uid;
    const pid_t roots = sys.addProcess(0, "game");
    const pid_t decoy = run("game");
    const pid_t real = sys.addProcess(kid, "game", "/usr/games/game", FileInfo{0, S_IFREG | 0755, 0, 0, 700});
    const pid_t linked = sys.addProcess(kid, "play", "/home/kid/bin/game");
    const pid_t sameFile = sys.addProcess(kid, "x", "/home/kid/x", FileInfo{0, S_IFREG | 0755, 0, 0, 700});
    const pid_t editor = sys.addProcess(kid, "editor", "/usr/bin/editor", FileInfo{0, S_IFREG | 0755, 0, 0, 701});
    sys.process(decoy)->ignoresTerm = true;
    sys.process(real)->ignoresTerm = true;

    m.checkApps();  // used up already: the next tick ends it, application minute or not
    EXPECT_EQ(sys.signalsSent, terms({decoy, real, linked, sameFile}));
    // Only the processes whose command name left it open had their executable read.
    EXPECT_EQ(sys.executableReads, 4 * sys.scans);
    sys.advance(kApplicationKillDelay - 0.5);
    m.killOverdue();
    EXPECT_TRUE(sys.running(real));
    sys.advance(0.5);
    m.killOverdue();
    EXPECT_FALSE(sys.running(decoy));
    EXPECT_FALSE(sys.running(real));
    EXPECT_TRUE(sys.running(roots));
    EXPECT_TRUE(sys.running(editor));
    EXPECT_EQ(std::count(sys.signalsSent.begin(), sys.signalsSent.end(), std::make_pair(real, SIGKILL)), 1);
    sys.advance(60);
    m.killOverdue();
    EXPECT_EQ(sys.signalsSent.size(), 6u) << "each SIGKILL is sent once";
}

// The process table is looked at in application minutes, and between them only while an
// application's minutes are used up: then it is ended on the tick after each start, so starting it
// again and again gains no minute.
TEST_F(AppsTest, TicksLookAtTheConsoleOnceAndAtTheProcessTableOnlyWhenAnApplicationNeedsIt) {
    Monitor& m = withApps({appRecord("A.app", k30, Value::integer(24, 'i')),
                           appRecord("B.app", k30, Value::integer(29, 'i'))});
    m.isRunning = true;
    m.appmon = 1;
    const pid_t a = run("A");
    const pid_t b = run("B");
    for (int i = 1; i <= 12; ++i) {
        m.userMonitor();
        EXPECT_EQ(sys.consoleLookups, i);
    }
    EXPECT_EQ(sys.scans, 0);
    m.userMonitor();
    EXPECT_EQ(sys.scans, 1) << "both records share one scan";
    EXPECT_EQ(sys.uidLookups, 1) << "and one look at the user database";
    EXPECT_EQ(sys.consoleLookups, 13);
    EXPECT_EQ(used(m, 1), 25);
    EXPECT_EQ(used(m, 2), 30);
    EXPECT_TRUE(sys.running(b)) << "its last minute was counted; it ends from the next tick";

    std::vector<pid_t> starts = {b};
    for (int i = 0; i < 3; ++i) {
        m.userMonitor();
        EXPECT_FALSE(sys.running(starts.back()));
        starts.push_back(run("B"));  // started again at once
    }
    EXPECT_EQ(sys.signalsSent, terms({starts[0], starts[1], starts[2]}));
    EXPECT_TRUE(sys.running(a));
    EXPECT_EQ(sys.scans, 4);
    // Outside a tick nothing is kept: a lookup sees the table as it is now.
    EXPECT_EQ(m.findProcess("A", "kid"), a);
    EXPECT_EQ(sys.scans, 5);
    EXPECT_EQ(sys.uidLookups, 5) << "one look at the user database per tick that needs one";
}

TEST_F(AppsTest, APidThatNowNamesAnotherProcessGetsNoSigkill) {
    Monitor& m = withApps({appRecord("game.app", k30, Value::integer(30, 'i'))});
    const pid_t game = run("game");
    sys.process(game)->ignoresTerm = true;
    appMinute(m);
    // The game exits and its pid is given to a new process of the same account.
    FakeProcess reused = *sys.process(game);
    reused.entry.startTime += 1000;
    sys.processes.clear();
    sys.processes.push_back(reused);
    sys.advance(kApplicationKillDelay);
    m.killOverdue();
    EXPECT_EQ(sys.signalsSent, terms({game}));
    EXPECT_TRUE(sys.running(game));
}

TEST_F(AppsTest, OnlyTheConsoleUsersProcessesCount) {
    Monitor& m = withApps({appRecord("Name.app", k30, Value::integer(30, 'i'))});
    const pid_t roots = sys.addProcess(0, "Name");
    const pid_t first = run("Name");
    const pid_t second = run("Name");
    appMinute(m);
    EXPECT_EQ(sys.signalsSent, terms({first, second}));
    EXPECT_TRUE(sys.running(roots));
}

TEST_F(AppsTest, RecordsWithoutAnApplicationNameAreSkipped) {
    Monitor& m = withApps({appRecord(Value(), k30, Value::integer(0, 'i')),
                           appRecord("Plain", k30, Value::integer(0, 'i')),
                           appRecord(".app", k30, Value::integer(0, 'i')),
                           appRecord(Value::integer(7), k30, Value::integer(0, 'i')),
                           appRecord("Name.app", k30, Value::integer(0, 'i'))});
    run("Plain");
    run("");
    run("Name");
    appMinute(m);
    for (size_t i = 1; i <= 4; ++i) EXPECT_EQ(used(m, i), 0) << i;
    EXPECT_EQ(used(m, 5), 1);
}

TEST_F(AppsTest, WithoutApplicationRecordsTheCounterStandsStill) {
    Monitor& m = withApps({});
    m.userlist.push_back(Value("not a record"));
    for (int i = 0; i < 20; ++i) m.checkApps();
    EXPECT_EQ(m.auminsec, 0u);
}

TEST_F(AppsTest, ReadsTodaysWeekday) {
    auto app = appRecord("Name.app", k30, Value::integer(10, 'i'));
    setDay(*app, 1, Value::integer(10, 'i'));  // Monday: used up
    Monitor& m = withApps({app});
    const pid_t pid = run("Name");
    sys.setTime(utc(2026, 12, 7, 9, 0));
    appMinute(m);
    EXPECT_EQ(sys.signalsSent, terms({pid}));
    EXPECT_EQ(used(m, 1), 10);
}

struct StampCase {
    const char* name;
    std::optional<double> stamped;  // when the record was last counted
    bool killed;
    int32_t usedAfter;
};

void PrintTo(const StampCase& c, std::ostream* os) { *os << c.name; }

class AppDay : public AppsTest, public ::testing::WithParamInterface<StampCase> {};

// The midnight tick resets application minutes; when the computer was off or asleep at midnight,
// a used-up allowance from an earlier day must not end the application today.
TEST_P(AppDay, ACountFromAnotherDayStartsAfresh) {
    const StampCase& c = GetParam();
    auto app = appRecord("Name.app", k30, Value::integer(30, 'i'));
    if (c.stamped) app->setDate(CalendarDate(*c.stamped).toValue());
    Monitor& m = withApps({app});
    const pid_t pid = run("Name");
    appMinute(m);
    EXPECT_EQ(sys.signalsSent, c.killed ? terms({pid}) : terms({}));
    EXPECT_EQ(used(m, 1), c.usedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, AppDay,
    ::testing::Values(StampCase{"earlierToday", sunday(0, 1), true, 30},
                      StampCase{"neverStamped", std::nullopt, true, 30},
                      StampCase{"yesterdayBeforeMidnight", sunday(0, 0) - 60, false, 1},
                      StampCase{"sameDayOfAnEarlierMonth", utc(2026, 11, 6, 15, 0), false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hv::test
