#pragma once

// Test support: SignalRecorder, a real process standing in for the daemon, that reports each
// SIGHUP, SIGUSR1 and SIGUSR2 it receives. It takes the command name `name` (the daemon's by
// default), as /proc/PID/comm shows it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace hv {

class SignalRecorder {
public:
    explicit SignalRecorder(const std::string& name = "horaveld") {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        // The signals stay blocked and are taken one at a time, lowest number first, so no
        // handler can overtake another.
        const std::string script =
            "import signal, sys\n"
            "open('/proc/self/comm', 'w').write('" + name + "')\n"
            "wanted = {signal.SIGHUP, signal.SIGUSR1, signal.SIGUSR2, signal.SIGWINCH}\n"
            "signal.pthread_sigmask(signal.SIG_BLOCK, wanted)\n"
            "sys.stdout.write('ready\\n'); sys.stdout.flush()\n"
            "while True:\n"
            "    n = signal.sigwaitinfo(wanted).si_signo\n"
            "    sys.stdout.write(signal.Signals(n).name + '\\n'); sys.stdout.flush()\n";
        char* argv[] = {const_cast<char*>("python3"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()), nullptr};
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
        ready_ = pid_ > 0 && readLine() == "ready";
    }
    ~SignalRecorder() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }

    // The signals received so far. A SIGWINCH marker closes the list: pending signals are taken
    // lowest number first, so everything sent before it is reported before it. A signal sent
    // twice before this call is pending once and reported once.
    std::vector<std::string> received() {
        std::vector<std::string> names;
        ::kill(pid_, SIGWINCH);
        for (std::string line = readLine(); line != "SIGWINCH" && !line.empty(); line = readLine()) {
            names.push_back(line);
        }
        return names;
    }

private:
    // One line, or "" when nothing comes within ten seconds (a broken recorder, not a timing).
    std::string readLine() {
        std::string line;
        char c;
        while (true) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0 || ::read(out_, &c, 1) != 1) return "";
            if (c == '\n') return line;
            line += c;
        }
    }

    pid_t pid_ = 0;
    int out_ = -1;
    bool ready_ = false;
};

}  // namespace hv
