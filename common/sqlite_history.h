#pragma once

// The usage history in an SQLite database (the root-held store's history.sqlite): WAL mode, so
// the writers (the login check, grants, folds of the daemon's journal) and the readers' queries do
// not wait on each other, and a short busy timeout, so a writer that finds the database locked by
// another fails soon rather than holding up its caller (a login, a fold the next reader retries).
//
// Schema version 2 (PRAGMA user_version): days(account, day, used, allowance, granted),
// apps(account, day, app, minutes), events(id, account, day, time, kind, detail); `day` is the
// local date as yyyymmdd; journal_folded(one, journal, offset), the one row saying how far the
// daemon's journal (common/history_journal.h) has been folded in. A version 1 database is given the
// new table on open; one of a later version is refused, never rewritten.

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "common/history.h"

struct sqlite3;
struct sqlite3_stmt;

namespace hv {

class SqliteHistory final : public HistoryStore {
public:
    // Nothing is opened yet: the first write creates the file (mode 0600, never through a
    // symbolic link; the directory must exist) and its schema. A connection that failed is
    // closed, and the next call opens afresh.
    SqliteHistory(std::string path, int busyMilliseconds);
    ~SqliteHistory() override;
    SqliteHistory(const SqliteHistory&) = delete;
    SqliteHistory& operator=(const SqliteHistory&) = delete;

    bool write(const HistoryWrite& batch, std::string& error) override;
    std::optional<std::vector<HistoryDay>> read(const std::string& account, int firstDay, int lastDay,
                                                std::string& error) override;

    // How far a journal has been folded in: its id and the offset just past its last line applied.
    struct JournalMark {
        std::string journal;
        uint64_t offset = 0;
    };
    // The mark the last fold left; an empty one when none did or there is no database yet.
    std::optional<JournalMark> journalMark(std::string& error);
    // Writes the batches in order, as `write` would each, and the new mark, in one transaction:
    // all of it lands, or none does.
    bool fold(std::span<const HistoryWrite> batches, const JournalMark& mark, std::string& error);

private:
    // Opens the database, creating it and its schema when `create`; false with `error` otherwise.
    // With `create` false, a missing file is `missing` and no error.
    bool open(bool create, bool& missing, std::string& error);
    void close();
    // A prepared statement for `sql`, kept for the connection's life; null with `error` set.
    sqlite3_stmt* statement(const char* sql, std::string& error);
    bool execute(const char* sql, std::string& error);
    // Runs the kept statement for `sql` (one without rows) to its end.
    bool step(const char* sql, std::string& error);
    bool writeAll(const HistoryWrite& batch, std::string& error);
    // One transaction for the batches and, when given, the mark.
    bool writeBatches(std::span<const HistoryWrite> batches, const JournalMark* mark, std::string& error);

    const std::string path_;
    const int busyMilliseconds_;
    sqlite3* db_ = nullptr;
    std::map<const char*, sqlite3_stmt*> statements_;
};

}  // namespace hv
