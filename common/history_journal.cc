#include "common/history_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/linux/unique_fd.h"

namespace hv {

namespace {

using Json = nlohmann::json;

constexpr size_t kIdBytes = 16;

// 32 hex digits from the kernel's generator; /dev/urandom when getrandom is not there or would
// block (early boot). Empty when neither answers.
std::string randomId() {
    unsigned char raw[kIdBytes] = {};
    if (getrandom(raw, sizeof raw, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof raw)) {
        UniqueFd urandom(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
        if (!urandom || ::read(urandom.get(), raw, sizeof raw) != static_cast<ssize_t>(sizeof raw)) return {};
    }
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char c : raw) {
        id += kHex[c >> 4];
        id += kHex[c & 15];
    }
    return id;
}

// An integer within [low, high]; a float, a string or anything out of range is none (a cast
// would not be defined for them).
std::optional<int64_t> integer(const Json& j, int64_t low, int64_t high) {
    int64_t value = 0;
    if (j.is_number_unsigned()) {
        const uint64_t u = j.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
        value = static_cast<int64_t>(u);
    } else if (j.is_number_integer()) {
        value = j.get<int64_t>();
    } else {
        return std::nullopt;
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<int64_t> integer(const Json& object, const char* key, int64_t low, int64_t high) {
    const auto found = object.find(key);
    return found == object.end() ? std::nullopt : integer(*found, low, high);
}

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kUint32Max = std::numeric_limits<uint32_t>::max();

const std::string* text(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get_ptr<const std::string*>() : nullptr;
}

std::optional<DayUsage> decodeDay(const Json& j) {
    if (!j.is_object()) return std::nullopt;
    const std::string* account = text(j, "acct");
    const auto day = integer(j, "day", 0, kInt32Max);
    const auto allowance = integer(j, "allow", 0, kUint32Max);
    const auto granted = integer(j, "grant", kInt32Min, kInt32Max);
    const auto apps = j.find("apps");
    if (!account || !day || !allowance || !granted || apps == j.end() || !apps->is_object()) return std::nullopt;
    DayUsage usage{*account, static_cast<int>(*day), std::nullopt, static_cast<uint32_t>(*allowance),
                   static_cast<int32_t>(*granted), {}};
    if (j.contains("used")) {
        const auto used = integer(j, "used", kInt32Min, kInt32Max);
        if (!used) return std::nullopt;
        usage.used = static_cast<int32_t>(*used);
    }
    for (const auto& [app, minutes] : apps->items()) {
        const auto value = integer(minutes, kInt32Min, kInt32Max);
        if (!value) return std::nullopt;
        usage.apps[app] = static_cast<int32_t>(*value);
    }
    return usage;
}

std::optional<HistoryEvent> decodeEvent(const Json& j) {
    if (!j.is_object()) return std::nullopt;
    const std::string* account = text(j, "acct");
    const auto day = integer(j, "day", 0, kInt32Max);
    const std::string* time = text(j, "time");
    const std::string* kind = text(j, "kind");
    const std::string* detail = text(j, "detail");
    if (!account || !day || !time || !kind || !detail) return std::nullopt;
    return HistoryEvent{*account, static_cast<int>(*day), *time, *kind, *detail};
}

}  // namespace

std::string historyJournalHeader(const std::string& id) { return Json{{"journal", id}}.dump(); }

std::string encodeHistoryBatch(const HistoryWrite& batch) {
    // Written once a minute in the daemon: the fixed frame and the numbers are put down directly,
    // and only the strings go through the library, which escapes them. Names and details come
    // from the child's side (application names): bytes that are not UTF-8 are replaced rather than
    // refused, so one odd name never stops the history.
    std::string out = "{\"days\":[";
    const auto string = [&out](const std::string& text) {
        out += Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
    };
    const auto number = [&out](int64_t value) { out += std::to_string(value); };
    const char* separator = "";
    for (const DayUsage& usage : batch.usage) {
        out += separator;
        out += "{\"acct\":";
        string(usage.account);
        out += ",\"day\":";
        number(usage.day);
        if (usage.used) {
            out += ",\"used\":";
            number(*usage.used);
        }
        out += ",\"allow\":";
        number(usage.allowance);
        out += ",\"grant\":";
        number(usage.granted);
        out += ",\"apps\":{";
        const char* comma = "";
        for (const auto& [app, minutes] : usage.apps) {
            out += comma;
            string(app);
            out += ':';
            number(minutes);
            comma = ",";
        }
        out += "}}";
        separator = ",";
    }
    out += "],\"events\":[";
    separator = "";
    for (const HistoryEvent& e : batch.events) {
        out += separator;
        out += "{\"acct\":";
        string(e.account);
        out += ",\"day\":";
        number(e.day);
        out += ",\"time\":";
        string(e.time);
        out += ",\"kind\":";
        string(e.kind);
        out += ",\"detail\":";
        string(e.detail);
        out += '}';
        separator = ",";
    }
    out += ']';
    if (batch.pruneBefore) {
        out += ",\"prune\":";
        number(*batch.pruneBefore);
    }
    out += '}';
    return out;
}

std::optional<HistoryWrite> decodeHistoryBatch(std::string_view line) {
    const Json j = Json::parse(line.begin(), line.end(), nullptr, false);
    if (!j.is_object()) return std::nullopt;
    const auto days = j.find("days");
    const auto events = j.find("events");
    if (days == j.end() || !days->is_array() || events == j.end() || !events->is_array()) return std::nullopt;
    HistoryWrite batch;
    for (const Json& d : *days) {
        std::optional<DayUsage> usage = decodeDay(d);
        if (!usage) return std::nullopt;
        batch.usage.push_back(std::move(*usage));
    }
    for (const Json& e : *events) {
        std::optional<HistoryEvent> event = decodeEvent(e);
        if (!event) return std::nullopt;
        batch.events.push_back(std::move(*event));
    }
    if (j.contains("prune")) {
        const auto prune = integer(j, "prune", 0, kInt32Max);
        if (!prune) return std::nullopt;
        batch.pruneBefore = static_cast<int>(*prune);
    }
    return batch;
}

HistoryJournalContents parseHistoryJournal(std::string_view bytes) {
    HistoryJournalContents contents;
    size_t lines = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t newline = bytes.find('\n', start);
        if (newline == std::string_view::npos) {
            // Torn by a crash: no writer is at work while the fold holds the lock.
            ++contents.skipped;
            break;
        }
        const std::string_view line = bytes.substr(start, newline - start);
        const size_t end = newline + 1;
        const bool first = start == 0;
        start = contents.end = end;
        if (line.empty()) continue;
        if (++lines > kMaxJournalLines || line.size() > kMaxJournalLine) {
            ++contents.skipped;
            continue;
        }
        if (first) {
            const Json header = Json::parse(line.begin(), line.end(), nullptr, false);
            const std::string* id = header.is_object() ? text(header, "journal") : nullptr;
            if (id) {
                contents.id = *id;
                continue;
            }
        }
        if (std::optional<HistoryWrite> batch = decodeHistoryBatch(line)) {
            contents.batches.push_back({std::move(*batch), end});
        } else {
            ++contents.skipped;
        }
    }
    return contents;
}

bool HistoryJournal::write(const HistoryWrite& batch, std::string& error) {
    std::string line = "\n" + encodeHistoryBatch(batch) + "\n";
    // Opened for each batch, as a log line is: nothing stays open in the daemon between minutes,
    // and a journal a fold has emptied (or removed) is simply started again.
    UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        error = "cannot open " + path_ + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? path_ + " is locked (the history is being folded into the database)"
                                     : "cannot lock " + path_ + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path_ + " is not a regular file";
        return false;
    }
    const auto size = static_cast<size_t>(info.st_size);
    if (size + line.size() > kMaxJournalBytes) {
        error = path_ + " is full (horavelctl history --fold empties it into the database)";
        return false;
    }
    if (size == 0) {
        const std::string id = randomId();
        if (id.empty()) {
            error = "no random journal id: neither getrandom nor /dev/urandom answered";
            return false;
        }
        line.replace(0, 0, historyJournalHeader(id));
    }
    const ssize_t written = ::write(fd.get(), line.data(), line.size());
    if (written == static_cast<ssize_t>(line.size())) return true;
    error = "cannot write " + path_ + ": " + (written < 0 ? std::strerror(errno) : "the disk took only part of it");
    // A part of a batch would be a torn line: the lock is still held, so the file is cut back.
    if (written > 0 && ::ftruncate(fd.get(), info.st_size) != 0) error += " (and it could not be cut back)";
    return false;
}

}  // namespace hv
