#include "platform/linux/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

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
    // The child's standard input becomes `fd` (the daemon's copy is closed by the caller).
    bool inputFrom(int fd) { return ok_ && posix_spawn_file_actions_adddup2(&actions_, fd, 0) == 0; }
    bool closeAllButStandard() {
        return ok_ && posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) return -1;
    }
    return status;
}

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
    return waitFor(pid);
}

int runProgramWithInput(const std::vector<std::string>& argv, const std::string& input) {
    constexpr size_t kPipeBuffer = 64 * 1024;
    if (argv.empty() || input.size() > kPipeBuffer) return -1;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    // The whole input goes into the pipe before the child exists: the write can neither block
    // on a child that does not read nor raise SIGPIPE on one that died at once.
    size_t written = 0;
    while (written < input.size()) {
        const ssize_t n = write(fds[1], input.data() + written, input.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    close(fds[1]);
    SpawnAttributes attributes;
    FileActions actions;
    if (written != input.size() || !attributes.cleanSignals() || !actions.inputFrom(fds[0]) ||
        !actions.closeAllButStandard()) {
        close(fds[0]);
        return -1;
    }
    std::vector<std::string> words = argv;
    std::vector<char*> pointers;
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, pointers[0], actions.get(), attributes.get(), pointers.data(), environ);
    close(fds[0]);
    return spawned == 0 ? waitFor(pid) : -1;
}

}  // namespace hv
