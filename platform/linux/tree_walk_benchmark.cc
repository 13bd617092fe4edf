// The daemon's walk of a home directory against `du -s` over the same tree: the figure behind "a
// quota check costs no more than du". The tree is named by HV_WALK_TREE (scripts/bench generates
// one of 1,000,000 entries); both read it through the same warm cache, alternately.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/tree_walk.h"

extern char** environ;

namespace hv {
namespace {

std::string tree() {
    const char* root = std::getenv("HV_WALK_TREE");
    return root ? root : "";
}

double cpuMicros(int who) {
    struct rusage usage {};
    getrusage(who, &usage);
    const auto micros = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
    };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

void BM_WalkTreeSizes(benchmark::State& state) {
    const std::string root = tree();
    for (auto _ : state) {
        uint64_t total = 0;
        if (!walkTreeSizes(root, [&total](uint64_t size) { total += size; })) {
            state.SkipWithError("HV_WALK_TREE names no readable directory");
            break;
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_WalkTreeSizes)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_DuS(benchmark::State& state) {
    std::string root = tree();
    std::vector<std::string> argv = {"/usr/bin/du", "-s", root};
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    const double before = cpuMicros(RUSAGE_CHILDREN);
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, args[0], &quiet, nullptr, args.data(), environ) != 0 ||
            waitpid(pid, &status, 0) != pid || status != 0) {
            state.SkipWithError("du -s failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&quiet);
    // The benchmark's own CPU time leaves out du's; this is du's, per run.
    state.counters["du_cpu_us"] =
        benchmark::Counter((cpuMicros(RUSAGE_CHILDREN) - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_DuS)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hv

BENCHMARK_MAIN();
