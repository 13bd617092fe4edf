#pragma once

// The policy list as a file holds it, and an account's entry in the root-held store.
//
// The store keeps, for every managed account, the administrator's policy and the day's counts in
// a directory only root can reach: the child can delete, stash or rewrite the copy in its home,
// never this one. An entry that cannot be used gives way to its previous good copy.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/value.h"
#include "platform/config.h"
#include "platform/system.h"

namespace hv {

// The list of policy records that a keyed archive holds; nullopt with the reason when the bytes
// are no archive, its root is no list, or an element is no policy record. The reason may quote
// the file, so it is made safe to write on one log line.
struct PolicyListDecode {
    std::optional<Array> list;
    std::string why;
};
PolicyListDecode decodePolicyList(std::string_view bytes);

// An account's policy as the store holds it.
struct StoredPolicy {
    // The store has an entry for the account (or only its previous copy): the account is managed,
    // and its home file is never read back.
    bool managed = false;
    std::optional<Array> list;          // the list, when a copy could be read and decoded
    std::optional<FileInfo> info;       // of the copy that served, from the descriptor read
    bool fromPrevious = false;          // the entry was unusable and its previous copy served
    std::string problem;                // why the entry (and perhaps its copy) could not serve
};

// Reads a file without following a link, refusing anything but a regular file of at most
// kMaxStoreFile bytes (System::readFile, or readRegularFile outside the daemon).
using StoreReader = std::function<ReadResult(const std::string& path)>;
inline constexpr size_t kMaxStoreFile = 1 << 20;

// The store entry of `account`, falling back to its previous copy. Only files that root alone
// could have written serve.
StoredPolicy readStoredPolicy(const Config& config, const std::string& account, const StoreReader& read);

// Whether `name` can stand as one path component (an account's folder or store entry): not empty,
// not "." or "..", no slash, no NUL.
bool usableAccountName(std::string_view name);

}  // namespace hv
