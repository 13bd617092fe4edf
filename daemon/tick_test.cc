#include <csignal>
#include <functional>
#include <limits>

#include "daemon/monitors_fixture.h"
#include "daemon/startup.h"

namespace hv::test {
namespace {

using Words = std::array<int32_t, 4>;

class TickTest : public MonitorTest {
protected:
    // Kid at the console with an allowance of `allowed` minutes, `used` of them stored today.
    void kidWith(int32_t allowed, int32_t used, Dictionary settings = {}) {
        plantRunningSettings(std::move(settings));
        plantPolicy(listOf({limitRecord(allowed, used, sys.now() - 3600)}));
        session = sys.login("kid");
        start();
    }

    const Words& published() const { return sys.channel->words; }

    ConsoleSession session;
};

TEST_F(TickTest, RemainingTimeCountsDownAndHoldsEachWholeMinuteForTwoTicks) {
    kidWith(10, 3);
    tick();  // the first tick loads the stored usage and counts nothing
    ASSERT_EQ(monitor->umin, 3u);
    ASSERT_EQ(monitor->uminsec, 0u);

    const std::vector<std::pair<int32_t, int32_t>> expected = {
        {7, 0},  {6, 55}, {6, 50}, {6, 45}, {6, 40}, {6, 35}, {6, 30}, {6, 25},
        {6, 20}, {6, 15}, {6, 10}, {6, 5},  {6, 0},  {6, 0},  {5, 55}};
    for (const auto& [minutes, seconds] : expected) {
        tick();
        EXPECT_EQ(published()[0], minutes);
        EXPECT_EQ(published()[3], seconds) << "at " << minutes << " min";
    }
    EXPECT_EQ(monitor->umin, 4u);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 4);
}

TEST_F(TickTest, WarnsOnTheFiftyFifthMinuteAndLogsOutOnTheSixtieth) {
    kidWith(60, 54);
    tick();
    tickUntil([&] { return monitor->umin == 55; });
    EXPECT_EQ(countLog("warning - allowed 60 min - used today 55 min"), 1u);
    ASSERT_EQ(sys.notices.size(), 1u);
    EXPECT_EQ(sys.notices[0].level, NoticeLevel::Caution);
    EXPECT_EQ(sys.notices[0].timeout, 1.0);
    EXPECT_EQ(sys.notices[0].header, "Wardelin Session Information");
    EXPECT_EQ(sys.notices[0].message, "5 minutes left");
    EXPECT_EQ(published()[2], 0) << "published before the warning step";
    tick();
    EXPECT_EQ(published()[2], 1);

    tickUntil([&] { return monitor->umin == 59; });
    EXPECT_EQ(sys.notices.size(), 1u) << "the warning is shown once";
    EXPECT_TRUE(sys.sleeps.empty());

    tickUntil([&] { return monitor->umin == 60; });
    EXPECT_EQ(countLog("logout - allowed 60 min - used today 60 min"), 1u);
    ASSERT_EQ(sys.notices.size(), 2u);
    EXPECT_EQ(sys.notices[1].level, NoticeLevel::Stop);
    EXPECT_EQ(sys.notices[1].timeout, 1.0);
    EXPECT_EQ(sys.notices[1].message, "time is up, kid");
    EXPECT_EQ(sys.sleeps, std::vector<double>{15.0});
    EXPECT_EQ(countLog("terminate loginwindow pid " + std::to_string(session.leader)), 1u);
    EXPECT_EQ(sys.terminatedUsers, std::vector<uid_t>{session.uid});
    EXPECT_FALSE(sys.session.has_value()) << "the session was ended";
}

TEST_F(TickTest, LogoutRepeatsEveryTickWhileTheAllowanceIsUsedUp) {
    sys.logindReachable = false;  // the session survives, so the daemon keeps trying
    kidWith(30, 30);
    // Ticks run directly: each one blocks for the 15-second wait.
    monitor->userMonitor();
    monitor->userMonitor();
    monitor->userMonitor();
    EXPECT_EQ(countLog("logout - allowed 30 min - used today 30 min"), 3u);
    EXPECT_EQ(sys.sleeps.size(), 3u);
    const std::string kill = "kill " + std::to_string(session.leader);
    EXPECT_EQ(sys.commands, (std::vector<std::string>{kill, kill, kill}));
    EXPECT_EQ(countLog("warning - allowed 30 min - used today 30 min"), 0u)
        << "no warning follows a logout";
}

// The tray tells "no time left" (the warn word's 2, with 0 minutes and 0 seconds) from the zeros
// of a day without an allowance, which "hideremain" hides; the time left never reads below 0.
TEST_F(TickTest, PublishesNoTimeLeftApartFromNoLimitAndNeverBelowZero) {
    struct Case {
        const char* name;
        int32_t allowed, used;
        bool rangeEndsNow;  // a time range 08:00-10:00 (it is 10:00) instead of the allowance
        int ticks;          // after the first
        Words expected;
        const char* notice;  // the last notice shown
    };
    const Case cases[] = {
        {"the allowance's last seconds", 10, 9, false, 7, {0, -1, 1, 30}, "1 minutes left"},
        {"the logout tick", 10, 9, false, 13, {0, -1, 3, 0}, "0 left, kid"},
        {"the allowance lowered below the minutes used", 10, 12, false, 0, {0, -1, 2, 0},
         "0 left, kid"},
        {"no allowance today", 0, 3, false, 3, {-1, -1, 0, 0}, ""},
        {"a time range's last minute on a day without an allowance", 0, 3, true, 0,
         {0, -1, 3, 0}, "0 minutes left"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys = FakeSystem();
        monitor.reset();
        sys.setTime(utc(kYear, kMonth, kDay, 10, 0));
        sys.logindReachable = false;
        plantRunningSettings({{"hideremain", Value::integer(1)}, {"logoutmsg", "%m left, %u"}});
        auto limit = limitRecord(c.allowed, c.used, sys.now() - 3600);
        limit->setRanges(c.rangeEndsNow ? 1 : 0);
        plantPolicy(listOf({limit, rangeRecord(480), rangeRecord(600)}));
        sys.login("kid");
        start();
        for (int i = 0; i <= c.ticks; ++i) tick();
        EXPECT_EQ(published(), c.expected);
        EXPECT_EQ(sys.notices.empty() ? "" : sys.notices.back().message, c.notice);
    }
}

TEST_F(TickTest, NoAllowanceMeansNoWarningNoLogoutButMinutesStillCount) {
    kidWith(0, 0);
    tickUntil([&] { return monitor->umin == 2; });
    EXPECT_EQ(monitor->rmin, 0u);
    EXPECT_EQ(monitor->rminsec, 0u);
    EXPECT_EQ(published(), (Words{0, -1, 0, 0}));
    EXPECT_TRUE(sys.notices.empty());
    EXPECT_TRUE(sys.sleeps.empty());
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 2);
}

TEST_F(TickTest, WithoutWarntimeTheWarningNeverComesBeforeTheLogout) {
    plantSettings({{"status", Value::integer(1)}, {"logoutmsg", "bye"}});
    plantPolicy(listOf({limitRecord(3, 2, sys.now())}));
    session = sys.login("kid");
    start();
    EXPECT_EQ(monitor->warntime, 0u);
    EXPECT_EQ(monitor->warn, std::nullopt);
    tick();
    EXPECT_TRUE(sys.notices.empty()) << "2 + 0 < 3";
    tickUntil([&] { return monitor->umin == 3; });
    ASSERT_EQ(sys.notices.size(), 1u);
    EXPECT_EQ(sys.notices[0].level, NoticeLevel::Stop);
    EXPECT_EQ(countLog("warning - allowed 3 min - used today 3 min"), 0u);
    EXPECT_EQ(sys.channel->words[0], -1) << "without showremain the time is hidden";
}

TEST_F(TickTest, StoredUsageCountsOnlyWhenStampedToday) {
    struct Case {
        const char* name;
        std::optional<double> stamped;
        uint32_t umin;
    };
    const double now = utc(kYear, kMonth, kDay, 10, 0);
    const Case cases[] = {
        {"earlier today", now - 3 * 3600, 25},
        {"yesterday", now - 86400, 0},
        {"same day of the previous month", utc(kYear, kMonth - 1, kDay, 10, 0), 0},
        {"same day of the previous year", utc(kYear - 1, kMonth, kDay, 10, 0), 0},
        {"never stamped", std::nullopt, 0},
        {"stamped with a number no calendar holds", std::numeric_limits<double>::quiet_NaN(), 0},
        {"stamped beyond any calendar", 1e300, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        plantRunningSettings();
        auto record = limitRecord(120, 25, c.stamped);
        plantPolicy(listOf({record}));
        sys.login("kid");
        start();
        tick();
        EXPECT_EQ(monitor->umin, c.umin);
        EXPECT_EQ(countLog("new user : kid - warn : 5 - allowed : 120 min - used " +
                           std::to_string(c.umin) + " min"),
                  1u);
        sys.appends.clear();
    }
}

// The first tick of a list is judged by its stamps: yesterday's count starts afresh at 0, not at
// the midnight reset's counted minute, which only a session already running at midnight gets.
TEST_F(TickTest, AFirstTickOnANewDayStartsFromNothing) {
    struct Case {
        const char* name;
        std::function<void()> night;
    };
    const Case cases[] = {
        {"loaded just before midnight", [] {}},
        {"a night at the login screen", [this] {
             sys.logout();
             sys.advance(8 * 3600.0);
             sys.login("kid");
         }},
        {"a night asleep at the login screen", [this] {
             sys.logout();
             tick();
             sys.setTime(sys.now() + 8 * 3600.0);
             sys.login("kid");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys.setTime(utc(kYear, kMonth, kDay, 23, 59, 57));
        restart();
        plantRunningSettings();
        plantPolicy(listOf({limitRecord(60, 40, sys.now() - 60)}), "kid", 1001);
        sys.login("kid");
        start();
        c.night();
        sys.appends.clear();
        tick();
        EXPECT_EQ(monitor->umin, 0u);
        EXPECT_EQ(countLog("new user : kid - warn : 5 - allowed : 60 min - used 0 min"), 1u);
    }
}

TEST_F(TickTest, MidnightResetLeavesEveryRecordAtOneAndTheSessionStartsTheDayAfresh) {
    sys.setTime(utc(kYear, kMonth, kDay, 23, 59, 0));
    plantRunningSettings();
    auto app = std::make_shared<TableElement>();
    app->setMmode("App");
    app->setUser("bob");  // a record naming another account must not reach bob's file
    app->setUsage(Value::integer(9));
    plantPolicy(listOf({limitRecord(600, 40, sys.now()), app}));
    sys.login("kid");
    start();
    tick();
    tickUntil([&] { return CalendarDate(sys.now()).hourOfDay() == 0; });
    EXPECT_EQ(monitor->umin, 1u) << "a session across midnight starts the day afresh";
    const auto saved = savedPolicy();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0]->usage().intValue(), 1);
    EXPECT_EQ(saved[1]->usage().intValue(), 1);
    EXPECT_FALSE(sys.fileExists(policyPath("bob")));
}

TEST_F(TickTest, ASessionAcrossMidnightGetsTheNewDaysWholeAllowance) {
    sys.setTime(utc(kYear, kMonth, kDay, 23, 58, 0));
    plantRunningSettings({{"warntime", Value::integer(0)}});
    plantPolicy(listOf({limitRecord(60, 50, sys.now())}));
    sys.login("kid");
    start();
    tickUntil([&] { return CalendarDate(sys.now()).hourOfDay() == 0 &&
                           CalendarDate(sys.now()).minuteOfHour() == 30; });
    EXPECT_EQ(countLog("logout - allowed 60 min - used today 60 min"), 0u);
    EXPECT_TRUE(sys.terminatedUsers.empty());
    EXPECT_GE(monitor->umin, 25u);
    EXPECT_LE(monitor->umin, 30u);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), static_cast<int32_t>(monitor->umin));
}

