#include <signal.h>

#include "daemon/monitor_fixture.h"

namespace hv::test {
namespace {

class ProcessTest : public MonitorTest {
protected:
    ProcessTest() { monitor = std::make_unique<Monitor>(sys, config); }

    // The deadlines' tick comes `seconds` after now.
    void overdueAfter(double seconds) {
        sys.advance(seconds);
        monitor->killOverdue();
    }
};

TEST_F(ProcessTest, FindProcessMatchesTheNameTheExecutableOrTheSameFile) {
    sys.users["kid"] = 1001;
    sys.users["ann"] = 1002;
    // On the system path: a game reached through a link, and a file that is not executable.
    sys.files["/usr/games/tux"] = FakeFile{"elf", S_IFREG | 0755, 0, 0, 900};
    sys.files["/usr/bin/tux"] = FakeFile{"/usr/games/tux", S_IFLNK | 0777};
    sys.files["/usr/bin/notes"] = FakeFile{"text", S_IFREG | 0644, 0, 0, 901};
    const pid_t first = sys.addProcess(1001, "firefox");
    sys.addProcess(1001, "firefox");
    const pid_t hers = sys.addProcess(1002, "steam");
    const pid_t longName = sys.addProcess(1001, "averyverylongna");
    const pid_t linked = sys.addProcess(1001, "mygame", "/usr/games/supertuxkart");
    const pid_t sameFile = sys.addProcess(1001, "renamed", "/home/kid/renamed", FileInfo{1001, S_IFREG | 0755, 0, 0, 900});
    sys.addProcess(1001, "copy", "/home/kid/copy", FileInfo{1001, S_IFREG | 0755, 0, 0, 901});

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
        // Compared in the kernel's 15-character form.
        {"averyverylongname", "kid", longName},
        {"supertuxkart", "kid", linked},
        {"tux", "kid", sameFile},
        {"notes", "kid", 0},
        {"../games/tux", "kid", 0},
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

TEST_F(ProcessTest, LogoutEndsTheAccountEverywhereAndKillsWhatIsLeftTenSecondsLater) {
    const ConsoleSession session = sys.login("kid");
    const pid_t remote = sys.addProcess(session.uid, "sshd");
    const pid_t stubborn = sys.addProcess(session.uid, "game");
    sys.process(stubborn)->ignoresTerm = true;
    const pid_t others = sys.addProcess(0, "game");
    monitor->user = "kid";

    monitor->userLogout();
    EXPECT_EQ(logMessages().back(), "terminate loginwindow pid " + std::to_string(session.leader));
    EXPECT_EQ(sys.terminatedUsers, std::vector<uid_t>{session.uid});
    EXPECT_FALSE(sys.running(session.leader));
    EXPECT_FALSE(sys.running(remote));
    EXPECT_TRUE(sys.commands.empty());

    overdueAfter(9.9);
    EXPECT_TRUE(sys.running(stubborn));
    EXPECT_TRUE(sys.killedUsers.empty());
    overdueAfter(0.1);
    EXPECT_EQ(sys.killedUsers, (std::vector<std::pair<uid_t, int>>{{session.uid, SIGKILL}}));
    EXPECT_FALSE(sys.running(stubborn));
    EXPECT_TRUE(sys.running(others));
    EXPECT_EQ(logMessages().back(), "logout of kid: 1 processes left after 10 s, killed");
    overdueAfter(10);
    EXPECT_EQ(sys.killedUsers.size(), 1u) << "the deadline is acted on once";
}

TEST_F(ProcessTest, LogoutEndsTheAccountAfterASwitchToTheLoginScreen) {
    const ConsoleSession session = sys.login("kid");
    monitor->user = "kid";
    sys.logout();  // the greeter is at the console during the wait
    monitor->userLogout();
    EXPECT_EQ(logMessages().back(), "terminate loginwindow pid 0");
    EXPECT_EQ(sys.terminatedUsers, std::vector<uid_t>{session.uid});
    EXPECT_FALSE(sys.running(session.leader));
    // Nothing is left at the deadline: nothing more is done or logged.
    const size_t lines = logMessages().size();
    overdueAfter(10);
    EXPECT_TRUE(sys.killedUsers.empty());
    EXPECT_EQ(logMessages().size(), lines);
}

TEST_F(ProcessTest, WithoutLogindTheLeaderGetsKillAndEveryProcessSigterm) {
    const ConsoleSession session = sys.login("kid");
    const pid_t remote = sys.addProcess(session.uid, "sshd");
    const pid_t stubborn = sys.addProcess(session.uid, "game");
    sys.process(stubborn)->ignoresTerm = true;
    sys.logindReachable = false;
    sys.onShell = [&](const std::string&) {
        sys.sendSignal(session.leader, SIGTERM);
        return 0;
    };
    monitor->user = "kid";
    monitor->userLogout();
    EXPECT_EQ(sys.commands, std::vector<std::string>{"kill " + std::to_string(session.leader)});
    EXPECT_FALSE(sys.running(remote));
    EXPECT_TRUE(sys.running(stubborn));

    overdueAfter(10);
    EXPECT_EQ(sys.killedUsers.size(), 1u);
    EXPECT_FALSE(sys.running(stubborn)) << "killed directly when logind cannot do it";
}

TEST_F(ProcessTest, TheTickFinishesAnEndingEvenAfterMonitoringIsSwitchedOff) {
    const ConsoleSession session = sys.login("kid");
    const pid_t stubborn = sys.addProcess(session.uid, "game");
    sys.process(stubborn)->ignoresTerm = true;
    monitor->user = "kid";
    monitor->userLogout();
    monitor->isRunning = false;
    sys.advance(kLogoutKillDelay);
    monitor->userMonitor();
    EXPECT_FALSE(sys.running(stubborn));
}

TEST_F(ProcessTest, ARepeatedLogoutKeepsTheFirstDeadline) {
    const ConsoleSession session = sys.login("kid");
    const pid_t stubborn = sys.addProcess(session.uid, "game");
    sys.process(stubborn)->ignoresTerm = true;
    monitor->user = "kid";
    monitor->userLogout();
    sys.advance(6);
    monitor->userLogout();
    overdueAfter(4);
    EXPECT_FALSE(sys.running(stubborn));
}

TEST_F(ProcessTest, LogoutOfRootOrAnUnknownAccountEndsOnlyTheConsoleSession) {
    struct Case {
        const char* name;
        std::optional<std::string> atConsole;  // who is logged in, with which leader
        pid_t leader;
        std::optional<std::string> user;  // whose time is up
        int loggedPid;
        bool shell;  // "kill %d" of the leader (logind cannot be reached)
    };
    const Case cases[] = {
        {"root at the console", "root", 4321, "root", 4321, true},
        {"root elsewhere", "kid", 4321, "root", 0, false},
        {"no user loaded", "kid", 4321, std::nullopt, 0, false},
        {"leader is init", "root", 1, "root", 1, false},
        {"leader unknown", "root", 0, "root", 0, false},
    };
    sys.logindReachable = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys.logout();
        sys.commands.clear();
        if (c.atConsole) {
            sys.login(*c.atConsole);
            sys.session->leader = c.leader;
        }
        sys.appends.clear();
        monitor->user = c.user;
        monitor->userLogout();
        EXPECT_EQ(logMessages(),
                  std::vector<std::string>{"terminate loginwindow pid " + std::to_string(c.loggedPid)});
        EXPECT_TRUE(sys.terminatedUsers.empty());
        EXPECT_TRUE(sys.signalsSent.empty());
        EXPECT_EQ(sys.commands, c.shell ? std::vector<std::string>{"kill " + std::to_string(c.leader)}
                                        : std::vector<std::string>{});
    }
    overdueAfter(10);
    EXPECT_TRUE(sys.killedUsers.empty());
}

}  // namespace
}  // namespace hv::test
