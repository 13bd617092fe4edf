#pragma once

// outputInMountNamespace: runs part of a test in a child process with a private mount namespace,
// where it may mount over the machine's own files (/run, /etc/passwd) without anyone else seeing
// it, and hands back the text the child produced.

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace hv {

// Forks; the child enters a new mount namespace whose mounts propagate nowhere and calls `child`,
// which sets up its mounts and does the test's work there. Returns the text `child` returned;
// nullopt when the namespace cannot be made or `child` returns nullopt (its mounts failed: not
// root, or no namespaces here, so the caller skips), or when the text did not arrive whole.
inline std::optional<std::string> outputInMountNamespace(const std::function<std::optional<std::string>()>& child) {
    int out[2];
    if (pipe(out) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        close(out[0]);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        const std::optional<std::string> text = child();
        if (!text) _exit(77);
        _exit(write(out[1], text->data(), text->size()) == static_cast<ssize_t>(text->size()) ? 0 : 1);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
}

}  // namespace hv
