#include "tools/install_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "installtool/install.h"

extern char** environ;

namespace hv {
namespace {

bool isExecutable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

struct Pipe {
    int fds[2] = {-1, -1};
    ~Pipe() {
        for (int fd : fds) {
            if (fd >= 0) ::close(fd);
        }
    }
    void closeEnd(int i) {
        if (fds[i] >= 0) ::close(fds[i]);
        fds[i] = -1;
    }
};

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttr {
    posix_spawnattr_t attr;
    SpawnAttr() { posix_spawnattr_init(&attr); }
    ~SpawnAttr() { posix_spawnattr_destroy(&attr); }
};

}  // namespace

std::optional<std::string> findHoravelset() {
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, static_cast<size_t>(n));
        dir.erase(dir.rfind('/') + 1);
        if (isExecutable(dir + "horavelset")) return dir + "horavelset";
    }
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty()) continue;
        std::string candidate = dir + "/horavelset";
        if (isExecutable(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> runWithInput(const std::string& program, std::string_view input) {
    Pipe pipe;
    if (::pipe2(pipe.fds, O_CLOEXEC) != 0) return std::string("cannot make a pipe: ") + std::strerror(errno);

    SpawnActions file;
    posix_spawn_file_actions_adddup2(&file.actions, pipe.fds[0], STDIN_FILENO);
    SpawnAttr attr;
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr.attr, &none);
    posix_spawnattr_setsigdefault(&attr.attr, &defaults);
    posix_spawnattr_setflags(&attr.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    int rc = posix_spawn(&pid, program.c_str(), &file.actions, &attr.attr, argv, environ);
    if (rc != 0) return program + ": cannot start: " + std::strerror(rc);
    pipe.closeEnd(0);

    // The child may exit early on bad input; a broken pipe must not kill us.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    bool writeFailed = false;
    for (size_t done = 0; done < input.size();) {
        ssize_t n = ::write(pipe.fds[1], input.data() + done, input.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeFailed = true;
            break;
        }
        done += static_cast<size_t>(n);
    }
    pipe.closeEnd(1);
    ::sigaction(SIGPIPE, &previous, nullptr);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return program + ": cannot wait for it: " + std::strerror(errno);
    }
    if (WIFSIGNALED(status)) return program + " was killed by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0) {
        return program + " failed (exit status " + std::to_string(WEXITSTATUS(status)) + "): nothing was installed";
    }
    if (writeFailed) return program + " did not read all of its input";
    return std::nullopt;
}

Installer horavelsetInstaller() {
    return [](std::string_view typedstream) -> std::optional<std::string> {
        auto program = findHoravelset();
        if (!program) return std::string("horavelset not found next to horavelctl or in PATH");
        return runWithInput(*program, typedstream);
    };
}

Installer libraryInstaller(const Config& config) {
    return [config](std::string_view typedstream) -> std::optional<std::string> {
        const InstallResult result = install(typedstream, config);
        if (result.exitStatus() == 0) return std::nullopt;
        if (result.outcome == InstallOutcome::WriteFailed) {
            return "cannot write " + result.target + ": nothing was installed";
        }
        return std::string("the archive was refused: nothing was installed");
    };
}

}  // namespace hv
