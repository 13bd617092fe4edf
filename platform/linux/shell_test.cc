#include "platform/linux/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "platform/linux/test_dir.h"

namespace hv {
namespace {

TEST(RunShellCommand, ReturnsTheWaitStatus) {
    struct Case {
        const char* command;
        bool exited;
        int code;  // exit status, or the terminating signal
    } cases[] = {
        {"exit 0", true, 0},
        {"exit 3", true, 3},
        {"true && false", true, 1},
        {"no-such-command-hv 2>/dev/null", true, 127},
        {"kill -TERM $$", false, SIGTERM},
    };
    for (const Case& c : cases) {
        const int status = runShellCommand(c.command);
        ASSERT_NE(status, -1) << c.command;
        EXPECT_EQ(WIFEXITED(status), c.exited) << c.command;
        EXPECT_EQ(c.exited ? WEXITSTATUS(status) : WTERMSIG(status), c.code) << c.command;
    }
}

// The daemon blocks the signals its loop takes and may ignore others; none of that may reach a
// child, or `kill`, `ifconfig` and the account's script would run with signals they cannot get.
TEST(RunShellCommand, ChildStartsWithCleanSignalStateAndNoStrayDescriptor) {
    TestDir dir;
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    for (int signo : {SIGHUP, SIGUSR1, SIGUSR2, SIGINT}) sigaddset(&blocked, signo);
    ASSERT_EQ(sigprocmask(SIG_BLOCK, &blocked, &previous), 0);
    const auto oldTerm = signal(SIGTERM, SIG_IGN);
    const auto oldPipe = signal(SIGPIPE, SIG_IGN);
    const int stray = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC

    const std::string out = dir.file("status");
    // Read by the shell itself with builtins: an external reader would catch the shell inside
    // its wait for that reader, with everything blocked around sigsuspend.
    const int status = runShellCommand(
        "while read -r key value; do case $key in SigBlk:|SigIgn:) echo \"$key $value\";; esac; "
        "done < /proc/$$/status > " + out +
                                       "; if [ -e /proc/$$/fd/" + std::to_string(stray) +
                                       " ]; then exit 9; fi");
    const int termStatus = runShellCommand("kill -TERM $$");

    close(stray);
    signal(SIGPIPE, oldPipe);
    signal(SIGTERM, oldTerm);
    sigprocmask(SIG_SETMASK, &previous, nullptr);

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child inherited descriptor " << stray;
    std::ifstream in(out);
    std::string blk, blkMask, ign, ignMask;
    ASSERT_TRUE(in >> blk >> blkMask >> ign >> ignMask);
    EXPECT_EQ(blk + blkMask, "SigBlk:0000000000000000");
    ASSERT_EQ(ign, "SigIgn:");
    // glibc's posix_spawn leaves its two internal signals (32 and 33, bits 31 and 32) ignored in
    // the child; they belong to the C library, which installs its own handlers on demand.
    // Every signal a program can name must be at its default action.
    const unsigned long long kLibcInternal = (1ULL << 31) | (1ULL << 32);
    EXPECT_EQ(std::stoull(ignMask, nullptr, 16) & ~kLibcInternal, 0ULL) << ignMask;
    // SIGTERM ignored by the caller still kills the child.
    EXPECT_TRUE(WIFSIGNALED(termStatus));
}

// The firewall's ruleset reaches nft this way: the input must arrive whole on standard input, and
// the arguments must be words of their own (a shell would split and expand them).
TEST(RunProgramWithInput, FeedsStandardInputAndPassesArgumentsAsTheyAre) {
    const std::string script = "read -r line; test \"$line\" = \"$0\" && test \"$(cat)\" = rest";
    const struct {
        std::string expected;
        std::string input;
        int exit;
    } cases[] = {
        {"one line", "one line\nrest", 0},
        {"$(false); *", "$(false); *\nrest", 0},
        {"one line", "other line\nrest", 1},
    };
    for (const auto& c : cases) {
        const int status = runProgramWithInput({"/bin/sh", "-c", script, c.expected}, c.input);
        ASSERT_TRUE(WIFEXITED(status)) << c.expected;
        EXPECT_EQ(WEXITSTATUS(status), c.exit) << c.expected;
    }
    EXPECT_EQ(runProgramWithInput({"/nonexistent/program"}, ""), -1);
    EXPECT_EQ(runProgramWithInput({"/bin/true"}, std::string(65 * 1024, 'x')), -1) << "more than a pipe holds";
}

}  // namespace
}  // namespace hv