// A laptop closed in the evening with the child logged in, opened the next morning (sleep not
// counted), or monitoring switched off overnight: no tick ran at 00:00, yet the new day must not
// carry the earlier day's minutes, nor its spent warning.
class OvernightTest : public TickTest {
protected:
    void warnedInTheEvening() {
        sys.setTime(utc(kYear, kMonth, kDay, 21, 0));
        kidWith(60, 56, {{"warntime", Value::integer(5)}});
        tick();
        tick();
        ASSERT_TRUE(monitor->warning) << "56 of 60 minutes: warned the evening before";
        warningsBefore = countLog("warning - allowed 60 min - used today 56 min");
    }

    void expectAFreshMorning() {
        tick();
        EXPECT_EQ(monitor->umin, 1u);
        EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 1);
        EXPECT_EQ(CalendarDate::fromValue(*savedPolicy()[0]->date().date()).dayOfMonth(),
                  kDay + 1);
        EXPECT_FALSE(monitor->warning) << "the new day's allowance gets its own warning";
        EXPECT_TRUE(sys.terminatedUsers.empty());
        EXPECT_EQ(countLog("logout - allowed 60 min - used today 60 min"), 0u);
        EXPECT_EQ(countLog("warning - allowed 60 min - used today 56 min"), warningsBefore);
    }

    size_t warningsBefore = 0;
};

