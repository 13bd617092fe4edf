#include "common/sqlite_history.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace hv {

namespace {

constexpr int kSchemaVersion = 2;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS days (account TEXT NOT NULL, day INTEGER NOT NULL, used INTEGER NOT NULL,"
    " allowance INTEGER NOT NULL, granted INTEGER NOT NULL, PRIMARY KEY (account, day)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS apps (account TEXT NOT NULL, day INTEGER NOT NULL, app TEXT NOT NULL,"
    " minutes INTEGER NOT NULL, PRIMARY KEY (account, day, app)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY, account TEXT NOT NULL, day INTEGER NOT NULL,"
    " time TEXT NOT NULL, kind TEXT NOT NULL, detail TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS events_by_day ON events (account, day);"
    "CREATE TABLE IF NOT EXISTS journal_folded (one INTEGER PRIMARY KEY CHECK (one = 1), journal TEXT NOT NULL,"
    " offset INTEGER NOT NULL);"
    "PRAGMA user_version = 2;";
// Version 1 lacked only the journal's mark.
constexpr const char* kMigrateFrom1 =
    "CREATE TABLE IF NOT EXISTS journal_folded (one INTEGER PRIMARY KEY CHECK (one = 1), journal TEXT NOT NULL,"
    " offset INTEGER NOT NULL);"
    "PRAGMA user_version = 2;";

// Prepared once, like the statements below: parsing them again on every save would cost more than
// the rest of the write.
constexpr const char* kBegin = "BEGIN IMMEDIATE";
constexpr const char* kCommit = "COMMIT";
constexpr const char* kDayUsed =
    "INSERT INTO days (account, day, used, allowance, granted) VALUES (?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT (account, day) DO UPDATE SET used = excluded.used, allowance = excluded.allowance,"
    " granted = excluded.granted";
constexpr const char* kDayGranted =
    "INSERT INTO days (account, day, used, allowance, granted) VALUES (?1, ?2, 0, ?4, ?5)"
    " ON CONFLICT (account, day) DO UPDATE SET allowance = excluded.allowance, granted = excluded.granted";
constexpr const char* kAppsClear = "DELETE FROM apps WHERE account = ?1 AND day = ?2";
constexpr const char* kAppMinutes = "INSERT INTO apps (account, day, app, minutes) VALUES (?1, ?2, ?3, ?4)";
constexpr const char* kEvent = "INSERT INTO events (account, day, time, kind, detail) VALUES (?1, ?2, ?3, ?4, ?5)";
constexpr const char* kPruneDays = "DELETE FROM days WHERE day < ?1";
constexpr const char* kPruneApps = "DELETE FROM apps WHERE day < ?1";
constexpr const char* kPruneEvents = "DELETE FROM events WHERE day < ?1";
constexpr const char* kReadDays =
    "SELECT day, used, allowance, granted FROM days WHERE account = ?1 AND day BETWEEN ?2 AND ?3";
constexpr const char* kReadApps = "SELECT day, app, minutes FROM apps WHERE account = ?1 AND day BETWEEN ?2 AND ?3";
// Grants and refused logins are written straight in, the daemon's events when its journal is
// folded: the time orders them, the order of writing only within a second.
constexpr const char* kReadEvents =
    "SELECT day, time, kind, detail FROM events WHERE account = ?1 AND day BETWEEN ?2 AND ?3 ORDER BY time, id";
constexpr const char* kReadMark = "SELECT journal, offset FROM journal_folded";
constexpr const char* kWriteMark = "INSERT OR REPLACE INTO journal_folded (one, journal, offset) VALUES (1, ?1, ?2)";

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* s, int index) {
    const unsigned char* text = sqlite3_column_text(s, index);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(s, index)))
                : std::string();
}

}  // namespace

SqliteHistory::SqliteHistory(std::string path, int busyMilliseconds)
    : path_(std::move(path)), busyMilliseconds_(busyMilliseconds) {}

SqliteHistory::~SqliteHistory() { close(); }

