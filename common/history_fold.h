#pragma once

// Folding the daemon's journal (common/history_journal.h) into the database: done by whoever
// reads the history (`horavelctl history`, and so the admin service), by the daily
// `horavelctl history --fold`, and by `horavelctl grant` before it writes, so that the day's
// counts land in the order they were made.

#include <cstddef>
#include <optional>
#include <string>

#include "common/sqlite_history.h"

namespace hv {

struct HistoryFold {
    size_t applied = 0;  // batches written to the database
    size_t skipped = 0;  // lines that were no batch (torn, damaged, too long), and bytes past the bound
};

// Takes the journal's lock (flock, without waiting: a fold that finds it held fails, to be tried
// by the next reader), parses its complete lines, writes the batches not yet applied, in order,
// with the journal's id and the offset folded up to in one transaction, and empties the journal
// while still holding the lock. When a fold died between that commit and the emptying, the next
// sees the same id and starts past the recorded offset, so no batch is applied twice. Only the
// first kMaxJournalBytes + kMaxJournalLine bytes are read; what lies past them (no writer puts it
// there) is dropped with the rest and counted as one skipped line. A missing journal is nothing to
// fold. nullopt with `error` (one line) when the journal cannot be opened, locked or read, or the
// database not written; the journal is then left as it was.
std::optional<HistoryFold> foldHistoryJournal(const std::string& journalPath, SqliteHistory& store,
                                              std::string& error);

}  // namespace hv
