#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "daemon/monitors_fixture.h"

namespace hv::test {
namespace {

constexpr uint64_t k4GiB = uint64_t{1} << 32;

class DiskUsageTest : public MonitorsTest {
  protected:
    Monitor& home(std::vector<uint64_t> sizes, uint32_t quota) {
        Monitor& m = monitorWith({limitRecord(0, 0)});
        m.diskmon = 1;
        m.diskfull = "disk full, %u";
        m.usersize = quota;
        sys.treeSizes["/home/kid"] = std::move(sizes);
        return m;
    }

    // The script as a first tick takes it from a list loaded from a root-only file.
    void setScript(Monitor& m, const std::optional<std::string>& script) {
        m.cleanup = script;
        recordAt(m.userlist, 0)->setScript(script ? Value(*script) : Value());
        m.policyTrusted = true;
    }

    void plantPolicyFile(uid_t owner, mode_t mode) {
        sys.files[policyPath()] = FakeFile{"policy", mode, owner};
    }

    // The notices, shell commands and log lines, in the order they happened.
    std::vector<std::string> actions() const {
        std::vector<std::string> out;
        const std::string logPrefix = "append " + config.logFile + "|";
        for (const std::string& e : sys.events) {
            if (e.rfind(logPrefix, 0) == 0) {
                // "<24-char stamp> <message>\n"
                out.push_back("log " +
                              e.substr(logPrefix.size() + 25, e.size() - logPrefix.size() - 26));
            } else if (e.rfind("notice ", 0) == 0 || e.rfind("shell ", 0) == 0) {
                out.push_back(e);
            }
        }
        return out;
    }

