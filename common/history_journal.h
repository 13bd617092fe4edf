#pragma once

// The daemon's side of the usage history: each HistoryWrite batch appended as one line of JSON to
// the journal beside the database (Config::storeHistoryJournalPath()), so that the daemon links no
// database. Whoever reads the history first folds the journal into the database
// (common/history_fold.h), and a daily timer does so when nobody reads.
//
// The file: a header line {"journal":"<32 hex digits>"} with a random id, written when the locked
// file is empty, then one batch per line:
//   {"days":[{"acct":..,"day":yyyymmdd,"used":..,"allow":..,"grant":..,"apps":{name:minutes}}],
//    "events":[{"acct":..,"day":..,"time":..,"kind":..,"detail":..}],"prune":yyyymmdd}
// ("used" and "prune" only when the batch has them). Each batch is written as "\n" + line + "\n",
// so that a line torn by a crash ends at the next batch's newline instead of swallowing it; the
// empty lines this leaves are nothing.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/history.h"

namespace hv {

// Past this size the journal takes no more batches (the writer fails, and the daemon keeps its
// batch and tries again a minute later): about a month of minutes when nobody folds.
inline constexpr size_t kMaxJournalBytes = 16u << 20;
// A longer line is not parsed (a batch holds at most the daemon's 1000 waiting events).
inline constexpr size_t kMaxJournalLine = 1u << 20;
// Lines beyond this many are not parsed.
inline constexpr size_t kMaxJournalLines = 200000;

class HistoryJournal final : public HistoryWriter {
public:
    explicit HistoryJournal(std::string path) : path_(std::move(path)) {}

    // Appends the batch with one write(2) to the file, opened for this call (created with mode
    // 0600, never through a symbolic link) and locked with flock(LOCK_EX | LOCK_NB). It does not
    // wait for the lock: a fold holds it while it writes the database, and a daemon tick must not
    // wait on a reader, so a locked journal fails the write ("... is locked") and the daemon tries
    // again a minute later. Fails as well when the journal is at kMaxJournalBytes or not a
    // regular file; a write that lands only in part is cut off again.
    bool write(const HistoryWrite& batch, std::string& error) override;

private:
    const std::string path_;
};

// The header line (no newline) of a journal with `id`.
std::string historyJournalHeader(const std::string& id);
// A batch as its journal line (no newline).
std::string encodeHistoryBatch(const HistoryWrite& batch);
// The batch of one journal line; nullopt for anything but a well-formed batch line.
std::optional<HistoryWrite> decodeHistoryBatch(std::string_view line);

// A journal's bytes as a fold sees them.
struct HistoryJournalContents {
    struct Batch {
        HistoryWrite write;
        size_t end = 0;  // offset just past the line's newline
    };
    std::string id;  // the header's; empty when the first line is no header
    std::vector<Batch> batches;  // in file order
    size_t end = 0;      // offset just past the last complete line
    size_t skipped = 0;  // lines neither header, batch nor empty, an unterminated last one included
};

// Parses complete lines (ending in "\n") of at most kMaxJournalLine bytes, up to kMaxJournalLines
// lines; longer, excess and unparsable lines are skipped and counted, never fatal.
HistoryJournalContents parseHistoryJournal(std::string_view bytes);

}  // namespace hv
