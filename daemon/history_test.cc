#include <sqlite3.h>

#include "common/sqlite_history.h"
#include "daemon/monitors_fixture.h"
#include "platform/linux/test_dir.h"

namespace hv::test {
namespace {

constexpr int kSunday = 20261206;

// Kid at the console with a real history database in a temporary directory.
class HistoryTest : public MonitorTest {
protected:
    HistoryTest() : store(dir.file("history.sqlite"), 1) {}

    Monitor& kidAtConsole(int32_t allowance, int32_t used) {
        plantRunningSettings({{"appmon", Value::integer(1)}});
        plantPolicy(listOf({limitRecord(allowance, used, sys.now() - 3600),
                            appRecord("game.app", Value::integer(30, 'i'), Value::integer(0, 'i'))}));
        session = sys.login("kid");
        monitor = std::make_unique<Monitor>(sys, config);
        monitor->history = &store;
        return start();
    }

    HistoryDay day(int date) {
        std::string error;
        const auto days = store.read("kid", date, date, error);
        EXPECT_TRUE(days) << error;
        return days && days->size() == 1 ? days->front() : HistoryDay{};
    }
    static std::vector<std::string> kinds(const HistoryDay& d) {
        std::vector<std::string> k;
        for (const HistoryEvent& e : d.events) k.push_back(e.kind + (e.detail.empty() ? "" : ":" + e.detail));
        return k;
    }

    TestDir dir;
    SqliteHistory store;
    ConsoleSession session;
};

TEST_F(HistoryTest, TheDaysMinutesApplicationsAndEventsArriveWithTheSaves) {
    kidAtConsole(10, 6);
    sys.addProcess(session.uid, "game");
    tickUntil([&] { return monitor->umin == 8; });
    HistoryDay d = day(kSunday);
    EXPECT_EQ(d.used, 8);
    EXPECT_EQ(d.allowance, 10u);
    EXPECT_EQ(kinds(d), std::vector<std::string>{"warning"});
    EXPECT_EQ(d.events.at(0).time.substr(0, 11), "2026-12-06T");

    tickUntil([&] { return !sys.terminatedUsers.empty(); });
    d = day(kSunday);
    EXPECT_EQ(d.used, 10);
    EXPECT_EQ(kinds(d), (std::vector<std::string>{"warning", "logout"}));
    // The application's minutes are the ones the policy file holds.
    const int32_t game = savedPolicy("kid", config.storePolicyPath("kid")).at(1)->usage().intValue();
    ASSERT_GT(game, 0);
    EXPECT_EQ(d.apps, (std::map<std::string, int32_t>{{"game.app", game}}));
}

TEST_F(HistoryTest, UsedUpApplicationEndedIsAnEventOncePerProcess) {
    kidAtConsole(0, 0);
    recordAt(monitor->userlist, 1)->setUsage(Value::integer(30, 'i'));
    recordAt(monitor->userlist, 1)->setDate(CalendarDate(sys.now()).toValue());
    sys.addProcess(session.uid, "game");
    for (int i = 0; i < 3; ++i) tick();
    EXPECT_EQ(kinds(day(kSunday)), std::vector<std::string>{"app-ended:game.app"});
}

TEST_F(HistoryTest, ALockedDatabaseIsSaidOnceAndWrittenLater) {
    kidAtConsole(60, 0);
    tickUntil([&] { return monitor->umin == 1; });
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("history.sqlite").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    tickUntil([&] { return monitor->umin == 4; });
    size_t failures = 0;
    for (const std::string& m : logMessages()) failures += m.rfind("history could not be written", 0) == 0;
    EXPECT_EQ(failures, 1u);
    EXPECT_EQ(day(kSunday).used, 1) << "nothing was written while locked";
    monitor->recordEvent(kEventQuota);

    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    tickUntil([&] { return monitor->umin == 6; });
    EXPECT_EQ(countLog("history written again to " + config.storeHistoryPath()), 1u);
    EXPECT_EQ(day(kSunday).used, 6);
    EXPECT_EQ(kinds(day(kSunday)), std::vector<std::string>{"quota"}) << "kept while the database was locked";
}

TEST_F(HistoryTest, DaysOlderThanKeptArePrunedOncePerDate) {
    std::string error;
    ASSERT_TRUE(store.write(HistoryWrite{{{"kid", shiftDay(kSunday, -kHistoryDays), 5, 60, 0, {}},
                                          {"kid", shiftDay(kSunday, -(kHistoryDays - 1)), 6, 60, 0, {}}},
                                         {},
                                         {}},
                            error))
        << error;
    kidAtConsole(0, 0);
    sys.setTime(utc(2026, 12, 6, 23, 55));
    tickUntil([&] { return monitor->umin == 1; });
    std::vector<HistoryDay> days = *store.read("kid", 0, 99991231, error);
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0].day, shiftDay(kSunday, -(kHistoryDays - 1)));
    EXPECT_EQ(days[1].day, kSunday);

    tickUntil([&] { return monitor->lastResetDay == 20261207; });
    tick();
    days = *store.read("kid", 0, 99991231, error);
    ASSERT_EQ(days.size(), 2u) << "the day 400 days before Monday is gone at Monday's reset";
    EXPECT_EQ(days[0].day, kSunday);
    EXPECT_EQ(days[1].day, 20261207);
}

}  // namespace
}  // namespace hv::test
