#include "pam/login_decision.h"

#include <sys/stat.h>

#include <optional>

#include "common/grant.h"
#include "common/login_check.h"
#include "common/policy_store.h"
#include "common/table_element.h"
#include "foundation/property_list.h"
#include "platform/linux/files.h"

namespace hv {

namespace {

// The decoders refuse more than this anyway; the cap keeps a huge file from being read at all.
constexpr size_t kMaxFileBytes = 1 << 20;

// A reason may quote the file; it must not start a line of its own in the system log.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return text;
}

bool ownedAlone(const FileInfo& info, uid_t owner) {
    return S_ISREG(info.mode) && info.uid == owner && (info.mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The bytes of a file that only `owner` could have written, or why there are none.
std::optional<std::string> readOwned(const std::string& path, uid_t owner, ReadResult& read,
                                     std::string& why) {
    read = readRegularFile(path, kMaxFileBytes);
    if (!read.bytes) {
        why = read.error;
        return std::nullopt;
    }
    if (!read.info || !ownedAlone(*read.info, owner)) {
        why = "not owned by root and writable only by root";
        return std::nullopt;
    }
    return std::move(read.bytes);
}

// The policy list a store file holds, decoded as the daemon decodes it: a list of policy
// records and nothing else.
std::optional<Array> policyAt(const std::string& path, uid_t owner, bool& missing,
                              std::string& why) {
    ReadResult read;
    const std::optional<std::string> bytes = readOwned(path, owner, read, why);
    missing = read.missing;
    if (!bytes) return std::nullopt;
    PolicyListDecode decoded = decodePolicyList(*bytes);
    if (!decoded.list) why = decoded.why;
    return std::move(decoded.list);
}

// The settings, from a file that root alone could have written; nullopt (with a reason, unless
// there is simply no file) otherwise.
std::optional<LoginSettings> settingsAt(const std::string& path, uid_t owner, std::string& why) {
    ReadResult read;
    const std::optional<std::string> bytes = readOwned(path, owner, read, why);
    if (!bytes) {
        if (read.missing) why.clear();
        return std::nullopt;
    }
    const DecodeResult decoded = readPropertyList(*bytes);
    if (!decoded.ok() || decoded.value.dictionary() == nullptr) {
        why = decoded.ok() ? "not a dictionary" : decoded.error->message;
        return std::nullopt;
    }
    const Value& dict = decoded.value;
    return LoginSettings{static_cast<uint32_t>(dict["status"].intValue()),
                         static_cast<uint32_t>(dict["keeplimit"].intValue())};
}

// The account's grant, from a file that root alone could have written; none otherwise (a grant
// can only let more in, or take time the allowance gave: without it the policy decides alone).
std::optional<Grant> grantAt(const std::string& path, uid_t owner) {
    ReadResult read;
    std::string why;
    const std::optional<std::string> bytes = readOwned(path, owner, read, why);
    return bytes ? parseGrant(*bytes) : std::nullopt;
}

}  // namespace

LoginDecision decideLogin(const Config& config, const std::string& account, double unixTime,
                          uid_t owner) {
    LoginDecision decision;
    if (!usableAccountName(account)) return decision;

    // Registered once per process (the host may run logins on several threads); registering again
    // would replace the coding while another thread decodes with it.
    [[maybe_unused]] static const bool registered = (registerTableElement(), true);
    const std::string entry = config.storePolicyPath(account);
    bool missing = false;
    std::string why;
    std::optional<Array> list = policyAt(entry, owner, missing, why);
    if (!list) {
        // Managed, as the daemon sees it, is having an entry or its previous copy.
        const std::string previous = config.storePreviousPath(account);
        std::string whyPrevious;
        bool previousMissing = false;
        list = policyAt(previous, owner, previousMissing, whyPrevious);
        if (missing && previousMissing) return decision;
        if (!list) {
            decision.notes.push_back("store entry " + entry + " cannot be used (" + printable(why) +
                                     "), nor its previous copy (" + printable(whyPrevious) +
                                     "): login of " + account + " allowed");
            return decision;
        }
        decision.notes.push_back("store entry " + entry + " cannot be used (" + printable(why) +
                                 "): deciding from " + previous);
    }

    const std::optional<LoginSettings> settings = settingsAt(config.settingsFile, owner, why);
    if (!settings) {
        if (!why.empty()) {
            decision.notes.push_back("settings file " + config.settingsFile + " ignored (" +
                                     printable(why) + "): login of " + account + " allowed");
        }
        return decision;
    }

    const LoginVerdict verdict = checkLogin(*list, *settings, unixTime, grantAt(config.storeGrantPath(account), owner));
    if (verdict.allowed()) return decision;
    decision.refuse = true;
    decision.message = refusalMessage(account, verdict);
    decision.notes.push_back("login of " + account + " refused: " + decision.message);
    return decision;
}

}  // namespace hv