    bool exceeded() const { return !sys.notices.empty(); }
};

struct SizeCase {
    const char* name;
    std::vector<uint64_t> sizes;
    uint64_t total;  // what the sizes count for
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class DiskSizes : public DiskUsageTest, public ::testing::WithParamInterface<SizeCase> {};

// A total equal to the quota is within it; one byte of quota less and it is over.
TEST_P(DiskSizes, CountInWholeBlocksOfTheLow32Bits) {
    const SizeCase& c = GetParam();
    if (c.total <= std::numeric_limits<uint32_t>::max()) {
        Monitor& m = home(c.sizes, static_cast<uint32_t>(c.total));
        m.checkDiskUsage();
        EXPECT_FALSE(exceeded()) << "total above " << c.total;
    }
    if (c.total > 0) {
        const uint64_t below =
            std::min<uint64_t>(c.total - 1, std::numeric_limits<uint32_t>::max());
        Monitor& m = home(c.sizes, static_cast<uint32_t>(below));
        m.checkDiskUsage();
        EXPECT_TRUE(exceeded()) << "total not above " << below;
    }
    EXPECT_EQ(sys.walkedRoots.front(), "/home/kid");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DiskSizes,
    ::testing::Values(SizeCase{"zero", {0}, 0}, SizeCase{"one", {1}, 4096},
                      SizeCase{"block", {4096}, 4096}, SizeCase{"blockPlusOne", {4097}, 8192},
                      SizeCase{"directoriesAndSmallFiles", {0, 10, 0, 10}, 8192},
                      SizeCase{"fourGiBPlusLowPart", {k4GiB + 5}, 4096},
                      SizeCase{"fourGiBExactly", {k4GiB}, 0},
                      SizeCase{"largestLowPart", {4294963200u}, 4294963200u},
                      SizeCase{"lowPartRoundsToZero", {k4GiB + 4294963201u}, 0},
                      SizeCase{"allOnesRoundsToZero", {0xffffffffu}, 0},
                      SizeCase{"totalBeyond32Bits",
                               {4294963200u, 4294963200u, 1},
                               uint64_t{4294963200u} * 2 + 4096}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiskUsageTest, OverQuotaNoticeLogAndScriptInOrder) {
    Monitor& m = home({600u << 20}, 524288000);
    setScript(m, "/usr/local/bin/tidy kid");
    plantPolicyFile(0, S_IFREG | 0644);
    m.checkDiskUsage();
    const std::string notice = "notice " + std::string(kNoticeHeader) + "|disk full, kid";
    EXPECT_EQ(actions(), (std::vector<std::string>{
                             notice,
                             "log user : kid - disk usage 500.00 MB exceeded",
                             "shell /usr/local/bin/tidy kid",
                             "log user : kid - execute /usr/local/bin/tidy kid",
                         }));
    ASSERT_EQ(sys.notices.size(), 1u);
    EXPECT_EQ(sys.notices[0].level, NoticeLevel::Stop);
    EXPECT_EQ(sys.notices[0].timeout, 1.0);

    // Still over at the next period: all of it again.
    m.checkDiskUsage();
    EXPECT_EQ(actions().size(), 8u);
}

enum class Refusal { None, File, NotListed };

struct ScriptCase {
    const char* name;
    std::optional<std::string> cleanup;
    std::optional<std::pair<uid_t, mode_t>> policyFile;  // owner and mode; nullopt: no file
    bool loadedTrusted;                                  // the list came from a root-only file
    bool listed;                                         // the list still holds the script
    bool runs;
    Refusal refusal;
};

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }

class DiskScript : public DiskUsageTest, public ::testing::WithParamInterface<ScriptCase> {};

// Root runs the script only from a policy that only root can have written.
TEST_P(DiskScript, RunsOnlyFromARootOnlyPolicy) {
    const ScriptCase& c = GetParam();
    Monitor& m = home({1}, 0);
    setScript(m, c.cleanup);
    m.policyTrusted = c.loadedTrusted;
    if (!c.listed) recordAt(m.userlist, 0)->setScript("an earlier script");
    if (c.policyFile) plantPolicyFile(c.policyFile->first, c.policyFile->second);
    m.checkDiskUsage();

    std::vector<std::string> lines = {"user : kid - disk usage  0.00 MB exceeded"};
    if (c.runs) lines.push_back("user : kid - execute " + *c.cleanup);
    if (c.refusal == Refusal::File) {
        lines.push_back("user : kid - script not run: " + policyPath() +
                        " is not a file owned by root and writable only by root");
    } else if (c.refusal == Refusal::NotListed) {
        lines.push_back(
            "user : kid - script not run: it is not the script of the policy loaded "
            "from " +
            policyPath());
    }
    EXPECT_EQ(monitorLog(), lines);
    EXPECT_EQ(sys.commands,
              c.runs ? std::vector<std::string>{*c.cleanup} : std::vector<std::string>{});
    EXPECT_EQ(sys.notices.size(), 1u);
}

const std::pair<uid_t, mode_t> kRootFile{0, S_IFREG | 0644};

INSTANTIATE_TEST_SUITE_P(
    Scripts, DiskScript,
    ::testing::Values(
        ScriptCase{"rootOwned", "rm -rf /home/kid/Downloads", kRootFile, true, true, true,
                   Refusal::None},
        ScriptCase{"rootOwnedReadOnly", "tidy", std::pair<uid_t, mode_t>{0, S_IFREG | 0400}, true,
                   true, true, Refusal::None},
        ScriptCase{"absentScript", std::nullopt, kRootFile, true, true, false, Refusal::None},
        ScriptCase{"emptyScript", "", kRootFile, true, true, false, Refusal::None},
        ScriptCase{"childOwned", "tidy", std::pair<uid_t, mode_t>{501, S_IFREG | 0644}, true, true,
                   false, Refusal::File},
        ScriptCase{"groupWritable", "tidy", std::pair<uid_t, mode_t>{0, S_IFREG | 0664}, true, true,
                   false, Refusal::File},
        ScriptCase{"worldWritable", "tidy", std::pair<uid_t, mode_t>{0, S_IFREG | 0646}, true, true,
                   false, Refusal::File},
        ScriptCase{"aLink", "tidy", std::pair<uid_t, mode_t>{0, S_IFLNK | 0755}, true, true, false,
                   Refusal::File},
        ScriptCase{"noPolicyFile", "tidy", std::nullopt, true, true, false, Refusal::File},
        ScriptCase{"loadedFromAChildsFile", "tidy", kRootFile, false, true, false, Refusal::File},
        ScriptCase{"takenFromTheListBefore", "tidy", kRootFile, true, false, false,
                   Refusal::NotListed}),
    [](const auto& info) { return std::string(info.param.name); });

struct LoadedFileCase {
    const char* name;
    uid_t owner;
    mode_t mode;
    bool runs;
};

void PrintTo(const LoadedFileCase& c, std::ostream* os) { *os << c.name; }

class DiskScriptFromFile : public DiskUsageTest,
                           public ::testing::WithParamInterface<LoadedFileCase> {};

// Through start-up, the first tick and the disk timer: the daemon's own saves of the list (as
// root) must not turn a child's file into one whose script root runs.
TEST_P(DiskScriptFromFile, RunsOnlyFromARootOnlyFile) {
    const LoadedFileCase& c = GetParam();
    auto limit = limitRecord(600, 0, sunday(9, 0));
    limit->setScript("tidy");
    plantPolicy(listOf({limit}), "kid", c.owner, c.mode);
    plantRunningSettings({{"diskmon", Value::integer(1)}, {"diskmsg", "over"}});
    sys.login("kid");
    sys.treeSizes["/home/kid"] = {1};
    start();
    for (size_t check = 1; check <= 2; ++check) {
        sys.advance(15 * 60);
        ASSERT_FALSE(sys.atomicWrites.empty());  // minutes were counted and saved meanwhile
        EXPECT_EQ(sys.notices.size(), check);
        EXPECT_EQ(sys.commands.size(), c.runs ? check : 0u);
        EXPECT_EQ(countLog("user : kid - execute tidy"), c.runs ? check : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, DiskScriptFromFile,
                         ::testing::Values(LoadedFileCase{"rootOnly", 0, S_IFREG | 0644, true},
                                           LoadedFileCase{"childs", 501, S_IFREG | 0644, false},
                                           LoadedFileCase{"worldWritable", 0, S_IFREG | 0666,
                                                          false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiskUsageTest, NothingWithoutTheSwitchAUserOrAHome) {
    {
        Monitor& m = home({1 << 20}, 0);
        m.diskmon = 0;
        m.checkDiskUsage();
        EXPECT_TRUE(sys.walkedRoots.empty());
    }
    for (const std::optional<std::string>& nobody :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        Monitor& m = home({1 << 20}, 0);
        m.user = nobody;
        m.checkDiskUsage();
        EXPECT_TRUE(sys.walkedRoots.empty());
    }
    {
        Monitor& m = home({1 << 20}, 0);
        sys.treeSizes.clear();  // the home directory cannot be opened
        m.checkDiskUsage();
        EXPECT_EQ(sys.walkedRoots, std::vector<std::string>{"/home/kid"});
    }
    EXPECT_TRUE(sys.notices.empty());
    EXPECT_TRUE(sys.commands.empty());
    EXPECT_TRUE(monitorLog().empty());
}

struct QuotaCase {
    const char* name;
    int64_t quota;
    uint64_t fileSize;
    bool over;
};

void PrintTo(const QuotaCase& c, std::ostream* os) { *os << c.name; }

class DiskQuotaFromPolicy : public DiskUsageTest,
                            public ::testing::WithParamInterface<QuotaCase> {};

// The first tick takes the quota's low 32 bits; the disk timer then checks against them.
TEST_P(DiskQuotaFromPolicy, KeepsTheLow32Bits) {
    const QuotaCase& c = GetParam();
    auto limit = limitRecord(60, 0);
    limit->setQuota(Value::integer(c.quota));
    plantPolicy(listOf({limit}));
    plantRunningSettings(
        {{"diskmon", Value::integer(1)}, {"diskmontime", Value::integer(15)}, {"diskmsg", "over"}});
    sys.login("kid");
    sys.treeSizes["/home/kid"] = {c.fileSize};
    start();
    sys.advance(15 * 60);
    EXPECT_EQ(monitor->usersize, static_cast<uint32_t>(c.quota));
    EXPECT_EQ(sys.walkedRoots, std::vector<std::string>{"/home/kid"});
    EXPECT_EQ(!sys.notices.empty() && sys.notices.back().message == "over", c.over);
}

INSTANTIATE_TEST_SUITE_P(
    Quotas, DiskQuotaFromPolicy,
    ::testing::Values(QuotaCase{"exactly4GiBActsAsZero", int64_t{1} << 32, 1, true},
                      QuotaCase{"fourGiBPlusABlock", (int64_t{1} << 32) + 4096, 4096, false},
                      QuotaCase{"oneBlock", 4096, 4096, false},
                      QuotaCase{"oneBlockOver", 4096, 4097, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hv::test
