// The daemon's walk of a home directory against `du -s` over the same tree: the figure behind "a
// quota check costs no more than du". The tree is named by HV_WALK_TREE (scripts/bench generates
// one of 1,000,000 entries); both read it through the same warm cache, alternately.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/linux/benchmark_command.h"
#include "platform/linux/tree_walk.h"

namespace hv {
namespace {

std::string tree() {
    const char* root = std::getenv("HV_WALK_TREE");
    return root ? root : "";
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
    benchmarkCommand(state, {"/usr/bin/du", "-s", tree()}, "du_cpu_us");
}
BENCHMARK(BM_DuS)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hv

BENCHMARK_MAIN();
