#pragma once

// The login decision for one account, made from root-held data only: the account's entry in the
// store and the settings file. The account's home file is never read: the account itself can
// write it. Every doubt allows the login, since a broken store must never lock anyone out; only a
// readable store entry whose limits are reached refuses.

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/config.h"

namespace hv {

struct LoginDecision {
    bool refuse = false;
    std::string message;             // for a refusal: the one line the login screen shows
    std::vector<std::string> notes;  // lines for the system log: the refusal, copies not used
};

// Decides for `account` at `unixTime` (local time from the C library's zone rules). Reads the
// store entry (Config::storePolicyPath) and, when it cannot be read or decoded, its previous copy
// (Config::storePreviousPath); then the settings file (Config::settingsFile). Allows when the
// account has neither a store entry nor its previous copy (it is not managed), when neither copy
// can be used, when there is no
// settings file that only `owner` could have written, and when monitoring is off. A file is used
// only when it is a regular file (a link at the path is not followed), at most 1 MiB, owned by
// `owner` (root; a test passes its own uid) and writable by no one else. The caller keeps root
// itself out of this: root is never refused, whatever the store says.
LoginDecision decideLogin(const Config& config, const std::string& account, double unixTime,
                          uid_t owner = 0);

}  // namespace hv
