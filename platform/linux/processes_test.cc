#include "platform/linux/processes.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/linux/test_child.h"
#include "platform/linux/test_dir.h"
#include "platform/linux/users.h"

namespace hv {
namespace {

// A child process that sets its name (and optionally its effective uid) and waits until
// released; reaped on destruction. Each byte written to it makes it take `laterEuid`.
class NamedChild {
public:
    NamedChild(const std::string& name, std::optional<uid_t> euid = std::nullopt, bool undumpable = false,
               uid_t laterEuid = 0) {
        if (pipe(release_) != 0 || pipe(ready_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(release_[1]);
            close(ready_[0]);
            prctl(PR_SET_NAME, name.c_str());
            if (euid && seteuid(*euid) != 0) _exit(1);
            if (undumpable && prctl(PR_SET_DUMPABLE, 0) != 0) _exit(1);
            char byte = 1;
            if (write(ready_[1], &byte, 1) != 1) _exit(1);
            while (read(release_[0], &byte, 1) == 1) {
                if (seteuid(laterEuid) != 0 || write(ready_[1], &byte, 1) != 1) _exit(1);
            }
            _exit(0);
        }
        close(release_[0]);
        close(ready_[1]);
        char byte = 0;
        ok_ = pid_ > 0 && read(ready_[0], &byte, 1) == 1;
    }
    ~NamedChild() {
        close(release_[1]);
        close(ready_[0]);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    bool ok() const { return ok_; }
    // Makes it take its later effective uid, in place; true once it has.
    bool changeUid() {
        char byte = 1;
        return write(release_[1], &byte, 1) == 1 && read(ready_[0], &byte, 1) == 1;
    }
    // Lets it exit; it stays a zombie until destruction reaps it.
    void release() {
        close(release_[1]);
        release_[1] = -1;
    }
    pid_t pid() const { return pid_; }

private:
    int release_[2] = {-1, -1};
    int ready_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool ok_ = false;
};

const ProcessEntry* entryOf(const std::vector<ProcessEntry>& list, pid_t pid) {
    for (const ProcessEntry& e : list) {
        if (e.pid == pid) return &e;
    }
    return nullptr;
}

std::optional<std::string> commOf(const std::vector<ProcessEntry>& list, pid_t pid) {
    const ProcessEntry* e = entryOf(list, pid);
    return e ? std::optional<std::string>(e->comm) : std::nullopt;
}

const auto kEveryExecutable = [](const ProcessEntry&) { return true; };
const auto kNoExecutable = [](const ProcessEntry&) { return false; };

// Field 22 of /proc/PID/stat, read here independently of the code under test.
uint64_t startTimeOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    return std::stoull(field);
}

TEST(ScanProcessTable, FindsARealChildByItsKernelNameAndStartTime) {
    NamedChild child("hv-probe");
    NamedChild longName("abcdefghijklmnopqrst");
    ASSERT_TRUE(child.ok() && longName.ok());
    const auto list = scanProcessTable({geteuid()}, kNoExecutable);
    ASSERT_TRUE(list);
    EXPECT_EQ(commOf(*list, child.pid()), "hv-probe");
    // The kernel keeps 15 characters of a name.
    EXPECT_EQ(commOf(*list, longName.pid()), "abcdefghijklmno");
    const ProcessEntry* self = entryOf(*list, getpid());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->uid, geteuid());
    EXPECT_EQ(self->startTime, startTimeOf(getpid()));
    // Not asked for, the executable is not read.
    EXPECT_TRUE(self->executable.empty());
    EXPECT_FALSE(self->executableFile);

