#include "daemon/monitor_fixture.h"

namespace hv::test {
namespace {

class PolicyTest : public MonitorTest {
protected:
    PolicyTest() {
        plantRunningSettings();
        monitor = std::make_unique<Monitor>(sys, config);
        monitor->loadUserStatus();
        sys.appends.clear();
    }
};

TEST_F(PolicyTest, LoadsTheConsoleUsersListAndMarksAFirstTick) {
    auto record = limitRecord(60, 12, sys.now());
    plantPolicy(listOf({record, limitRecord(0)}));
    sys.login("kid");
    monitor->loadUserData();
    EXPECT_EQ(monitor->user, "kid");
    ASSERT_EQ(monitor->userlist.size(), 2u);
    EXPECT_EQ(recordAt(monitor->userlist, 0)->usage().intValue(), 12);
    EXPECT_TRUE(monitor->switched);
    EXPECT_TRUE(monitor->policyTrusted);
    EXPECT_EQ(logMessages(), std::vector<std::string>{"data loaded for kid"});
}

TEST_F(PolicyTest, MissingFileOrNobodyGivesAnEmptyListAndOneLine) {
    sys.login("kid");
    monitor->loadUserData();
    EXPECT_TRUE(monitor->userlist.empty());
    sys.logout();
    monitor->loadUserData();
    EXPECT_EQ(monitor->user, std::nullopt);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"data loaded for kid", "data loaded for (null)"}));
}

// A child owns its home and may put anything at its policy path. None of it may stop the daemon:
// the list starts empty, one line says why, and the daemon keeps ticking.
TEST_F(PolicyTest, HostilePolicyFilesGiveAnEmptyListAndOneLineSayingWhy) {
    auto record = limitRecord(60, 12, sys.now());
    const std::string good = *keyedArchive(Value(listOf({record})));
    auto stringy = std::make_shared<TableElement>();
    stringy->setUsage("lots");
    stringy->setMonday(Value(Array{}));
    auto huge = limitRecord(0);
    huge->setUsage(Value::integer(INT64_MAX));
    huge->setQuota(Value::real(1e300));
    huge->setRanges(INT32_MAX);
    huge->setNetRanges(INT32_MAX);

    // An archive naming a class whose name would start a forged line of its own in the log.
    const Value forged(Dictionary{
        {"$archiver", "NSKeyedArchiver"},
        {"$version", Value::integer(100000)},
        {"$top", Value(Dictionary{{"root", Value(Uid{1})}})},
        {"$objects", Value(Array{Value("$null"), Value(Dictionary{{"$class", Value(Uid{2})}}),
                                 Value(Dictionary{{"$classname", "X\nSun Dec  6 10:00:00 2026 enabled"},
                                                  {"$classes", Value(Array{Value("X"), Value("NSObject")})}})})},
    });

    struct Case {
        const char* name;
        std::string bytes;
        mode_t mode;
        bool loads;  // decodes into a list (which the tick must survive)
    };
    const Case cases[] = {
        {"truncated archive", good.substr(0, good.size() / 2), S_IFREG | 0644, false},
        {"empty file", "", S_IFREG | 0644, false},
        {"not an archive", "hello", S_IFREG | 0644, false},
        {"root is a string", *keyedArchive(Value("text")), S_IFREG | 0644, false},
        {"root is a dictionary", *keyedArchive(Value(Dictionary{{"a", "b"}})), S_IFREG | 0644, false},
        {"class name with a newline", *writeBinaryPropertyList(forged), S_IFREG | 0644, false},
        {"list of strings", *keyedArchive(Value(Array{Value("x")})), S_IFREG | 0644, false},
        {"over a mebibyte", std::string((1 << 20) + 1, 'x'), S_IFREG | 0644, false},
        {"a FIFO", "", S_IFIFO | 0644, false},
        {"a directory", "", S_IFDIR | 0755, false},
        {"a symbolic link", "/etc/shadow", S_IFLNK | 0777, false},
        {"strings where numbers are", *keyedArchive(Value(listOf({stringy}))), S_IFREG | 0644, false},
        {"huge numbers", *keyedArchive(Value(listOf({huge}))), S_IFREG | 0644, true},
    };
    sys.login("kid");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys.files[policyPath()] = FakeFile{c.bytes, c.mode, 1001};
        sys.appends.clear();
        monitor->loadUserData();
        const std::vector<std::string> lines = logMessages();
        if (c.loads) {
            EXPECT_EQ(lines, std::vector<std::string>{"data loaded for kid"});
        } else {
            EXPECT_TRUE(monitor->userlist.empty());
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0].rfind("policy file " + policyPath(), 0), 0u) << lines[0];
            EXPECT_EQ(lines[1], "data loaded for kid");
        }
        for (int i = 0; i < 30; ++i) tick();
        EXPECT_TRUE(monitor->isRunning);
    }
}

