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
    plantPolicy(listOf({record}), "kid", 1001);
    monitor->loadUserData();
    sys.advance(1);
    monitor->updateUser("kid", 0);
    auto saved = savedPolicy("kid");
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0]->usage().intValue(), 1);
    ASSERT_NE(saved[0]->date().date(), nullptr);
    EXPECT_NEAR(CalendarDate::fromValue(*saved[0]->date().date()).unixTime(), sys.now(), 1e-3);
    EXPECT_EQ(sys.atomicWrites, std::vector<std::string>{policyPath("kid")});

    // Another account's name never takes the loaded file's owner and mode to that account's
    // path, nor counts a minute of it here.
    monitor->updateUser("kid", 1);
    monitor->updateUser("kid", -1);
    monitor->updateUser(std::nullopt, 0);
    monitor->updateUser("../etc", 0);
    monitor->updateUser("pat", 0);
    EXPECT_EQ(sys.atomicWrites.size(), 1u);
    EXPECT_FALSE(sys.fileExists(policyPath("pat")));
    EXPECT_EQ(recordAt(monitor->userlist, 0)->usage().intValue(), 1);
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
        sys.files.erase(config.storePolicyPath("kid"));
        sys.files.erase(config.storePreviousPath("kid"));
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
TEST_F(PolicyTest, SaveNeverOverwritesAStoreEntryReplacedSinceTheLoad) {
    const std::string entry = config.storePolicyPath("kid");
    sys.login("kid");
    plantStore(listOf({limitRecord(60, 4, sys.now())}));
    monitor->loadUserData();
    monitor->updateUser("kid", 0);
    monitor->updateUser("kid", 0);  // its own saves never count as a replacement
    ASSERT_EQ(savedPolicy("kid", entry)[0]->usage().intValue(), 6);
    ASSERT_EQ(countWrites(entry), 2u);

    plantStore(listOf({limitRecord(240, 4, sys.now())}));  // the new policy, signal pending
    const std::string installed = sys.contents(entry);
    monitor->updateUser("kid", 0);
    monitor->updateUser("kid", 0);
    EXPECT_EQ(sys.contents(entry), installed);
    EXPECT_EQ(countWrites(entry), 2u);
    EXPECT_EQ(countLog("policy file " + entry + " was replaced since it was loaded; not overwritten"), 1u);

    monitor->loadUserData();  // the signal is handled
    EXPECT_EQ(recordAt(monitor->userlist, 0)->day(1).intValue(), 240);
    monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy("kid", entry)[0]->usage().intValue(), 5);
}

// For an account the store does not hold, the home file is the policy, as ever: a child's own
// file replaced or deleted is written over, and only the administrator's replacement waits.
TEST_F(PolicyTest, SaveNeverOverwritesAHomeFileTheAdministratorReplaced) {
    sys.login("kid");
    plantPolicy(listOf({limitRecord(60, 4, sys.now())}), "kid", 1001);
    monitor->loadUserData();
    monitor->updateUser("kid", 0);
    plantPolicy(listOf({limitRecord(240, 4, sys.now())}));  // root's, signal pending
    const std::string installed = sys.contents(policyPath());
    monitor->updateUser("kid", 0);
    EXPECT_EQ(sys.contents(policyPath()), installed);

    plantPolicy(listOf({limitRecord(240, 4, sys.now())}), "kid", 1001);
    monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy()[0]->day(1).intValue(), 60);
    sys.files.erase(policyPath());
    monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 8);
}

// The child owns its home: whatever it does to its copy, a managed account's policy and counts
// come from the store, and each save puts them back in the home copy too.
TEST_F(PolicyTest, AManagedAccountIsReadFromTheStoreAloneAndSavedToItWithAHomeCopy) {
    const std::string entry = config.storePolicyPath("kid");
    const std::string generous = *keyedArchive(Value(listOf({limitRecord(1440, 0, sys.now())})));
    struct Case {
        const char* name;
        std::function<void()> child;
    };
    const Case cases[] = {
        {"home copy deleted", [&] { sys.files.erase(policyPath()); }},
        {"home copy rewritten by the child", [&] { sys.files[policyPath()] = FakeFile{generous, S_IFREG | 0644, 1001}; }},
        {"home copy a link", [&] { sys.files[policyPath()] = FakeFile{"/etc/shadow", S_IFLNK | 0777, 1001}; }},
    };
    sys.login("kid");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plantStore(listOf({limitRecord(60, 10, sys.now())}));
        sys.files.erase(config.storePreviousPath("kid"));
        c.child();
        monitor->loadUserData();
        ASSERT_EQ(monitor->userlist.size(), 1u);
        EXPECT_EQ(recordAt(monitor->userlist, 0)->day(1).intValue(), 60);
        EXPECT_TRUE(monitor->policyTrusted);
        monitor->updateUser("kid", 0);
        EXPECT_EQ(savedPolicy("kid", entry)[0]->usage().intValue(), 11);
        EXPECT_EQ(savedPolicy("kid", config.storePreviousPath("kid"))[0]->usage().intValue(), 10)
            << "the entry it replaced is kept as the previous copy";
        EXPECT_EQ(sys.contents(policyPath()), sys.contents(entry));
        const FakeFile& copy = sys.files[policyPath()];
        EXPECT_EQ(copy.uid, 0u);
        EXPECT_EQ(copy.mode, S_IFREG | 0644);
        EXPECT_EQ(sys.files[entry].mode, S_IFREG | 0600);
    }
}