TEST_F(OvernightTest, AwakeAcrossMidnightTheNewDayWarnsOnce) {
    warnedInTheEvening();
    sys.setTime(utc(kYear, kMonth, kDay, 23, 58, 0));
    plantRunningSettings({{"warntime", Value::integer(5)}});
    auto record = limitRecord(60, 56, sys.now());
    record->setMonday(Value::integer(3));  // the 7th is a Monday
    plantStore(listOf({record}));
    start();
    tickUntil([&] { return CalendarDate(sys.now()).hourOfDay() == 0 &&
                           CalendarDate(sys.now()).minuteOfHour() == 1; });
    EXPECT_EQ(countLog("warning - allowed 60 min - used today 56 min"), warningsBefore + 1)
        << "warned again at the reload the evening before";
    EXPECT_EQ(countLog("warning - allowed 3 min - used today 1 min"), 1u) << "the new day warns once";
}

TEST_F(OvernightTest, SuspendedAcrossMidnight) {
    warnedInTheEvening();
    sys.setTime(sys.now() + 11 * 3600.0);  // suspended: no tick fires
    expectAFreshMorning();
}

TEST_F(OvernightTest, MonitoringOffAcrossMidnight) {
    warnedInTheEvening();
    monitor->isRunning = false;
    sys.advance(11 * 3600.0);  // ticks come, but return at once
    monitor->isRunning = true;
    expectAFreshMorning();
}

