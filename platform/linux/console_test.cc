#include "platform/linux/console.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/test_mount_namespace.h"

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
        {"UID=1000\n\nLEADER=77", 77},
        {"", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(leaderFromSessionRecord(c.record), c.leader) << c.record;
}

struct SeatSetup {
    const char* seat;     // content of seats/seat0, or nullptr for no seat data
    const char* session;  // content of sessions/7, or nullptr for none
};

// Replaces (or removes) one logind record the way logind does: a new file renamed into place.
void putRecord(const std::string& path, const char* content) {
    if (content == nullptr) {
        unlink(path.c_str());
        return;
    }
    std::ofstream(path + ".new") << content;
    rename((path + ".new").c_str(), path.c_str());
}

// Runs a ConsoleLookup in a private mount namespace in which /run is a fresh tmpfs, setting up the
// logind records of each step in turn and looking up the console after each, and returns what it
// saw, one "id uid leader name" (or "-" for nobody) per step, joined by " | "; nullopt when
// namespaces are not available here.
std::optional<std::string> consoleInNamespace(const std::vector<SeatSetup>& steps) {
    return outputInMountNamespace([&]() -> std::optional<std::string> {
        if (mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) return std::nullopt;
        mkdir("/run/systemd", 0755);
        mkdir("/run/systemd/seats", 0755);
        mkdir("/run/systemd/sessions", 0755);
        ConsoleLookup lookup;
        std::string text;
        for (const SeatSetup& step : steps) {
            putRecord("/run/systemd/seats/seat0", step.seat);
            putRecord("/run/systemd/sessions/7", step.session);
            const std::optional<ConsoleSession> s = lookup.current();
            if (!text.empty()) text += " | ";
            text += s ? s->id + " " + std::to_string(s->uid) + " " + std::to_string(s->leader) + " " + s->userName
                      : "-";
        }
        return text;
    });
}

// Each case is a sequence of console states, looked up in turn by one ConsoleLookup: the records
// are read again only when they change, and every change is seen at the next lookup.
TEST(ConsoleLookup, ReadsLogindRecordsThroughSdLoginAndSeesEveryChange) {
    const SeatSetup rootAt7 = {"ACTIVE=7\nACTIVE_UID=0\n", "UID=0\nUSER=root\nCLASS=user\nLEADER=4321\n"};
    struct Case {
        std::vector<SeatSetup> steps;
        const char* expected;
    } cases[] = {
        {{rootAt7}, "7 0 4321 root"},
        {{{"ACTIVE=7\nACTIVE_UID=0\n", "UID=0\nCLASS=user\n"}}, "7 0 0 root"},
        {{{"ACTIVE=7\nACTIVE_UID=0\n", "UID=0\nCLASS=greeter\nLEADER=4321\n"}}, "-"},
        {{{"ACTIVE=7\nACTIVE_UID=4000000000\n", "UID=4000000000\nCLASS=user\n"}}, "-"},  // no passwd entry
        {{{"ACTIVE_UID=0\n", nullptr}}, "-"},
        {{{nullptr, nullptr}}, "-"},
        // Unchanged, then nobody active, back, the session turned greeter (a lock screen), its
        // leader changed, the session removed.
        {{rootAt7, rootAt7, {"UIDS=0\n", rootAt7.session}, rootAt7,
          {rootAt7.seat, "UID=0\nCLASS=greeter\nLEADER=4321\n"}, {rootAt7.seat, "UID=0\nCLASS=user\nLEADER=99\n"},
          {rootAt7.seat, nullptr}},
         "7 0 4321 root | 7 0 4321 root | - | 7 0 4321 root | - | 7 0 99 root | -"},
        // Nobody at first (no seat data at all), then someone.
        {{{nullptr, nullptr}, rootAt7}, "- | 7 0 4321 root"},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> seen = consoleInNamespace(c.steps);
        if (!seen) GTEST_SKIP() << "mount namespaces are not available here";
        EXPECT_EQ(*seen, c.expected) << c.expected;
    }
}

}  // namespace
}  // namespace hv
