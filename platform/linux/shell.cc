#include "platform/linux/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace hv {

namespace {

class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
    ~SpawnAttributes() {
        if (ok_) posix_spawnattr_destroy(&attr_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    // The daemon blocks the signals it takes through its loop; a child must not inherit that,
    // or `kill`, `ifconfig` and the account's script would run deaf to them.
    bool cleanSignals() {
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        return ok_ && posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
               posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
               posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }
    const posix_spawnattr_t* get() const { return &attr_; }

private:
    posix_spawnattr_t attr_;
    bool ok_ = false;
};

class FileActions {
public:
    FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~FileActions() {
        if (ok_) posix_spawn_file_actions_destroy(&actions_);
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    // Descriptors the daemon opens are close-on-exec already; this also catches any that a
    // library opened without it.
    bool closeAllButStandard() {
        return ok_ && posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

}  // namespace

int runShellCommand(const std::string& command) {
    SpawnAttributes attributes;
    FileActions actions;
    if (!attributes.cleanSignals() || !actions.closeAllButStandard()) return -1;

    char shell[] = "/bin/sh";
    char dashC[] = "-c";
    std::string text = command;
    char* argv[] = {shell, dashC, text.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, shell, actions.get(), attributes.get(), argv, environ) != 0) return -1;

    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) return -1;
    }
    return status;
}

}  // namespace hv
