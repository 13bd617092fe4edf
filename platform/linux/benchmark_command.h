#pragma once

// benchmarkCommand: the program a benchmark is measured against (pgrep, du), run for real once an
// iteration, so the two figures stand side by side in one report.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace hv {

// Runs `argv` (a full path first) to its end in every iteration of `state`, its output discarded,
// and sets the counter `counter` to the CPU time one run used, in microseconds: the benchmark's own
// CPU time leaves the child's out. A run that cannot be started or does not exit 0 ends the
// benchmark with an error naming the program.
inline void benchmarkCommand(benchmark::State& state, std::vector<std::string> argv, const std::string& counter) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    const auto childrenCpuMicros = [] {
        struct rusage usage {};
        getrusage(RUSAGE_CHILDREN, &usage);
        const auto micros = [](const timeval& t) {
            return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
        };
        return micros(usage.ru_utime) + micros(usage.ru_stime);
    };
    const double before = childrenCpuMicros();
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, args[0], &quiet, nullptr, args.data(), environ) != 0 ||
            waitpid(pid, &status, 0) != pid || status != 0) {
            state.SkipWithError((argv[0] + " did not run to a status of 0").c_str());
            break;
        }
    }
    posix_spawn_file_actions_destroy(&quiet);
    state.counters[counter] =
        benchmark::Counter((childrenCpuMicros() - before) / static_cast<double>(state.iterations()));
}

}  // namespace hv