void SqliteHistory::close() {
    for (auto& [sql, s] : statements_) sqlite3_finalize(s);
    statements_.clear();
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

bool SqliteHistory::open(bool create, bool& missing, std::string& error) {
    missing = false;
    if (db_) return true;
    if (create) {
        // SQLite would create the file with the umask's mode; the history is root's alone, and
        // the journal files take the mode of the database.
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
        } else if (errno != EEXIST) {
            error = "cannot create " + path_ + ": " + std::strerror(errno);
            return false;
        }
    } else if (::access(path_.c_str(), F_OK) != 0 && errno == ENOENT) {
        missing = true;
        return false;
    }
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
        error = "cannot open " + path_ + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, busyMilliseconds_);
    sqlite3_stmt* version = nullptr;
    int found = -1;
    if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &version, nullptr) == SQLITE_OK &&
        sqlite3_step(version) == SQLITE_ROW) {
        found = sqlite3_column_int(version, 0);
    }
    sqlite3_finalize(version);
    if (found < 0) {
        error = path_ + ": " + sqlite3_errmsg(db_);
        close();
        return false;
    }
    if (found > kSchemaVersion) {
        error = path_ + " has schema version " + std::to_string(found) + ", newer than this program's " +
                std::to_string(kSchemaVersion);
        close();
        return false;
    }
    // WAL lets readers and the one writer go on side by side; with it, NORMAL syncs only at
    // checkpoints, and a crash loses at most the last minutes, never the database.
    if (!execute("PRAGMA journal_mode = WAL", error) || !execute("PRAGMA synchronous = NORMAL", error)) {
        close();
        return false;
    }
    if (found == 0 && !create) {
        // Created, but not yet given its schema by the first writer: no days yet.
        close();
        missing = true;
        return false;
    }
    if (found < kSchemaVersion) {
        // A reader migrates too: the change only adds a table, and both statements would do nothing
        // on a database another process migrated meanwhile.
        if (!execute("BEGIN IMMEDIATE", error)) {
            close();
            return false;
        }
        if (!execute(found == 0 ? kSchema : kMigrateFrom1, error) || !execute("COMMIT", error)) {
            close();
            return false;
        }
    }
    return true;
}

