// One look at the process table against `pgrep -u UID -x NAME`, with 500 extra processes: the
// figure behind "a lookup costs less than pgrep". Run build/<dir>/platform/process_scan_benchmark
// (as root, the extra processes belong to another account than the one looked up, as on a real
// desktop; otherwise they are the caller's own, the worst case).

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "platform/linux/benchmark_command.h"
#include "platform/linux/processes.h"

namespace hv {
namespace {

constexpr int kExtra = 500;
constexpr int kAccountProcesses = 20;
constexpr uid_t kOtherUid = 4242, kAccountUid = 4243;
const std::set<std::string> kWatched = {"game1", "game2", "game3", "game4", "game5"};

// Children that sleep until the benchmark ends, each with a name and an owner.
class Sleepers {
public:
    Sleepers() {
        const bool root = geteuid() == 0;
        account_ = root ? kAccountUid : geteuid();
        for (int i = 0; i < kExtra; ++i) start("filler", root ? kOtherUid : account_);
        for (int i = 0; i < kAccountProcesses; ++i) {
            start(i == kAccountProcesses - 1 ? "game3" : "desktop" + std::to_string(i), account_);
        }
    }
    ~Sleepers() {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    }
    uid_t account() const { return account_; }

private:
    void start(const std::string& name, uid_t uid) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_NAME, name.c_str());
            if (uid != geteuid() && setuid(uid) != 0) _exit(1);
            pause();
            _exit(0);
        }
        if (pid > 0) pids_.push_back(pid);
    }

    uid_t account_ = 0;
    std::vector<pid_t> pids_;
};

Sleepers& sleepers() {
    static Sleepers instance;
    return instance;
}

void BM_ScanOneAccountFiveWatchedNames(benchmark::State& state) {
    const uid_t account = sleepers().account();
    for (auto _ : state) {
        auto table = scanProcessTable({account}, [](const ProcessEntry& e) { return kWatched.count(e.comm) == 0; });
        benchmark::DoNotOptimize(table);
    }
}
BENCHMARK(BM_ScanOneAccountFiveWatchedNames)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ScanOneAccountNamesOnly(benchmark::State& state) {
    const uid_t account = sleepers().account();
    for (auto _ : state) {
        auto table = scanProcessTable({account}, [](const ProcessEntry&) { return false; });
        benchmark::DoNotOptimize(table);
    }
}
BENCHMARK(BM_ScanOneAccountNamesOnly)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_Pgrep(benchmark::State& state) {
    benchmarkCommand(state, {"/usr/bin/pgrep", "-u", std::to_string(sleepers().account()), "-x", "game3"}, "pgrep_cpu_us");
}
BENCHMARK(BM_Pgrep)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace hv

BENCHMARK_MAIN();
