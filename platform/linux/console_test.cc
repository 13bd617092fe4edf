#include "platform/linux/console.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

namespace hv {
namespace {

TEST(LeaderFromSessionRecord, TakesOnlyAWellFormedPositivePid) {
    struct Case {
        const char* record;
        pid_t leader;
    } cases[] = {
        {"UID=1000\nLEADER=4321\nCLASS=user\n", 4321},
        {"LEADER=1\n", 1},
        {"UID=1000\nCLASS=user\n", 0},
        {"LEADER=\n", 0},
        {"LEADER=-5\n", 0},
        {"LEADER=12x\n", 0},
        {"LEADER=99999999999\n", 0},
        {"XLEADER=7\n", 0},
        {"", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(leaderFromSessionRecord(c.record), c.leader) << c.record;
}

struct SeatSetup {
    const char* seat;     // content of seats/seat0, or nullptr for no seat data
    const char* session;  // content of sessions/7
};

// Runs activeConsoleSession in a child with a private mount namespace in which /run is a fresh
// tmpfs holding only the given logind records, and returns what it saw as one line of text
// ("-" for nobody); nullopt when namespaces are not available here.
std::optional<std::string> consoleInNamespace(const SeatSetup& setup) {
    int out[2];
    if (pipe(out) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
            _exit(77);
        }
        mkdir("/run/systemd", 0755);
        mkdir("/run/systemd/seats", 0755);
        mkdir("/run/systemd/sessions", 0755);
        if (setup.seat) std::ofstream("/run/systemd/seats/seat0") << setup.seat;
        if (setup.session) std::ofstream("/run/systemd/sessions/7") << setup.session;
        const std::optional<ConsoleSession> s = activeConsoleSession();
        const std::string text = s ? s->id + " " + std::to_string(s->uid) + " " +
                                         std::to_string(s->leader) + " " + s->userName
                                   : "-";
        const bool written = write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(written ? 0 : 1);
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

TEST(ActiveConsoleSession, ReadsLogindRecordsThroughSdLogin) {
    struct Case {
        SeatSetup setup;
        const char* expected;
    } cases[] = {
        {{"ACTIVE=7\nACTIVE_UID=0\n", "UID=0\nUSER=root\nCLASS=user\nLEADER=4321\n"}, "7 0 4321 root"},
        {{"ACTIVE=7\nACTIVE_UID=0\n", "UID=0\nCLASS=user\n"}, "7 0 0 root"},
        {{"ACTIVE=7\nACTIVE_UID=0\n", "UID=0\nCLASS=greeter\nLEADER=4321\n"}, "-"},
        {{"ACTIVE=7\nACTIVE_UID=4000000000\n", "UID=4000000000\nCLASS=user\n"}, "-"},  // no passwd entry
        {{"ACTIVE_UID=0\n", nullptr}, "-"},
        {{nullptr, nullptr}, "-"},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> seen = consoleInNamespace(c.setup);
        if (!seen) GTEST_SKIP() << "mount namespaces are not available here";
        EXPECT_EQ(*seen, c.expected) << (c.setup.seat ? c.setup.seat : "(no seat)")
                                     << (c.setup.session ? c.setup.session : "(no session)");
    }
}

}  // namespace
}  // namespace hv
