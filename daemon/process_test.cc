#include "daemon/monitor_fixture.h"

namespace hv::test {
namespace {

class ProcessTest : public MonitorTest {
protected:
    ProcessTest() { monitor = std::make_unique<Monitor>(sys, config); }
};

TEST_F(ProcessTest, FindProcessMatchesTheWholeNameOfTheUsersFirstProcess) {
    sys.users["kid"] = 1001;
    sys.users["ann"] = 1002;
    const pid_t first = sys.addProcess(1001, "firefox");
    sys.addProcess(1001, "firefox");
    const pid_t hers = sys.addProcess(1002, "steam");
    const pid_t longName = sys.addProcess(1001, "averyverylongna");

    struct Case {
        std::string name;
        std::optional<std::string> user;
        int32_t pid;
    };
    const Case cases[] = {
        {"firefox", "kid", first},
        {"fire", "kid", 0},
        {"Firefox", "kid", 0},
        {"firefox-bin", "kid", 0},
        {"steam", "kid", 0},
        {"steam", "ann", hers},
        {"averyverylongna", "kid", longName},
        {"averyverylongname", "kid", 0},
        {"firefox", "nobody-here", 0},
        {"firefox", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(monitor->findProcess(c.name, c.user), c.pid)
            << c.name << " of " << c.user.value_or("(null)");
    }
    sys.processTableFails = true;
    EXPECT_EQ(monitor->findProcess("firefox", "kid"), 0);
}

TEST_F(ProcessTest, LogoutEndsTheConsoleSessionThroughLogind) {
    const ConsoleSession session = sys.login("kid");
    monitor->user = "kid";
    monitor->userLogout();
    EXPECT_EQ(logMessages().back(), "terminate loginwindow pid " + std::to_string(session.leader));
    EXPECT_EQ(sys.terminatedSessions, std::vector<std::string>{session.id});
    EXPECT_TRUE(sys.commands.empty());
}

TEST_F(ProcessTest, LogoutFallsBackToKillWhenLogindCannotBeReached) {
    const ConsoleSession session = sys.login("kid");
    sys.logindReachable = false;
    monitor->user = "kid";
    monitor->userLogout();
    EXPECT_EQ(sys.commands, std::vector<std::string>{"kill " + std::to_string(session.leader)});
}

TEST_F(ProcessTest, LogoutNeverEndsAnotherUsersSessionOrSignalsPidOne) {
    struct Case {
        const char* name;
        std::optional<std::string> atConsole;  // who is logged in, with which leader
        pid_t leader;
        std::optional<std::string> user;  // whose time is up
        int loggedPid;
    };
    const Case cases[] = {
        {"someone else at the console", "ann", 4321, "kid", 0},
        {"nobody at the console", std::nullopt, 0, "kid", 0},
        {"no user loaded", "kid", 4321, std::nullopt, 0},
        {"leader is init", "kid", 1, "kid", 1},
        {"leader unknown", "kid", 0, "kid", 0},
    };
    sys.logindReachable = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys.logout();
        if (c.atConsole) {
            sys.login(*c.atConsole);
            sys.session->leader = c.leader;
        }
        sys.appends.clear();
        monitor->user = c.user;
        monitor->userLogout();
        EXPECT_EQ(logMessages(),
                  std::vector<std::string>{"terminate loginwindow pid " + std::to_string(c.loggedPid)});
        EXPECT_TRUE(sys.terminatedSessions.empty());
        EXPECT_TRUE(sys.commands.empty());
    }
}

}  // namespace
}  // namespace hv::test
