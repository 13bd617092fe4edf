#include "platform/linux/processes.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/linux/test_dir.h"
#include "platform/linux/users.h"

namespace hv {
namespace {

// A child process that sets its name (and optionally its effective uid) and waits until
// released; reaped on destruction.
class NamedChild {
public:
    NamedChild(const std::string& name, std::optional<uid_t> euid = std::nullopt) {
        int ready[2];
        if (pipe(release_) != 0 || pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(release_[1]);
            close(ready[0]);
            prctl(PR_SET_NAME, name.c_str());
            if (euid && seteuid(*euid) != 0) _exit(1);
            char byte = 1;
            if (write(ready[1], &byte, 1) != 1) _exit(1);
            read(release_[0], &byte, 1);
            _exit(0);
        }
        close(release_[0]);
        close(ready[1]);
        char byte = 0;
        ok_ = pid_ > 0 && read(ready[0], &byte, 1) == 1;
        close(ready[0]);
    }
    ~NamedChild() {
        close(release_[1]);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    bool ok() const { return ok_; }
    pid_t pid() const { return pid_; }

private:
    int release_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool ok_ = false;
};

std::optional<std::string> commOf(const std::vector<ProcessEntry>& list, pid_t pid) {
    for (const ProcessEntry& e : list) {
        if (e.pid == pid) return e.comm;
    }
    return std::nullopt;
}

TEST(ListProcessesOf, FindsARealChildByItsKernelName) {
    NamedChild child("hv-probe");
    NamedChild longName("abcdefghijklmnopqrst");
    ASSERT_TRUE(child.ok() && longName.ok());
    const auto list = listProcessesOf(geteuid());
    ASSERT_TRUE(list);
    EXPECT_EQ(commOf(*list, child.pid()), "hv-probe");
    // The kernel keeps 15 characters of a name.
    EXPECT_EQ(commOf(*list, longName.pid()), "abcdefghijklmno");
    EXPECT_EQ(commOf(*list, getpid()).has_value(), true);
}

TEST(ListProcessesOf, MatchesOnTheEffectiveUid) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change a child's effective uid";
    constexpr uid_t kOther = 4242424;
    NamedChild child("hv-euid", kOther);
    ASSERT_TRUE(child.ok());
    const auto other = listProcessesOf(kOther);
    ASSERT_TRUE(other);
    ASSERT_EQ(other->size(), 1u);
    EXPECT_EQ((*other)[0].pid, child.pid());
    // Its real uid is still root's; it must not be listed as root's.
    EXPECT_FALSE(commOf(*listProcessesOf(0), child.pid()));
}

TEST(ListProcessesOf, UidWithoutProcessesGivesAnEmptyList) {
    const auto list = listProcessesOf(4000000000u);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
}

TEST(ListProcessesOf, SkipsMalformedAndVanishedEntries) {
    TestDir proc;
    auto entry = [&](const std::string& pid, const char* status, const char* comm) {
        mkdir(proc.file(pid).c_str(), 0755);
        if (status) std::ofstream(proc.file(pid + "/status")) << status;
        if (comm) std::ofstream(proc.file(pid + "/comm")) << comm;
    };
    entry("12", "Name:\tx\nUid:\t0\t1000\t0\t0\n", "first\n");
    entry("13", "Name:\tx\nGid:\t0\t0\t0\t0\n", "no-uid\n");
    entry("14", "Uid:\t1000\t0\t1000\t1000\n", "real-only\n");
    entry("15", "Uid:\t0\t1000\t0\t0\n", nullptr);  // exited between the two reads
    entry("16", nullptr, nullptr);                   // exited before
    entry("self", "Uid:\t1000\t1000\t1000\t1000\n", "self\n");
    entry("0017", "Uid:\t1000\t1000\t1000\t1000\n", "leading-zero\n");
    entry("18", "Uid:\t1000\t1000\t1000\t1000\n", "");

    const auto list = listProcessesOf(1000, proc.path());
    ASSERT_TRUE(list);
    std::vector<std::pair<pid_t, std::string>> got;
    for (const ProcessEntry& e : *list) got.emplace_back(e.pid, e.comm);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::pair<pid_t, std::string>>{{12, "first"}, {18, ""}}));

    EXPECT_FALSE(listProcessesOf(1000, proc.file("missing")));
}

TEST(UidByName, ExactWholeNameMatchOnly) {
    struct Case {
        const char* name;
        int32_t uid;
    } cases[] = {{"root", 0}, {"roo", -1}, {"rootx", -1}, {"ROOT", -1}, {"", -1}, {"no-such-user-hv", -1}};
    for (const Case& c : cases) EXPECT_EQ(uidByName(c.name), c.uid) << c.name;
    // Each lookup starts from the first entry again.
    EXPECT_EQ(uidByName("root"), 0);
}

}  // namespace
}  // namespace hv
