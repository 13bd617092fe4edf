#pragma once

// Helpers for the tests that run real helper programs: a child whose standard output the test reads
// line by line, whether the D-Bus tools are there, and the path of a helper script kept beside these tests.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace hv {

// How long a test waits for a child, or for a bus, before it gives up.
inline constexpr auto kTestPatience = std::chrono::seconds(20);

// A child process started from argv (argv[0] is a full path); killed and reaped on destruction.
class TestChild {
public:
    explicit TestChild(std::vector<std::string> argv) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }
    ~TestChild() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    TestChild(const TestChild&) = delete;
    TestChild& operator=(const TestChild&) = delete;

    pid_t pid() const { return pid_; }

    // The next line of its output, or "" when none comes within kTestPatience or the output ends.
    std::string readLine() {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + kTestPatience;
        std::string line;
        while (Clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            // Rounded up, so that the last part of a millisecond is waited for too.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) break;
            char c;
            if (read(out_, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return "";
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// Whether the tests that start a private D-Bus daemon and a python3-dbus helper can run here.
inline bool busToolsPresent() {
    return access("/usr/bin/dbus-daemon", X_OK) == 0 && access("/usr/bin/python3", X_OK) == 0 &&
           std::system("/usr/bin/python3 -c 'import dbus, gi' >/dev/null 2>&1") == 0;
}

// The path of a file in platform/linux of the source tree.
inline std::string testSourceFile(const std::string& name) {
    if (const char* dir = std::getenv("HORAVEL_SOURCE_DIR")) return std::string(dir) + "/platform/linux/" + name;
    const std::string here = __FILE__;
    return here.substr(0, here.rfind('/') + 1) + name;
}

}  // namespace hv
