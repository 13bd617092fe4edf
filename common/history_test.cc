#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/history_fold.h"
#include "common/history_journal.h"
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

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// The same writes, straight into the database (the login check, grants) or through the daemon's
// journal folded in before each read (`horavelctl history`), read back the same.
void writesReadsAndPrunes(bool throughJournal) {
    TestDir dir;
    const std::string path = dir.file("history.sqlite");
    SqliteHistory store(path, 200);
    HistoryJournal journal(dir.file("history.journal"));
    const auto read = [&](const std::string& account = "kid") {
        if (throughJournal) {
            std::string error;
            const auto folded = foldHistoryJournal(dir.file("history.journal"), store, error);
            EXPECT_TRUE(folded) << error;
            EXPECT_EQ(folded ? folded->skipped : 1u, 0u);
        }
        return readAll(store, account);
    };
    EXPECT_THAT(read(), ::testing::IsEmpty()) << "no database yet is no history";
    EXPECT_FALSE(std::filesystem::exists(path)) << "reading (and folding no journal) creates nothing";

    struct Step {
        const char* what;
        std::vector<HistoryWrite> writes;
        // What kid's days read back as afterwards: date, used, allowance, granted, apps, event kinds.
        std::vector<std::tuple<int, int32_t, uint32_t, int32_t, std::map<std::string, int32_t>, std::vector<std::string>>>
            expected;
    } steps[] = {
        {"first minutes and an event",
         {{{{"kid", kToday, 3, 60, 0, {{"game.app", 2}}}}, {{"kid", kToday, "2026-12-07T10:00:00", "warning", ""}}, {}}},
         {{kToday, 3, 60, 0, {{"game.app", 2}}, {"warning"}}}},
        {"later saves replace the day's counts, the last of them wins; another account stays apart",
         {{{{"kid", kToday, 4, 60, 0, {{"game.app", 3}, {"old.app", 1}}}}, {}, {}},
          {{{"kid", kToday, 5, 60, 0, {{"game.app", 4}, {"chess.app", 1}}}, {"sis", kToday, 9, 30, 0, {}}},
           {{"kid", kToday, "2026-12-07T10:02:00", "app-ended", "game.app"}},
           {}}},
         {{kToday, 5, 60, 0, {{"chess.app", 1}, {"game.app", 4}}, {"warning", "app-ended"}}}},
        {"a grant changes allowance and grant only; its earlier event reads before a later one",
         {{{{"kid", kToday, std::nullopt, 60, 15, {}}}, {{"kid", kToday, "2026-12-07T10:01:00", "grant", "15"}}, {}}},
         {{kToday, 5, 60, 15, {{"chess.app", 1}, {"game.app", 4}}, {"warning", "grant", "app-ended"}}}},
        {"a grant on a day without a row starts it",
         {{{{"kid", 20261206, std::nullopt, 120, -10, {}}}, {}, {}}},
         {{20261206, 0, 120, -10, {}, {}}, {kToday, 5, 60, 15, {{"chess.app", 1}, {"game.app", 4}}, {"warning", "grant", "app-ended"}}}},
        {"days beyond the 400 kept are pruned",
         {{{{"kid", shiftDay(kToday, -kHistoryDays), 1, 60, 0, {{"old.app", 1}}},
            {"kid", shiftDay(kToday, -(kHistoryDays - 1)), 2, 60, 0, {}}},
           {{"kid", shiftDay(kToday, -kHistoryDays), "2025-11-02T10:00:00", "logout", ""}},
           shiftDay(kToday, -(kHistoryDays - 1))}},
         {{shiftDay(kToday, -(kHistoryDays - 1)), 2, 60, 0, {}, {}},
          {20261206, 0, 120, -10, {}, {}},
          {kToday, 5, 60, 15, {{"chess.app", 1}, {"game.app", 4}}, {"warning", "grant", "app-ended"}}}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        std::string error;
        for (const HistoryWrite& write : step.writes) {
            ASSERT_TRUE(throughJournal ? journal.write(write, error) : store.write(write, error)) << error;
        }
        const std::vector<HistoryDay> days = read();
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
    EXPECT_THAT(oneDay->front().events[2], (HistoryEvent{"kid", kToday, "2026-12-07T10:02:00", "app-ended", "game.app"}));
    if (throughJournal) {
        EXPECT_EQ(std::filesystem::file_size(dir.file("history.journal")), 0u);
        return;
    }

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

TEST(SqliteHistory, WritesReadsAndPrunes) {
    for (const bool throughJournal : {false, true}) {
        SCOPED_TRACE(throughJournal ? "through the journal" : "straight in");
        writesReadsAndPrunes(throughJournal);
    }
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

    ASSERT_EQ(other.exec("PRAGMA user_version = 3"), SQLITE_OK);
    SqliteHistory later(path, 20);
    EXPECT_FALSE(later.write(minute, error));
    EXPECT_THAT(error, HasSubstr("schema version 3"));
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

TEST(SqliteHistory, AVersion1DatabaseIsMigratedAndKeepsItsDays) {
    TestDir dir;
    const std::string path = dir.file("history.sqlite");
    {
        Other v1(path);
        ASSERT_EQ(v1.exec("CREATE TABLE days (account TEXT NOT NULL, day INTEGER NOT NULL, used INTEGER NOT NULL,"
                          " allowance INTEGER NOT NULL, granted INTEGER NOT NULL, PRIMARY KEY (account, day)) WITHOUT ROWID;"
                          "CREATE TABLE apps (account TEXT NOT NULL, day INTEGER NOT NULL, app TEXT NOT NULL,"
                          " minutes INTEGER NOT NULL, PRIMARY KEY (account, day, app)) WITHOUT ROWID;"
                          "CREATE TABLE events (id INTEGER PRIMARY KEY, account TEXT NOT NULL, day INTEGER NOT NULL,"
                          " time TEXT NOT NULL, kind TEXT NOT NULL, detail TEXT NOT NULL);"
                          "INSERT INTO days VALUES ('kid', 20261207, 7, 60, 0);"
                          "INSERT INTO events (account, day, time, kind, detail)"
                          " VALUES ('kid', 20261207, '2026-12-07T09:00:00', 'warning', '');"
                          "PRAGMA user_version = 1;"),
                  SQLITE_OK);
    }
    SqliteHistory store(path, 200);
    std::vector<HistoryDay> days = readAll(store);
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].used, 7);
    EXPECT_EQ(days[0].events.size(), 1u);
    HistoryJournal journal(dir.file("history.journal"));
    std::string error;
    ASSERT_TRUE(journal.write(HistoryWrite{{{"kid", kToday, 8, 60, 0, {}}}, {}, {}}, error)) << error;
    const auto folded = foldHistoryJournal(dir.file("history.journal"), store, error);
    ASSERT_TRUE(folded) << error;
    EXPECT_EQ(folded->applied, 1u);
    EXPECT_EQ(readAll(store).at(0).used, 8);
    Other after(path);
    sqlite3_stmt* version = nullptr;
    sqlite3_prepare_v2(after.db, "PRAGMA user_version", -1, &version, nullptr);
    ASSERT_EQ(sqlite3_step(version), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(version, 0), 2);
    sqlite3_finalize(version);
}

HistoryWrite minuteOf(int32_t used, const char* event) {
    return HistoryWrite{{{"kid", kToday, used, 60, 0, {}}}, {{"kid", kToday, "2026-12-07T10:00:00", event, ""}}, {}};
}

std::vector<std::string> eventKinds(SqliteHistory& store) {
    std::vector<std::string> kinds;
    for (const HistoryDay& day : readAll(store)) {
        for (const HistoryEvent& e : day.events) kinds.push_back(e.kind);
    }
    return kinds;
}

TEST(HistoryJournal, EachSaveIsFoldedOnceThroughACrashAndTornLines) {
    TestDir dir;
    const std::string path = dir.file("history.journal");
    SqliteHistory store(dir.file("history.sqlite"), 200);
    HistoryJournal journal(path);
    std::string error;
    ASSERT_TRUE(journal.write(minuteOf(1, "warning"), error)) << error;
    ASSERT_TRUE(journal.write(minuteOf(2, "logout"), error)) << error;

    // A fold that committed and died before emptying the journal: the batches and the mark are in.
    const HistoryJournalContents contents = parseHistoryJournal(fileText(path));
    ASSERT_EQ(contents.id.size(), 32u);
    ASSERT_EQ(contents.batches.size(), 2u);
    std::vector<HistoryWrite> batches;
    for (const auto& batch : contents.batches) batches.push_back(batch.write);
    ASSERT_TRUE(store.fold(batches, {contents.id, contents.end}, error)) << error;
    ASSERT_TRUE(journal.write(minuteOf(3, "quota"), error)) << error;
    std::optional<HistoryFold> folded = foldHistoryJournal(path, store, error);
    ASSERT_TRUE(folded) << error;
    EXPECT_EQ(folded->applied, 1u) << "only the save made after the crashed fold";
    EXPECT_EQ(eventKinds(store), (std::vector<std::string>{"warning", "logout", "quota"}));
    EXPECT_EQ(readAll(store).at(0).used, 3);
    EXPECT_EQ(fileText(path), "");

    // A save torn by a crash, then more saves: the torn line alone is lost, and a torn last line
    // is skipped too.
    ASSERT_TRUE(journal.write(minuteOf(4, "warning"), error)) << error;
    append(path, "\n{\"days\":[{\"acct\":\"ki");
    ASSERT_TRUE(journal.write(minuteOf(6, "range-logout"), error)) << error;
    append(path, "\n{\"days\":[],\"eve");
    const std::string header = fileText(path).substr(0, fileText(path).find('\n'));
    folded = foldHistoryJournal(path, store, error);
    ASSERT_TRUE(folded) << error;
    EXPECT_EQ(folded->applied, 2u);
    EXPECT_EQ(folded->skipped, 2u);
    EXPECT_EQ(readAll(store).at(0).used, 6);
    EXPECT_EQ(eventKinds(store), (std::vector<std::string>{"warning", "logout", "quota", "warning", "range-logout"}));
    EXPECT_EQ(fileText(path), "");
    ASSERT_TRUE(journal.write(minuteOf(7, "logout"), error)) << error;
    EXPECT_NE(fileText(path).substr(0, fileText(path).find('\n')), header) << "an emptied journal starts with a new id";
}

TEST(HistoryJournal, IsPrivateNeverALinkAndNeverWaitsForTheLock) {
    TestDir dir;
    const std::string path = dir.file("history.journal");
    HistoryJournal journal(path);
    SqliteHistory store(dir.file("history.sqlite"), 200);
    std::string error;
    ASSERT_TRUE(journal.write(minuteOf(1, "warning"), error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    const std::string one = fileText(path);
    EXPECT_THAT(one, ::testing::MatchesRegex("\\{\"journal\":\"[0-9a-f]{32}\"\\}\n\\{.*\\}\n"));

    // Held by a fold: the daemon's write fails at once and appends nothing; so does a second fold.
    const int holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_FALSE(journal.write(minuteOf(2, "logout"), error));
    EXPECT_EQ(error, path + " is locked (the history is being folded into the database)");
    EXPECT_FALSE(foldHistoryJournal(path, store, error));
    EXPECT_EQ(error, path + " is locked by another writer or fold");
    ::close(holder);
    EXPECT_EQ(fileText(path), one);

    // Full: refused until a fold empties it.
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kMaxJournalBytes)), 0);
    EXPECT_FALSE(journal.write(minuteOf(2, "logout"), error));
    EXPECT_THAT(error, HasSubstr("is full"));
    EXPECT_EQ(std::filesystem::file_size(path), kMaxJournalBytes);

    // A link at the path is neither written through nor folded through.
    const std::string linked = dir.file("linked.journal");
    const std::string target = dir.file("elsewhere");
    ASSERT_EQ(::symlink(target.c_str(), linked.c_str()), 0);
    EXPECT_FALSE(HistoryJournal(linked).write(minuteOf(1, "warning"), error));
    EXPECT_FALSE(std::filesystem::exists(target));
    std::ofstream(target) << one;
    EXPECT_FALSE(foldHistoryJournal(linked, store, error));
    EXPECT_EQ(fileText(target), one);
}

TEST(HistoryJournal, HostileLinesAreNoBatch) {
    const char* hostile[] = {
        "",
        "[]",
        "{}",
        "not json",
        R"({"days":{},"events":[]})",
        R"({"days":[],"events":[1]})",
        R"({"days":[{"acct":"kid","day":20261207,"allow":60,"grant":0}],"events":[]})",
        R"({"days":[{"acct":"kid","day":2.5e7,"allow":60,"grant":0,"apps":{}}],"events":[]})",
        R"({"days":[{"acct":"kid","day":"20261207","allow":60,"grant":0,"apps":{}}],"events":[]})",
        R"({"days":[{"acct":"kid","day":20261207,"allow":-1,"grant":0,"apps":{}}],"events":[]})",
        R"({"days":[{"acct":"kid","day":20261207,"allow":4294967296,"grant":0,"apps":{}}],"events":[]})",
        R"({"days":[{"acct":"kid","day":20261207,"allow":60,"grant":2147483648,"apps":{}}],"events":[]})",
        R"({"days":[{"acct":"kid","day":20261207,"allow":60,"grant":0,"used":1e300,"apps":{}}],"events":[]})",
        R"({"days":[{"acct":"kid","day":20261207,"allow":60,"grant":0,"used":18446744073709551615,"apps":{}}],"events":[]})",
        R"({"days":[{"acct":"kid","day":20261207,"allow":60,"grant":0,"apps":{"game.app":"5"}}],"events":[]})",
        R"({"days":[{"acct":7,"day":20261207,"allow":60,"grant":0,"apps":{}}],"events":[]})",
        R"({"days":[],"events":[{"acct":"kid","day":20261207,"time":"t","kind":"warning"}]})",
        R"({"days":[],"events":[],"prune":"20251103"})",
        R"({"days":[],"events":[],"prune":-9223372036854775808})",
        "{\"days\":[],\"events\":[{\"acct\":\"k\xff\",\"day\":1,\"time\":\"\",\"kind\":\"\",\"detail\":\"\"}]}",
        R"({"days":[],"events":[]} trailing)",
    };
    for (const char* line : hostile) EXPECT_FALSE(decodeHistoryBatch(line)) << line;

    // Whatever the names hold, a batch reads back as written, on one line.
    const HistoryWrite odd{{{"kid", kToday, -3, 4294967295u, -2147483647 - 1, {{"a \"b\"\n{c}.app", 2147483647}}},
                            {"kid", 20261206, std::nullopt, 0, 5, {}}},
                           {{"kid", kToday, "2026-12-07T10:00:00", "app-ended", "line\nbreak \u00e9\t\\"}},
                           20251103};
    const std::string line = encodeHistoryBatch(odd);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const std::optional<HistoryWrite> back = decodeHistoryBatch(line);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->usage.size(), 2u);
    EXPECT_EQ(back->usage[0].used, -3);
    EXPECT_EQ(back->usage[0].allowance, 4294967295u);
    EXPECT_EQ(back->usage[0].granted, -2147483647 - 1);
    EXPECT_EQ(back->usage[0].apps, odd.usage[0].apps);
    EXPECT_EQ(back->usage[1].used, std::nullopt);
    EXPECT_EQ(back->usage[1].granted, 5);
    EXPECT_EQ(back->events, odd.events);
    EXPECT_EQ(back->pruneBefore, 20251103);
    // A name that is not UTF-8 (the child names its programs) is kept, its odd bytes replaced.
    const std::optional<HistoryWrite> replaced =
        decodeHistoryBatch(encodeHistoryBatch({{}, {{"kid", kToday, "", kEventAppEnded, "bad\xff.app"}}, {}}));
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->events.at(0).detail, "bad\xef\xbf\xbd.app");

    // In a journal: the header, empty lines and an over-long line.
    const std::string journal = historyJournalHeader("abc") + "\n\n" + line + "\n" + "{" +
                                std::string(kMaxJournalLine, ' ') + "}\n\n" + line + "\n";
    const HistoryJournalContents contents = parseHistoryJournal(journal);
    EXPECT_EQ(contents.id, "abc");
    ASSERT_EQ(contents.batches.size(), 2u);
    EXPECT_EQ(contents.batches[1].end, journal.size());
    EXPECT_EQ(contents.end, journal.size());
    EXPECT_EQ(contents.skipped, 1u);
    EXPECT_EQ(parseHistoryJournal(line + "\n").id, "") << "no header: the lines still count";
    EXPECT_EQ(parseHistoryJournal(line + "\n").batches.size(), 1u);
}

}  // namespace
}  // namespace hv