bool SqliteHistory::execute(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = path_ + ": " + (message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

sqlite3_stmt* SqliteHistory::statement(const char* sql, std::string& error) {
    if (const auto found = statements_.find(sql); found != statements_.end()) {
        sqlite3_reset(found->second);
        sqlite3_clear_bindings(found->second);
        return found->second;
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
        error = path_ + ": " + sqlite3_errmsg(db_);
        sqlite3_finalize(s);
        return nullptr;
    }
    statements_.emplace(sql, s);
    return s;
}

bool SqliteHistory::write(const HistoryWrite& batch, std::string& error) {
    return writeBatches(std::span(&batch, 1), nullptr, error);
}

bool SqliteHistory::fold(std::span<const HistoryWrite> batches, const JournalMark& mark, std::string& error) {
    return writeBatches(batches, &mark, error);
}

std::optional<SqliteHistory::JournalMark> SqliteHistory::journalMark(std::string& error) {
    bool missing = false;
    if (!open(false, missing, error)) {
        if (missing) return JournalMark{};
        return std::nullopt;
    }
    sqlite3_stmt* s = statement(kReadMark, error);
    if (s == nullptr) {
        close();
        return std::nullopt;
    }
    JournalMark mark;
    const int step = sqlite3_step(s);
    if (step == SQLITE_ROW) {
        mark.journal = columnText(s, 0);
        mark.offset = static_cast<uint64_t>(sqlite3_column_int64(s, 1));
    }
    sqlite3_reset(s);
    if (step == SQLITE_ROW || step == SQLITE_DONE) return mark;
    error = path_ + ": " + sqlite3_errmsg(db_);
    close();
    return std::nullopt;
}

bool SqliteHistory::writeBatches(std::span<const HistoryWrite> batches, const JournalMark* mark, std::string& error) {
    bool missing = false;
    if (!open(true, missing, error)) return false;
    // A fold empties the journal right after its commit: that commit must be on the disk first,
    // which NORMAL leaves to the next checkpoint.
    if (mark && !execute("PRAGMA synchronous = FULL", error)) {
        close();
        return false;
    }
    if (!step(kBegin, error)) {
        close();
        return false;
    }
    bool ok = true;
    for (const HistoryWrite& batch : batches) ok = ok && writeAll(batch, error);
    if (ok && mark) {
        sqlite3_stmt* s = statement(kWriteMark, error);
        ok = s != nullptr;
        if (ok) {
            bindText(s, 1, mark->journal);
            sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(mark->offset));
            ok = sqlite3_step(s) == SQLITE_DONE;
            if (!ok) error = path_ + ": " + sqlite3_errmsg(db_);
        }
    }
    if (ok && step(kCommit, error) && (!mark || execute("PRAGMA synchronous = NORMAL", error))) return true;
    // Whatever went wrong (a lock, a full disk, a file replaced), the next write starts from a
    // fresh connection; closing rolls back what this one began.
    close();
    return false;
}

bool SqliteHistory::step(const char* sql, std::string& error) {
    sqlite3_stmt* s = statement(sql, error);
    if (s == nullptr) return false;
    const bool done = sqlite3_step(s) == SQLITE_DONE;
    if (!done) error = path_ + ": " + sqlite3_errmsg(db_);
    sqlite3_reset(s);
    return done;
}

bool SqliteHistory::writeAll(const HistoryWrite& batch, std::string& error) {
    const auto run = [&](sqlite3_stmt* s) {
        if (s == nullptr) return false;
        if (sqlite3_step(s) == SQLITE_DONE) return true;
        error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
    };
    for (const DayUsage& usage : batch.usage) {
        sqlite3_stmt* day = statement(usage.used ? kDayUsed : kDayGranted, error);
        if (day == nullptr) return false;
        bindText(day, 1, usage.account);
        sqlite3_bind_int(day, 2, usage.day);
        if (usage.used) sqlite3_bind_int(day, 3, *usage.used);
        sqlite3_bind_int64(day, 4, usage.allowance);
        sqlite3_bind_int(day, 5, usage.granted);
        if (!run(day)) return false;
        if (!usage.used) continue;
        sqlite3_stmt* clear = statement(kAppsClear, error);
        if (clear == nullptr) return false;
        bindText(clear, 1, usage.account);
        sqlite3_bind_int(clear, 2, usage.day);
        if (!run(clear)) return false;
        for (const auto& [app, minutes] : usage.apps) {
            sqlite3_stmt* s = statement(kAppMinutes, error);
            if (s == nullptr) return false;
            bindText(s, 1, usage.account);
            sqlite3_bind_int(s, 2, usage.day);
            bindText(s, 3, app);
            sqlite3_bind_int(s, 4, minutes);
            if (!run(s)) return false;
        }
    }
    for (const HistoryEvent& event : batch.events) {
        sqlite3_stmt* s = statement(kEvent, error);
        if (s == nullptr) return false;
        bindText(s, 1, event.account);
        sqlite3_bind_int(s, 2, event.day);
        bindText(s, 3, event.time);
        bindText(s, 4, event.kind);
        bindText(s, 5, event.detail);
        if (!run(s)) return false;
    }
    if (batch.pruneBefore) {
        for (const char* sql : {kPruneDays, kPruneApps, kPruneEvents}) {
            sqlite3_stmt* s = statement(sql, error);
            if (s == nullptr) return false;
            sqlite3_bind_int(s, 1, *batch.pruneBefore);
            if (!run(s)) return false;
        }
    }
    return true;
}

std::optional<std::vector<HistoryDay>> SqliteHistory::read(const std::string& account, int firstDay, int lastDay,
                                                           std::string& error) {
    bool missing = false;
    if (!open(false, missing, error)) {
        if (missing) return std::vector<HistoryDay>{};
        return std::nullopt;
    }
    std::map<int, HistoryDay> days;
    const auto query = [&](const char* sql, auto&& row) {
        sqlite3_stmt* s = statement(sql, error);
        if (s == nullptr) return false;
        bindText(s, 1, account);
        sqlite3_bind_int(s, 2, firstDay);
        sqlite3_bind_int(s, 3, lastDay);
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(s)) == SQLITE_ROW) {
            HistoryDay& day = days[sqlite3_column_int(s, 0)];
            day.day = sqlite3_column_int(s, 0);
            row(s, day);
        }
        sqlite3_reset(s);
        if (step == SQLITE_DONE) return true;
        error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
    };
    // One read transaction: the three tables as one moment left them.
    const bool ok =
        execute("BEGIN", error) &&
        query(kReadDays,
              [](sqlite3_stmt* s, HistoryDay& day) {
                  day.counted = true;
                  day.used = sqlite3_column_int(s, 1);
                  day.allowance = static_cast<uint32_t>(sqlite3_column_int64(s, 2));
                  day.granted = sqlite3_column_int(s, 3);
              }) &&
        query(kReadApps,
              [](sqlite3_stmt* s, HistoryDay& day) { day.apps[columnText(s, 1)] = sqlite3_column_int(s, 2); }) &&
        query(kReadEvents,
              [&account](sqlite3_stmt* s, HistoryDay& day) {
                  day.events.push_back(
                      HistoryEvent{account, day.day, columnText(s, 1), columnText(s, 2), columnText(s, 3)});
              }) &&
        execute("COMMIT", error);
    if (!ok) {
        close();
        return std::nullopt;
    }
    std::vector<HistoryDay> result;
    for (auto& [date, day] : days) result.push_back(std::move(day));
    return result;
}

}  // namespace hv
