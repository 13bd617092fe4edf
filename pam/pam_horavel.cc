// pam_horavel.so: an account module that refuses the login of a managed account whose time is up
// for today or who is outside its time ranges, with one line for the login screen. Everything else
// (root, unmanaged accounts, a store that cannot be read, monitoring off) is none of its business:
// it answers PAM_IGNORE, so the verdicts of the other modules stand as they are, whatever control
// flag the stack gives this one.
//
// The entry points are the module's composition root: they read the clock and the account
// database, hand the rest to decideLogin, record a refusal in the usage history and speak only
// through the PAM conversation and syslog.

#include <pwd.h>
#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <security/pam_modutil.h>
#include <syslog.h>

#include <ctime>
#include <string>

#include "common/grant.h"
#include "common/sqlite_history.h"
#include "pam/login_decision.h"

namespace {

// The refusal goes into the usage history. The daemon may hold the database for a moment: the
// login waits at most this long for it, and a refusal that cannot be recorded only says so in
// the system log.
constexpr int kHistoryBusyMilliseconds = 50;

void recordRefusal(pam_handle_t* pamh, const hv::Config& config, const std::string& account, double now,
                   const std::string& message) {
    hv::SqliteHistory history(config.storeHistoryPath(), kHistoryBusyMilliseconds);
    std::string error;
    const hv::HistoryWrite refusal{
        {}, {{account, hv::localDay(now), hv::historyTime(now), hv::kEventLoginRefused, message}}, {}};
    if (!history.write(refusal, error)) {
        pam_syslog(pamh, LOG_WARNING, "refusal not recorded in the history: %s", error.c_str());
    }
}

int accountCheck(pam_handle_t* pamh, int flags, int argc, const char** argv) {
    for (int i = 0; i < argc; ++i) {
        pam_syslog(pamh, LOG_ERR, "unknown option %s ignored", argv[i]);
    }
    const char* user = nullptr;
    if (pam_get_user(pamh, &user, nullptr) != PAM_SUCCESS || user == nullptr || *user == '\0') {
        return PAM_IGNORE;
    }
    const std::string account(user);
    // Root is never refused: the store must not be able to lock the administrator out.
    if (account == "root") return PAM_IGNORE;
    if (const struct passwd* entry = pam_modutil_getpwnam(pamh, user);
        entry && entry->pw_uid == 0) {
        return PAM_IGNORE;
    }

    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const hv::Config config;
    const double unixTime = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
    const hv::LoginDecision decision = hv::decideLogin(config, account, unixTime);
    for (const std::string& note : decision.notes) {
        pam_syslog(pamh, decision.refuse ? LOG_NOTICE : LOG_WARNING, "%s", note.c_str());
    }
    if (!decision.refuse) return PAM_IGNORE;
    recordRefusal(pamh, config, account, unixTime, decision.message);
    if ((flags & PAM_SILENT) == 0) pam_error(pamh, "%s", decision.message.c_str());
    return PAM_PERM_DENIED;
}

}  // namespace

extern "C" {

PAM_EXTERN int pam_sm_acct_mgmt(pam_handle_t* pamh, int flags, int argc, const char** argv) {
    // No exception may cross into the C caller; a failure here must not refuse anyone.
    try {
        return accountCheck(pamh, flags, argc, argv);
    } catch (...) {
        pam_syslog(pamh, LOG_ERR, "login check failed: login allowed");
        return PAM_IGNORE;
    }
}

// The module has no say in authentication, credentials, sessions or passwords.
PAM_EXTERN int pam_sm_authenticate(pam_handle_t*, int, int, const char**) { return PAM_IGNORE; }
PAM_EXTERN int pam_sm_setcred(pam_handle_t*, int, int, const char**) { return PAM_IGNORE; }
PAM_EXTERN int pam_sm_open_session(pam_handle_t*, int, int, const char**) { return PAM_IGNORE; }
PAM_EXTERN int pam_sm_close_session(pam_handle_t*, int, int, const char**) { return PAM_IGNORE; }
PAM_EXTERN int pam_sm_chauthtok(pam_handle_t*, int, int, const char**) { return PAM_IGNORE; }

}  // extern "C"
