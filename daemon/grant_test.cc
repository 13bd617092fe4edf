#include <csignal>

#include "daemon/monitor_fixture.h"
#include "daemon/startup.h"

namespace hv::test {
namespace {

class GrantTest : public MonitorTest {
protected:
    // Kid at the console, `used` of an allowance of 60 minutes stored today.
    void kidWith(int32_t used) {
        plantRunningSettings({{"grantmsg", "%u, %g more"}});
        plantPolicy(listOf({limitRecord(60, used, sys.now() - 3600)}));
        session = sys.login("kid");
    }
    void plantGrant(int32_t minutes, int day = 20261206, uid_t owner = 0, mode_t mode = S_IFREG | 0600) {
        sys.files[config.storeGrantPath("kid")] = FakeFile{formatGrant(Grant{day, minutes}), mode, owner};
    }
    std::vector<std::string> noticeTexts() const {
        std::vector<std::string> texts;
        for (const auto& notice : sys.notices) texts.push_back(notice.message);
        return texts;
    }

    ConsoleSession session;
};

TEST_F(GrantTest, TodaysGrantIsAnnouncedOnceAndLogsOutOnlyWhenItIsUsedToo) {
    kidWith(59);
    plantGrant(2);
    start();
    tick();
    EXPECT_EQ(countLog("grant - 2 min - allowed 62 min - used today 59 min"), 1u);
    ASSERT_FALSE(sys.notices.empty());
    EXPECT_EQ(sys.notices[0].level, NoticeLevel::Caution);
    EXPECT_EQ(sys.notices[0].message, "kid, 2 more");
    tickUntil([&] { return monitor->umin == 61; });
    EXPECT_TRUE(sys.terminatedUsers.empty());
    EXPECT_EQ(sys.channel->words[0], 1);

    // Reloaded (as after the tool's signal): the same grant says nothing again; more is announced
    // as the difference.
    start();
    tick();
    EXPECT_EQ(countLog("grant - 2 min - allowed 62 min - used today 61 min"), 0u);
    plantGrant(5);
    start();
    tick();
    const std::vector<std::string> texts = noticeTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "kid, 3 more"), 1) << "then warned again: " << texts.back();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "kid, 2 more"), 1);
    tickUntil([&] { return monitor->umin == 64; });
    EXPECT_TRUE(sys.terminatedUsers.empty());
    tickUntil([&] { return monitor->umin == 65; });
    EXPECT_EQ(countLog("logout - allowed 65 min - used today 65 min"), 1u);
    EXPECT_EQ(sys.terminatedUsers, std::vector<uid_t>{session.uid});
}

TEST_F(GrantTest, AllTakenAwayLeavesNoTimeRatherThanNoLimit) {
    kidWith(0);
    plantGrant(-60);
    start();
    monitor->userMonitor();
    EXPECT_EQ(countLog("logout - allowed 0 min - used today 0 min"), 1u);
    EXPECT_EQ(sys.terminatedUsers, std::vector<uid_t>{session.uid});
}

TEST_F(GrantTest, AnotherDaysGrantOrOneTheChildCouldWriteCountsForNothing) {
    const std::string ignored =
        "grant file /var/lib/horavel/grants/kid ignored: not owned by root and writable only by root";
    struct Case {
        int day;
        uid_t owner;
        mode_t mode;
        size_t saidIgnored;  // times the log has said so by then
    } cases[] = {
        {20261205, 0, S_IFREG | 0600, 0},
        {20261206, 1000, S_IFREG | 0600, 1},
        {20261206, 0, S_IFREG | 0666, 2},
    };
    kidWith(30);
    for (const Case& c : cases) {
        plantGrant(30, c.day, c.owner, c.mode);
        start();
        tick();
        EXPECT_EQ(monitor->amin, 60u) << c.day << " " << c.owner;
        EXPECT_EQ(countLog(ignored), c.saidIgnored);
    }
    EXPECT_TRUE(sys.notices.empty());
}

// The administrator's "log out now": a request in the store and SIGHUP end the account on the spot,
// through the forced logout's own path, whoever is at the console; a request the child could have
// planted ends nobody.
TEST_F(GrantTest, ALogoutRequestEndsTheAccountOnceAtTheSignal) {
    kidWith(10);
    sys.users["pat"] = 1001;
    start();
    installSignalHandlers(sys, *monitor);
    tick();
    const std::string request = config.storeLogoutDirectory() + "/kid";
    sys.files[request] = FakeFile{"", S_IFREG | 0600, 0};
    sys.files[config.storeLogoutDirectory() + "/pat"] = FakeFile{"", S_IFREG | 0600, 1001};
    ASSERT_TRUE(sys.raise(SIGHUP));
    EXPECT_EQ(countLog("logout of kid requested"), 1u);
    EXPECT_EQ(countLog("terminate loginwindow pid " + std::to_string(session.leader)), 1u);
    EXPECT_EQ(sys.terminatedUsers, std::vector<uid_t>{session.uid});
    EXPECT_TRUE(sys.sleeps.empty()) << "no 15-second wait";
    EXPECT_EQ(countLog("logout request /var/lib/horavel/logout/pat ignored: not a root-owned request for an account"),
              1u);
    EXPECT_FALSE(sys.fileExists(request));
    ASSERT_TRUE(sys.raise(SIGHUP));
    EXPECT_EQ(sys.terminatedUsers.size(), 1u) << "a request is carried out once";
}

}  // namespace
}  // namespace hv::test
