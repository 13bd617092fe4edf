#include "platform/linux/console.h"

#include <pwd.h>
#include <systemd/sd-login.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/linux/files.h"

namespace hv {

namespace {

constexpr size_t kMaxSessionRecord = 64 * 1024;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

// logind's session ids are short names like "3" or "c1"; anything else must not become a path.
bool plausibleSessionId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::optional<std::string> accountName(uid_t uid) {
    struct passwd entry {};
    struct passwd* result = nullptr;
    std::string buffer(16384, '\0');
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) != 0 || result == nullptr) {
        return std::nullopt;
    }
    return std::string(entry.pw_name);
}

}  // namespace

pid_t leaderFromSessionRecord(const std::string& record) {
    std::string_view rest(record);
    while (!rest.empty()) {
        const size_t lineEnd = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, lineEnd);
        rest.remove_prefix(std::min(lineEnd + 1, rest.size()));
        if (!line.starts_with("LEADER=")) continue;
        const std::string value(line.substr(7));
        if (value.empty() || value.size() > 10) return 0;
        char* end = nullptr;
        const long pid = std::strtol(value.c_str(), &end, 10);
        if (*end != '\0' || pid <= 0 || pid > 0x7fffffff) return 0;
        return static_cast<pid_t>(pid);
    }
    return 0;
}

std::optional<ConsoleSession> activeConsoleSession(const std::string& sessionsDir) {
    char* rawSession = nullptr;
    uid_t uid = 0;
    if (sd_seat_get_active("seat0", &rawSession, &uid) < 0 || rawSession == nullptr) return std::nullopt;
    const CString session(rawSession);

    char* rawClass = nullptr;
    if (sd_session_get_class(session.get(), &rawClass) < 0 || rawClass == nullptr) return std::nullopt;
    const CString sessionClass(rawClass);
    if (std::string(sessionClass.get()) != "user") return std::nullopt;

    std::optional<std::string> name = accountName(uid);
    if (!name) return std::nullopt;

    ConsoleSession result;
    result.id = session.get();
    result.uid = uid;
    result.userName = std::move(*name);
    if (plausibleSessionId(result.id)) {
        const ReadResult record = readRegularFile(sessionsDir + "/" + result.id, kMaxSessionRecord);
        if (record.bytes) result.leader = leaderFromSessionRecord(*record.bytes);
    }
    return result;
}

std::optional<ConsoleSession> ConsoleLookup::current() {
    // "Nobody" is also the answer when the user database could not be asked (a directory service
    // that did not answer): it is never kept, so such a failure lasts one lookup, not until the
    // next change of logind's records. The watch is asked every time all the same, so that it
    // stays current.
    if (watch_.changed() || !session_) session_ = activeConsoleSession();
    return session_;
}

}  // namespace hv