TEST_F(PolicyTest, AnUnusableStoreEntryGivesWayToItsPreviousCopy) {
    const std::string entry = config.storePolicyPath("kid");
    const std::string previous = config.storePreviousPath("kid");
    const std::string good = *keyedArchive(Value(listOf({limitRecord(45, 3, sys.now())})));
    struct Case {
        const char* name;
        std::optional<FakeFile> entry, previous;
        std::optional<int32_t> allowance;  // the list loaded, if any
        std::string line;                  // the log line before "data loaded for kid"
    };
    const Case cases[] = {
        {"entry corrupt", FakeFile{"junk", S_IFREG | 0600, 0}, FakeFile{good, S_IFREG | 0600, 0}, 45,
         "policy store entry " + entry + " is no policy: "},
        {"entry not root's alone", FakeFile{good, S_IFREG | 0666, 0}, FakeFile{good, S_IFREG | 0600, 0}, 45,
         "policy store entry " + entry + " is not root's alone; its previous copy is used"},
        {"entry missing", std::nullopt, FakeFile{good, S_IFREG | 0600, 0}, 45,
         "policy store entry " + entry + " is missing; its previous copy is used"},
        {"both unusable", FakeFile{"junk", S_IFREG | 0600, 0}, FakeFile{"", S_IFREG | 0600, 0}, std::nullopt,
         "policy store entry " + entry + " is no policy: "},
    };
    sys.login("kid");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys.files.erase(entry);
        sys.files.erase(previous);
        if (c.entry) sys.files[entry] = *c.entry;
        if (c.previous) sys.files[previous] = *c.previous;
        plantPolicy(listOf({limitRecord(1440, 0, sys.now())}), "kid", 1001);  // never read back
        sys.appends.clear();
        monitor->loadUserData();
        const std::vector<std::string> lines = logMessages();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];
        EXPECT_EQ(lines[0].find(c.allowance ? "previous copy is used" : "no policy loaded") != std::string::npos, true)
            << lines[0];
        if (!c.allowance) {
            EXPECT_TRUE(monitor->userlist.empty());
            continue;
        }
        EXPECT_EQ(recordAt(monitor->userlist, 0)->day(1).intValue(), *c.allowance);
        const std::string kept = sys.contents(previous);
        monitor->updateUser("kid", 0);
        EXPECT_EQ(savedPolicy("kid", entry)[0]->usage().intValue(), 4);
        EXPECT_EQ(sys.contents(previous), kept) << "an unusable entry never becomes the previous copy";
    }
}

TEST_F(PolicyTest, OnlyAHomeFileRootAloneWroteIsImportedIntoTheStore) {
    const std::string entry = config.storePolicyPath("kid");
    sys.login("kid");
    plantPolicy(listOf({limitRecord(60, 2, sys.now())}), "kid", 1001, S_IFREG | 0644);
    monitor->loadUserData();
    EXPECT_FALSE(sys.fileExists(entry)) << "the child's own file is never promoted";
    EXPECT_FALSE(monitor->managed);

    // A file root wrote there before the store existed (an older horavelset).
    sys.files[policyPath()].uid = 0;
    monitor->loadUserData();
    EXPECT_TRUE(monitor->managed);
    EXPECT_EQ(countLog("policy of kid imported into " + entry), 1u);
    EXPECT_EQ(sys.contents(entry), sys.contents(policyPath()));
    EXPECT_EQ(sys.files[entry].mode, S_IFREG | 0600);
    EXPECT_EQ(sys.files[config.storeRoot].mode, S_IFDIR | 0700);

    // From now on the child's rewrite of its home file changes nothing.
    plantPolicy(listOf({limitRecord(1440, 0, sys.now())}), "kid", 1001);
    monitor->loadUserData();
    EXPECT_EQ(recordAt(monitor->userlist, 0)->day(1).intValue(), 60);
}

// Saves that fail (a full disk, exhausted inodes) are said once, not every minute; the count
// stays in memory and reaches the file with the next save that works.
TEST_F(PolicyTest, FailedSavesAreLoggedOnceAndTheHomeCopyNeverStopsTheStore) {
    const std::string entry = config.storePolicyPath("kid");
    sys.login("kid");
    plantStore(listOf({limitRecord(60, 4, sys.now())}));
    monitor->loadUserData();
    sys.unwritable.insert(policyPath());
    for (int i = 0; i < 3; ++i) monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy("kid", entry)[0]->usage().intValue(), 7) << "the store is saved all the same";
    EXPECT_EQ(countLog("policy of kid could not be copied to " + policyPath()), 1u);

    sys.unwritable.insert(entry);
    for (int i = 0; i < 3; ++i) monitor->updateUser("kid", 0);
    EXPECT_EQ(countLog("policy of kid could not be saved to " + entry), 1u);
    sys.unwritable.clear();
    monitor->updateUser("kid", 0);
    EXPECT_EQ(savedPolicy("kid", entry)[0]->usage().intValue(), 11);
    EXPECT_EQ(savedPolicy()[0]->usage().intValue(), 11);
}

}  // namespace
}  // namespace hv::test