TEST_F(PolicyTest, UpdateUserCountsOneMinuteStampsAndWritesTheNamedFile) {
    sys.login("kid");
    auto record = limitRecord(60);  // usage absent
    record->setHomePath("/somewhere/else/.horavel");
    plantPolicy(listOf({record}));
    monitor->loadUserData();
    sys.advance(1);
    monitor->updateUser("kid", 0);
    auto saved = savedPolicy("kid");
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0]->usage().intValue(), 1);
    ASSERT_NE(saved[0]->date().date(), nullptr);
    EXPECT_NEAR(CalendarDate::fromValue(*saved[0]->date().date()).unixTime(), sys.now(), 1e-3);
    EXPECT_EQ(sys.atomicWrites, std::vector<std::string>{policyPath("kid")});

    monitor->updateUser("kid", 1);
    monitor->updateUser("kid", -1);
    monitor->updateUser(std::nullopt, 0);
    monitor->updateUser("../etc", 0);
    EXPECT_EQ(sys.atomicWrites.size(), 1u);
    EXPECT_EQ(recordAt(monitor->userlist, 0)->usage().intValue(), 3)
        << "unsaved minutes stay counted in memory";
}

TEST_F(PolicyTest, FailedSaveKeepsTheCountForTheNextSave) {
    sys.login("kid");
    plantPolicy(listOf({limitRecord(60, 4, sys.now())}));
    monitor->loadUserData();
    sys.writesFail = true;
    monitor->updateUser("kid", 0);
    sys.writesFail = false;
    monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 6);
}

TEST_F(PolicyTest, SavesKeepTheOwnerAndModeOfTheLoadedFile) {
    // Root writes every save; if a child's file came back root-owned 0644 it would pass for the
    // administrator's, and the script the child put in it would run as root.
    struct Case {
        const char* name;
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool trusted;
    };
    const Case cases[] = {
        {"root 0644", 0, 0, S_IFREG | 0644, true},
        {"child-owned", 1001, 1001, S_IFREG | 0644, false},
        {"child-owned private", 1001, 1001, S_IFREG | 0600, false},
        {"root but world-writable", 0, 0, S_IFREG | 0666, false},
        {"root but group-writable", 0, 50, S_IFREG | 0664, false},
        {"set-id bits dropped", 0, 0, S_IFREG | 04644, true},
    };
    sys.login("kid");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plantPolicy(listOf({limitRecord(60, 1, sys.now())}), "kid", c.owner, c.mode);
        sys.files[policyPath()].gid = c.group;
        monitor->loadUserData();
        EXPECT_EQ(monitor->policyTrusted, c.trusted);
        monitor->updateUser("kid", 0);
        const FakeFile& saved = sys.files[policyPath()];
        EXPECT_EQ(saved.mode & 07777, c.mode & 0666);
        EXPECT_EQ(saved.uid, c.owner);
        EXPECT_EQ(saved.gid, c.group);
        monitor->loadUserData();
        EXPECT_EQ(monitor->policyTrusted, c.trusted) << "a save never changes who may be trusted";
    }
}

// The administrator's tool writes a new policy and then signals; a minute counted before the
// signal is handled must not put the old list back over the new one.
TEST_F(PolicyTest, SaveNeverOverwritesAPolicyFileReplacedSinceTheLoad) {
    sys.login("kid");
    plantPolicy(listOf({limitRecord(60, 4, sys.now())}));
    monitor->loadUserData();
    monitor->updateUser("kid", 0);
    monitor->updateUser("kid", 0);  // its own saves never count as a replacement
    ASSERT_EQ(savedPolicy()[0]->usage().intValue(), 6);
    ASSERT_EQ(sys.atomicWrites.size(), 2u);

    plantPolicy(listOf({limitRecord(240, 4, sys.now())}));  // the new policy, signal pending
    const std::string installed = sys.contents(policyPath());
    monitor->updateUser("kid", 0);
    monitor->updateUser("kid", 0);
    EXPECT_EQ(sys.contents(policyPath()), installed);
    EXPECT_EQ(sys.atomicWrites.size(), 2u);
    EXPECT_EQ(countLog("policy file " + policyPath() +
                       " was replaced since it was loaded; not overwritten"),
              1u);

    monitor->loadUserData();  // the signal is handled
    EXPECT_EQ(recordAt(monitor->userlist, 0)->day(1).intValue(), 240);
    monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 5);

    // A file that is gone, or one the child put there, is written over as before.
    sys.files.erase(policyPath());
    monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 6);
    plantPolicy(listOf({limitRecord(0, 0, sys.now())}), "kid", 1001);
    monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 7);
    EXPECT_EQ(recordAt(monitor->userlist, 0)->day(1).intValue(), 240);
}

}  // namespace
}  // namespace hv::test