    NamedChild zombie("hv-zombie");
    ASSERT_TRUE(zombie.ok());
    zombie.release();
    for (int i = 0; i < 500 && commOf(*scanProcessTable({geteuid()}, kNoExecutable), zombie.pid()); ++i) {
        usleep(10'000);
    }
    EXPECT_FALSE(readProcess(zombie.pid())) << "an exited child not yet reaped runs nothing";

    const std::optional<ProcessEntry> read = readProcess(child.pid());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->comm, "hv-probe");
    EXPECT_EQ(read->uid, geteuid());
    EXPECT_EQ(read->startTime, startTimeOf(child.pid()));
    EXPECT_FALSE(readProcess(0));
}

TEST(ScanProcessTable, ReadsTheExecutableOnlyWhereAsked) {
    // A link to sleep named "game", and a copy of sleep removed while it runs.
    TestDir dir;
    const std::string sleep = std::filesystem::canonical("/bin/sleep");
    ASSERT_EQ(symlink(sleep.c_str(), dir.file("game").c_str()), 0);
    std::filesystem::copy_file(sleep, dir.file("copied"));
    TestChild linked({dir.file("game"), "100"});
    TestChild copied({dir.file("copied"), "100"});
    ASSERT_GT(linked.pid(), 0);
    ASSERT_GT(copied.pid(), 0);
    // Until it has run exec, a child is still this program.
    for (int i = 0; i < 500 && (commOf(*scanProcessTable({geteuid()}, kNoExecutable), linked.pid()) != "game" ||
                                commOf(*scanProcessTable({geteuid()}, kNoExecutable), copied.pid()) != "copied");
         ++i) {
        usleep(10'000);
    }
    ASSERT_EQ(unlink(dir.file("copied").c_str()), 0);

    const auto list = scanProcessTable({geteuid()}, [&](const ProcessEntry& e) { return e.pid != getpid(); });
    ASSERT_TRUE(list);
    const ProcessEntry* game = entryOf(*list, linked.pid());
    ASSERT_NE(game, nullptr);
    EXPECT_EQ(game->comm, "game");
    EXPECT_EQ(game->executable, sleep);
    struct stat real {};
    ASSERT_EQ(stat(sleep.c_str(), &real), 0);
    ASSERT_TRUE(game->executableFile);
    EXPECT_EQ(game->executableFile->device, real.st_dev);
    EXPECT_EQ(game->executableFile->inode, real.st_ino);

    const ProcessEntry* removed = entryOf(*list, copied.pid());
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->executable, dir.file("copied"));
    EXPECT_TRUE(removed->executableFile);
    EXPECT_TRUE(entryOf(*list, getpid())->executable.empty());
}

TEST(ScanProcessTable, MatchesOnTheEffectiveUidWhateverTheDumpableState) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change a child's effective uid";
    constexpr uid_t kOther = 4242424;
    NamedChild child("hv-euid", kOther);
    NamedChild hidden("hv-undumpable", kOther, true);
    ASSERT_TRUE(child.ok() && hidden.ok());
    const auto other = scanProcessTable({kOther, 4242425}, kEveryExecutable);
    ASSERT_TRUE(other);
    ASSERT_EQ(other->size(), 2u);
    EXPECT_EQ((*other)[0].pid, child.pid());
    EXPECT_EQ((*other)[1].pid, hidden.pid());
    EXPECT_EQ((*other)[1].uid, kOther);
    // Its real uid is still root's; it must not be listed as root's.
    EXPECT_FALSE(commOf(*scanProcessTable({0}, kNoExecutable), child.pid()));
    const std::optional<ProcessEntry> read = readProcess(hidden.pid());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->uid, kOther);
}

TEST(ScanProcessTable, KnownOwnersStillSeeRootTakingAnAccountsUidInPlace) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change a child's effective uid";
    constexpr uid_t kOther = 4242426;
    NamedChild child("hv-drops", std::nullopt, false, kOther);
    ASSERT_TRUE(child.ok());
    ProcessOwners owners;
    EXPECT_FALSE(commOf(*scanProcessTable({kOther}, kNoExecutable, "/proc", &owners), child.pid()));
    ASSERT_TRUE(child.changeUid());
    EXPECT_EQ(commOf(*scanProcessTable({kOther}, kNoExecutable, "/proc", &owners), child.pid()), "hv-drops");
}

