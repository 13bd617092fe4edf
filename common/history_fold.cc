#include "common/history_fold.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/history_journal.h"
#include "platform/linux/unique_fd.h"

namespace hv {

std::optional<HistoryFold> foldHistoryJournal(const std::string& journalPath, SqliteHistory& store,
                                              std::string& error) {
    // O_NONBLOCK: a FIFO planted at the path would otherwise hold the open.
    UniqueFd fd(::open(journalPath.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return HistoryFold{};
        error = "cannot open " + journalPath + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? journalPath + " is locked by another writer or fold"
                                     : "cannot lock " + journalPath + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = journalPath + " is not a regular file";
        return std::nullopt;
    }
    const auto size = static_cast<size_t>(info.st_size);
    if (size == 0) return HistoryFold{};
    std::string bytes(std::min(size, kMaxJournalBytes + kMaxJournalLine), '\0');
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t got = ::pread(fd.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            error = "cannot read " + journalPath + ": " + (got < 0 ? std::strerror(errno) : "it got shorter");
            return std::nullopt;
        }
        done += static_cast<size_t>(got);
    }

    const HistoryJournalContents contents = parseHistoryJournal(bytes);
    const std::optional<SqliteHistory::JournalMark> mark = store.journalMark(error);
    if (!mark) return std::nullopt;
    // The same journal as the last fold's: that fold committed and died before emptying it.
    const size_t from = mark->journal == contents.id ? mark->offset : 0;
    std::vector<HistoryWrite> batches;
    for (const HistoryJournalContents::Batch& batch : contents.batches) {
        if (batch.end > from) batches.push_back(batch.write);
    }
    if (!store.fold(batches, {contents.id, contents.end}, error)) return std::nullopt;
    if (::ftruncate(fd.get(), 0) != 0) {
        error = "folded " + journalPath + " but cannot empty it: " + std::strerror(errno);
        return std::nullopt;
    }
    return HistoryFold{batches.size(), contents.skipped + (size > bytes.size() ? 1 : 0)};
}

}  // namespace hv
