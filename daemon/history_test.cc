#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "common/history_fold.h"
#include "common/history_journal.h"
#include "common/sqlite_history.h"
#include "daemon/monitors_fixture.h"
#include "platform/linux/test_dir.h"

namespace hv::test {
namespace {

constexpr int kSunday = 20261206;

// Kid at the console with a real journal and history database in a temporary directory; each
// read folds the journal in first, as `horavelctl history` does.
class HistoryTest : public MonitorTest {
protected:
    HistoryTest() : journal(dir.file("history.journal")), store(dir.file("history.sqlite"), 1) {}

    Monitor& kidAtConsole(int32_t allowance, int32_t used) {
        plantRunningSettings({{"appmon", Value::integer(1)}});
        plantPolicy(listOf({limitRecord(allowance, used, sys.now() - 3600),
                            appRecord("game.app", Value::integer(30, 'i'), Value::integer(0, 'i'))}));
        session = sys.login("kid");
        monitor = std::make_unique<Monitor>(sys, config);
        monitor->history = &journal;
        return start();
    }

    std::vector<HistoryDay> days(int first, int last) {
        std::string error;
        EXPECT_TRUE(foldHistoryJournal(dir.file("history.journal"), store, error)) << error;
        const auto days = store.read("kid", first, last, error);
        EXPECT_TRUE(days) << error;
        return days ? *days : std::vector<HistoryDay>{};
    }
    HistoryDay day(int date) {
        const std::vector<HistoryDay> found = days(date, date);
        return found.size() == 1 ? found.front() : HistoryDay{};
    }
    static std::vector<std::string> kinds(const HistoryDay& d) {
        std::vector<std::string> k;
        for (const HistoryEvent& e : d.events) k.push_back(e.kind + (e.detail.empty() ? "" : ":" + e.detail));
        return k;
    }

    TestDir dir;
    HistoryJournal journal;
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

TEST_F(HistoryTest, ALockedJournalIsSaidOnceAndWrittenLater) {
    kidAtConsole(60, 0);
    tickUntil([&] { return monitor->umin == 1; });
    // A fold holds the journal's lock.
    const int fold = ::open(dir.file("history.journal").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(fold, LOCK_EX), 0);
    tickUntil([&] { return monitor->umin == 4; });
    size_t failures = 0;
    for (const std::string& m : logMessages()) failures += m.rfind("history could not be written", 0) == 0;
    EXPECT_EQ(failures, 1u);
    monitor->recordEvent(kEventQuota);
    ::close(fold);
    EXPECT_EQ(day(kSunday).used, 1) << "nothing was written while locked";

    tickUntil([&] { return monitor->umin == 6; });
    EXPECT_EQ(countLog("history written again to " + config.storeHistoryJournalPath()), 1u);
    EXPECT_EQ(day(kSunday).used, 6);
    EXPECT_EQ(kinds(day(kSunday)), std::vector<std::string>{"quota"}) << "kept while the journal was locked";
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
    std::vector<HistoryDay> stored = days(0, 99991231);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].day, shiftDay(kSunday, -(kHistoryDays - 1)));
    EXPECT_EQ(stored[1].day, kSunday);

    tickUntil([&] { return monitor->lastResetDay == 20261207; });
    tick();
    stored = days(0, 99991231);
    ASSERT_EQ(stored.size(), 2u) << "the day 400 days before Monday is gone at Monday's reset";
    EXPECT_EQ(stored[0].day, kSunday);
    EXPECT_EQ(stored[1].day, 20261207);
}

}  // namespace
}  // namespace hv::test
