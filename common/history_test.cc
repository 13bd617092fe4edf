#include <sqlite3.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/sqlite_history.h"
#include "platform/linux/test_dir.h"

namespace hv {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

constexpr int kToday = 20261207;

std::vector<HistoryDay> readAll(SqliteHistory& store, const std::string& account = "kid") {
    std::string error;
    auto days = store.read(account, 10000101, 99991231, error);
    EXPECT_TRUE(days) << error;
    return days ? *days : std::vector<HistoryDay>{};
}

// A second connection, as another process (the PAM module, a reader) would hold it.
struct Other {
    explicit Other(const std::string& path) { sqlite3_open(path.c_str(), &db); }
    ~Other() { sqlite3_close(db); }
    int exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
    sqlite3* db = nullptr;
};

TEST(HistoryDates, ShiftAndFormat) {
    struct Case {
        int day, by, expected;
    } cases[] = {{20261207, -399, 20251103}, {20240301, -1, 20240229}, {20261231, 1, 20270101}, {20261207, 0, 20261207}};
    for (const Case& c : cases) EXPECT_EQ(shiftDay(c.day, c.by), c.expected) << c.day << " " << c.by;
    EXPECT_EQ(isoDay(20260105), "2026-01-05");
}

TEST(SqliteHistory, WritesReadsAndPrunes) {
    TestDir dir;
    const std::string path = dir.file("history.sqlite");
    SqliteHistory store(path, 200);
    EXPECT_THAT(readAll(store), ::testing::IsEmpty()) << "no database yet is no history";
    EXPECT_FALSE(std::filesystem::exists(path)) << "reading creates nothing";

    struct Step {
        const char* what;
        HistoryWrite write;
        // What kid's days read back as afterwards: date, used, allowance, granted, apps, event kinds.
        std::vector<std::tuple<int, int32_t, uint32_t, int32_t, std::map<std::string, int32_t>, std::vector<std::string>>>
            expected;
    } steps[] = {
        {"first minutes and an event",
         {{{"kid", kToday, 3, 60, 0, {{"game.app", 2}}}}, {{"kid", kToday, "2026-12-07T10:00:00", "warning", ""}}, {}},
         {{kToday, 3, 60, 0, {{"game.app", 2}}, {"warning"}}}},
        {"a later save replaces the day's counts, another account stays apart",
         {{{"kid", kToday, 5, 60, 0, {{"game.app", 4}, {"chess.app", 1}}}, {"sis", kToday, 9, 30, 0, {}}},
          {{"kid", kToday, "2026-12-07T10:02:00", "app-ended", "game.app"}},
          {}},
         {{kToday, 5, 60, 0, {{"chess.app", 1}, {"game.app", 4}}, {"warning", "app-ended"}}}},
        {"a grant changes allowance and grant only",
         {{{"kid", kToday, std::nullopt, 60, 15, {}}}, {{"kid", kToday, "2026-12-07T10:03:00", "grant", "15"}}, {}},
         {{kToday, 5, 60, 15, {{"chess.app", 1}, {"game.app", 4}}, {"warning", "app-ended", "grant"}}}},
        {"a grant on a day without a row starts it",
         {{{"kid", 20261206, std::nullopt, 120, -10, {}}}, {}, {}},
         {{20261206, 0, 120, -10, {}, {}}, {kToday, 5, 60, 15, {{"chess.app", 1}, {"game.app", 4}}, {"warning", "app-ended", "grant"}}}},
        {"days beyond the 400 kept are pruned",
         {{{"kid", shiftDay(kToday, -kHistoryDays), 1, 60, 0, {{"old.app", 1}}},
           {"kid", shiftDay(kToday, -(kHistoryDays - 1)), 2, 60, 0, {}}},
          {{"kid", shiftDay(kToday, -kHistoryDays), "2025-11-02T10:00:00", "logout", ""}},
          shiftDay(kToday, -(kHistoryDays - 1))},
         {{shiftDay(kToday, -(kHistoryDays - 1)), 2, 60, 0, {}, {}},
          {20261206, 0, 120, -10, {}, {}},
          {kToday, 5, 60, 15, {{"chess.app", 1}, {"game.app", 4}}, {"warning", "app-ended", "grant"}}}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        std::string error;
        ASSERT_TRUE(store.write(step.write, error)) << error;
        const std::vector<HistoryDay> days = readAll(store);
        ASSERT_EQ(days.size(), step.expected.size());
        for (size_t i = 0; i < days.size(); ++i) {
            const auto& [day, used, allowance, granted, apps, kinds] = step.expected[i];
            EXPECT_EQ(days[i].day, day);
            EXPECT_EQ(days[i].used, used);
            EXPECT_EQ(days[i].allowance, allowance);
            EXPECT_EQ(days[i].granted, granted);
            EXPECT_EQ(days[i].apps, apps);
            std::vector<std::string> read;
            for (const HistoryEvent& e : days[i].events) read.push_back(e.kind);
            EXPECT_EQ(read, kinds);
        }
    }
    ASSERT_EQ(readAll(store, "sis").size(), 1u);
    EXPECT_EQ(readAll(store, "sis")[0].used, 9);
    std::string error;
    const auto oneDay = store.read("kid", kToday, kToday, error);
    ASSERT_TRUE(oneDay);
    ASSERT_EQ(oneDay->size(), 1u);
    EXPECT_THAT(oneDay->front().events[1], (HistoryEvent{"kid", kToday, "2026-12-07T10:02:00", "app-ended", "game.app"}));

    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    Other other(path);
    sqlite3_stmt* mode = nullptr;
    sqlite3_prepare_v2(other.db, "PRAGMA journal_mode", -1, &mode, nullptr);
    ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal");
    sqlite3_finalize(mode);
}

TEST(SqliteHistory, LockedOrNewerDatabaseFailsWithoutWriting) {
    TestDir dir;
    const std::string path = dir.file("history.sqlite");
    SqliteHistory store(path, 20);
    std::string error;
    const HistoryWrite minute{{{"kid", kToday, 1, 60, 0, {}}}, {}, {}};
    ASSERT_TRUE(store.write(minute, error)) << error;

    Other other(path);
    ASSERT_EQ(other.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    EXPECT_FALSE(store.write(HistoryWrite{{{"kid", kToday, 2, 60, 0, {}}}, {}, {}}, error));
    EXPECT_THAT(error, HasSubstr("locked"));
    ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
    EXPECT_EQ(readAll(store).at(0).used, 1) << "the failed write left nothing behind";
    ASSERT_TRUE(store.write(HistoryWrite{{{"kid", kToday, 2, 60, 0, {}}}, {}, {}}, error)) << error;
    EXPECT_EQ(readAll(store).at(0).used, 2);

    ASSERT_EQ(other.exec("PRAGMA user_version = 2"), SQLITE_OK);
    SqliteHistory later(path, 20);
    EXPECT_FALSE(later.write(minute, error));
    EXPECT_THAT(error, HasSubstr("schema version 2"));
    EXPECT_FALSE(later.read("kid", kToday, kToday, error));
}

TEST(SqliteHistory, NeverWritesThroughALink) {
    TestDir dir;
    const std::string target = dir.file("elsewhere");
    ASSERT_EQ(::symlink(target.c_str(), dir.file("history.sqlite").c_str()), 0);
    SqliteHistory store(dir.file("history.sqlite"), 20);
    std::string error;
    EXPECT_FALSE(store.write(HistoryWrite{{{"kid", kToday, 1, 60, 0, {}}}, {}, {}}, error));
    EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace hv