// The child writes its own policy file and may fill it with records; the reset at midnight must
// not cost one save per record, nor run again on the later ticks of the day's first minute.
TEST_F(TickTest, MidnightResetSavesTheListOnce) {
    sys.setTime(utc(kYear, kMonth, kDay, 23, 59, 50));
    plantRunningSettings();
    std::vector<std::shared_ptr<TableElement>> records = {limitRecord(600, 40, sys.now())};
    for (int j = 0; j < 60; ++j) {
        auto app = std::make_shared<TableElement>();
        app->setMmode("App");
        app->setUser("kid");
        records.push_back(app);
    }
    plantPolicy(listOf(records), "kid", 1001);
    sys.login("kid");
    start();
    tick();  // 23:59:55, the first tick
    tick();  // 00:00:00, the reset
    EXPECT_EQ(countWrites(policyPath()), 1u);
    for (int i = 0; i < 11; ++i) tick();  // the rest of the minute
    EXPECT_EQ(countWrites(policyPath()), 1u);
    const auto saved = savedPolicy();
    ASSERT_EQ(saved.size(), records.size());
    for (const auto& record : saved) {
        EXPECT_EQ(record->usage().intValue(), 1);
    }
}

// Usage never goes backwards within a day, whatever becomes of the file between two loads.
TEST_F(TickTest, AReloadNeverGivesTodaysMinutesBack) {
    struct Case {
        const char* name;
        std::function<void(const std::string& earlier)> meanwhile;
    };
    const Case cases[] = {
        {"file deleted", [this](const std::string&) { sys.files.erase(policyPath()); }},
        {"file stashed and restored", [this](const std::string& earlier) {
             sys.files[policyPath()] = FakeFile{earlier, S_IFREG | 0644, 1001};
         }},
        {"saves failing", [this](const std::string& earlier) {
             sys.files[policyPath()] = FakeFile{earlier, S_IFREG | 0644, 1001};
             sys.writesFail = true;
         }},
        {"nothing", [](const std::string&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        sys.writesFail = false;
        sys.setTime(utc(kYear, kMonth, kDay, 10, 0));
        plantRunningSettings();
        plantPolicy(listOf({limitRecord(60, 2, sys.now())}), "kid", 1001);
        const std::string earlier = sys.contents(policyPath());
        sys.login("kid");
        start();
        tickUntil([&] { return monitor->umin == 5; });
        c.meanwhile(earlier);
        sys.logout();
        tick();
        sys.login("kid");
        tick();
        EXPECT_EQ(monitor->umin, 5u);
        sys.appends.clear();
        monitor->loadUserData();  // SIGHUP
        tick();
        EXPECT_EQ(monitor->umin, 5u);
    }
}

// The day's reset runs once per local date, when the date moves forward: a clock stepped back a
// day and forward again, or a midnight hour that repeats as daylight saving ends, leaves today's
// usage as it was.
TEST_F(TickTest, TheDayIsResetOncePerDate) {
    struct Case {
        const char* name;
        const char* zone;
        double start;
        std::function<void()> clock;
        uint32_t atLeast;
    };
    const Case cases[] = {
        {"clock stepped back a day and forward", "UTC", utc(kYear, kMonth, kDay, 10, 0),
         [this] {
             sys.setTime(sys.now() - 86400);
             for (int i = 0; i < 30; ++i) tick();
             sys.setTime(sys.now() + 86400);
             for (int i = 0; i < 3; ++i) tick();
         },
         30},
        // On 2026-11-01 daylight saving ends here at 01:00, back to 00:00, so that
        // 00:00 to 00:59 comes twice: counted through both, from the first reset on.
        {"midnight hour repeated", "EST5EDT,M3.2.0,M11.1.0/1", utc(2026, 11, 1, 3, 58),
         [this] { tickUntil([&] { return sys.now() >= utc(2026, 11, 1, 6, 5); }); }, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTimeZone zone(c.zone);
        restart();
        sys.setTime(c.start);
        plantRunningSettings();
        plantStore(listOf({limitRecord(0, 30, sys.now())}));
        sys.login("kid");
        start();
        tick();
        c.clock();
        EXPECT_GE(monitor->umin, c.atLeast);
        EXPECT_GE(savedPolicy("kid", config.storePolicyPath("kid"))[0]->usage().intValue(),
                  static_cast<int32_t>(c.atLeast) - 1);
    }
}

// The login screen may show all night: its ticks load nothing and log nothing, and the load line
// comes again only when the console user changes.
TEST_F(TickTest, NobodyAtTheConsoleLoadsOnceAndPublishesNothing) {
    plantRunningSettings();
    plantPolicy(listOf({limitRecord(90, 10, sys.now())}));
    start();
    for (int i = 0; i < 100; ++i) tick();
    EXPECT_EQ(countLog("data loaded for (null)"), 1u);
    EXPECT_TRUE(sys.channel->writes.empty());
    EXPECT_EQ(monitor->user, std::nullopt);

    sys.login("kid");
    tick();
    sys.logout();
    tick();
    tick();
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{"initialization complete", "preferences loaded",
                                        "data loaded for (null)",
                                        "data loaded for kid",
                                        "new user : kid - warn : 5 - allowed : 90 min - used 10 min",
                                        "data loaded for (null)"}));
}

TEST_F(TickTest, MonitoringOffDoesNothingAtAll) {
    plantSettings({{"status", Value::integer(0)}, {"showremain", Value::integer(1)}});
    plantPolicy(listOf({limitRecord(1, 5, sys.now())}));
    start();
    sys.login("kid");
    tick();
    tick();
    EXPECT_TRUE(sys.channel->writes.empty());
    EXPECT_TRUE(sys.notices.empty());
    EXPECT_EQ(countLog("data loaded for kid"), 0u) << "the console user is not followed";
}

TEST_F(TickTest, ChangeOfConsoleUserLoadsTheNewPolicyAndStartsAFirstTick) {
    plantRunningSettings();
    plantPolicy(listOf({limitRecord(90, 10, sys.now())}), "kid");
    plantPolicy(listOf({limitRecord(45, 20, sys.now())}), "ann");
    sys.login("kid");
    start();
    tick();
    sys.logout();
    sys.login("ann");
    tick();
    EXPECT_EQ(countLog("data loaded for ann"), 1u);
    EXPECT_EQ(countLog("new user : ann - warn : 5 - allowed : 45 min - used 20 min"), 1u);
    EXPECT_EQ(monitor->umin, 20u);
}

// Stepping away from the console (a greeter, a switch of users, a policy reload) must not wipe
// out the seconds already counted towards the next minute: a child who did so every minute would
// never have a minute counted.
TEST_F(TickTest, SecondsCountedBeforeLeavingAreKeptForTheSameUserTheSameDay) {
    struct Case {
        const char* name;
        std::function<void(FakeSystem&)> away;  // what happens between leaving and coming back
        uint32_t uminsec;                       // after the first tick back, which counts too
    };
    const Case cases[] = {
        {"a tick at the login screen", [](FakeSystem&) {}, 60},
        {"another user's turn", [](FakeSystem& s) { s.login("ann"); }, 60},
        {"back only the next day",
         [](FakeSystem& s) { s.setTime(utc(kYear, kMonth, kDay + 1, 10, 0)); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys = FakeSystem();
        restart();
        sys.setTime(utc(kYear, kMonth, kDay, 10, 0));
        plantRunningSettings();
        plantPolicy(listOf({limitRecord(90, 10, sys.now())}));
        plantPolicy(listOf({limitRecord(90, 0, sys.now())}), "ann");
        sys.login("kid");
        start();
        for (int i = 0; i < 12; ++i) tick();  // the first tick, then 55 seconds
        ASSERT_EQ(monitor->uminsec, 55u);
        sys.logout();
        c.away(sys);
        tick();
        sys.logout();
        sys.login("kid");
        tick();
        EXPECT_EQ(monitor->uminsec, c.uminsec);
    }
}

TEST_F(TickTest, LeavingBeforeEveryMinuteIsCompleteStillCountsTheMinutes) {
    plantRunningSettings();
    plantPolicy(listOf({limitRecord(90, 0, sys.now())}));
    for (int cycle = 0; cycle < 10; ++cycle) {
        sys.login("kid");
        if (!monitor) start();
        for (int i = 0; i < 12; ++i) tick();  // 60 s, but the very first tick counts nothing
        sys.logout();
        tick();
    }
    // 595 counted seconds, each minute taking 65: nine whole minutes.
    EXPECT_EQ(monitor->umin, 9u);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 9);
}

TEST_F(TickTest, SighupMakesTheNextTickAFirstTick) {
    plantRunningSettings();
    plantPolicy(listOf({limitRecord(90, 10, sys.now())}));
    sys.login("kid");
    start();
    installSignalHandlers(sys, *monitor);
    tickUntil([&] { return monitor->umin == 11; });
    monitor->warning = true;

    // The administrator installs a new policy and signals the daemon.
    plantStore(listOf({limitRecord(90, 30, sys.now())}));
    ASSERT_TRUE(sys.raise(SIGHUP));
    EXPECT_TRUE(monitor->switched);
    tick();
    EXPECT_EQ(monitor->umin, 30u);
    EXPECT_FALSE(monitor->warning);
    EXPECT_EQ(countLog("new user : kid - warn : 5 - allowed : 90 min - used 30 min"), 1u);
}

TEST_F(TickTest, SleepIsChargedAsWholeMinutesAndSecondsWhenTracked) {
    struct Case {
        const char* name;
        double asleep;  // seconds from sleep to wake; negative: the clock went back
        bool recordStart;
        uint32_t umin, uminsec;
    };
    const Case cases[] = {
        {"10 min 30 s", 630, true, 20 + 10, 30 + 5},
        {"45 s", 45, true, 20, 45 + 5},
        {"clock set back", -120, true, 20, 5},
        {"no recorded start", 300, false, 20, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        plantRunningSettings({{"tracksleep", Value::integer(1)}});
        plantPolicy(listOf({limitRecord(120, 20, sys.now())}));
        sys.login("kid");
        start();
        monitor->carriedSeconds.clear();  // each case starts without seconds counted before
        tick();
        monitor->sleepStart.reset();
        if (c.recordStart) monitor->sleepStart = CalendarDate(sys.now());
        monitor->sleepUser = "kid";
        monitor->sleepEnd = CalendarDate(sys.now() + c.asleep);
        monitor->wasSleeping = true;
        tick();
        EXPECT_EQ(monitor->umin, c.umin);
        EXPECT_EQ(monitor->uminsec, c.uminsec);
        EXPECT_FALSE(monitor->wasSleeping);
    }
}

TEST_F(TickTest, UntrackedSleepStaysPendingUntilTrackingIsOn) {
    plantRunningSettings();
    plantPolicy(listOf({limitRecord(120, 20, sys.now())}));
    sys.login("kid");
    start();
    tick();
    monitor->sleepStart = CalendarDate(sys.now());
    monitor->sleepUser = "kid";
    monitor->sleepEnd = CalendarDate(sys.now() + 600);
    monitor->wasSleeping = true;
    tick();
    EXPECT_EQ(monitor->umin, 20u);
    EXPECT_TRUE(monitor->wasSleeping);
    monitor->tracksleep = 1;
    tick();
    EXPECT_EQ(monitor->umin, 30u);
}

}  // namespace
}  // namespace hv::test