// Processes whose owners change between scans, in a /proc of directories made here: what the next
// scan with known owners finds, and after how many scans at the latest.
TEST(ScanProcessTable, KnownOwnersAreAskedAgainWhereAProcessCanHaveChanged) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give the entries owners";
    constexpr uid_t kAccount = 4242427, kStranger = 4242428;
    TestDir proc;
    auto entry = [&](const std::string& pid, uid_t owner) {
        mkdir(proc.file(pid).c_str(), 0755);
        std::ofstream(proc.file(pid + "/stat")) << pid << " (p" << pid << ") S 1 1 1 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0 5\n";
        return chown(proc.file(pid).c_str(), owner, owner) == 0;
    };
    auto pids = [&](ProcessOwners& owners) {
        std::vector<pid_t> got;
        const auto list = scanProcessTable({kAccount}, kNoExecutable, proc.path(), &owners);
        for (const ProcessEntry& e : *list) got.push_back(e.pid);
        std::sort(got.begin(), got.end());
        return got;
    };
    ASSERT_TRUE(entry("10", 0) && entry("11", kAccount) && entry("12", kStranger) && entry("13", kStranger) &&
                entry("14", kStranger) && entry("15", kAccount));
    ProcessOwners owners;
    EXPECT_EQ(pids(owners), (std::vector<pid_t>{11, 15}));
    // Root's process takes the account's uid; the account's own leaves it; a pid is reused by a new
    // process (a new entry, kept apart from the old one's while both exist) of the account.
    ASSERT_EQ(chown(proc.file("10").c_str(), kAccount, 0), 0);
    ASSERT_EQ(chown(proc.file("11").c_str(), kStranger, 0), 0);
    ASSERT_EQ(rename(proc.file("12").c_str(), proc.file("old12").c_str()), 0);
    ASSERT_TRUE(entry("12", kAccount));
    // Another account's process takes the account's uid: caught by a full scan.
    ASSERT_EQ(chown(proc.file("13").c_str(), kAccount, 0), 0);
    EXPECT_EQ(pids(owners), (std::vector<pid_t>{10, 12, 15}));
    unsigned scans = 2;
    for (bool found = false; !found && scans < 2 * kFullOwnerScanEvery; ++scans) {
        found = pids(owners) == std::vector<pid_t>{10, 12, 13, 15};
    }
    EXPECT_EQ(scans, kFullOwnerScanEvery);
}

TEST(ScanProcessTable, UidWithoutProcessesGivesAnEmptyList) {
    const auto list = scanProcessTable({4000000000u}, kEveryExecutable);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
}

TEST(ScanProcessTable, SkipsMalformedAndVanishedEntries) {
    TestDir proc;
    auto entry = [&](const std::string& pid, const char* stat) {
        mkdir(proc.file(pid).c_str(), 0755);
        if (stat) std::ofstream(proc.file(pid + "/stat")) << stat;
    };
    const std::string tail = " S 1 1 1 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0 ";
    entry("12", ("12 (first) " + tail.substr(1) + "777 8 9\n").c_str());
    entry("13", "13 (short) S 1 2 3\n");
    entry("14", ("14 (no-start) " + tail.substr(1) + "x\n").c_str());
    entry("15", nullptr);  // exited between the listing and the read
    entry("self", ("1 (self) " + tail.substr(1) + "5\n").c_str());
    entry("0017", ("17 (leading-zero) " + tail.substr(1) + "5\n").c_str());
    entry("18", ("18 (a) (b)) " + tail.substr(1) + "42\n").c_str());
    entry("19", ("19 (gone) Z" + tail.substr(2) + "43\n").c_str());

    const auto list = scanProcessTable({geteuid()}, kNoExecutable, proc.path());
    ASSERT_TRUE(list);
    std::vector<std::tuple<pid_t, std::string, uint64_t>> got;
    for (const ProcessEntry& e : *list) got.emplace_back(e.pid, e.comm, e.startTime);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::tuple<pid_t, std::string, uint64_t>>{{12, "first", 777}, {18, "a) (b)", 42}}));
    EXPECT_TRUE(scanProcessTable({geteuid() + 1}, kNoExecutable, proc.path())->empty());

    EXPECT_FALSE(scanProcessTable({geteuid()}, kNoExecutable, proc.file("missing")));
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
