#include <sys/socket.h>

#include <csignal>
#include <set>
#include <tuple>

#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "daemon/monitors_fixture.h"
#include "daemon/startup.h"

namespace hv::test {
namespace {

constexpr uint32_t kNoRange = static_cast<uint32_t>(-1);
constexpr uint32_t kNetworkOff = static_cast<uint32_t>(-2);

class NetRangeTest : public MonitorsTest {
  protected:
    // One network range, 16:00-18:00 on Sunday, after `timeRanges` time ranges of 08:00-12:00.
    Monitor& afternoon(int32_t timeRanges = 0) {
        std::vector<std::shared_ptr<TableElement>> records = {rangedLimit(timeRanges, 1)};
        for (int32_t i = 0; i < timeRanges; ++i) {
            records.push_back(rangeRecord(480));
            records.push_back(rangeRecord(720));
        }
        records.push_back(rangeRecord(960));
        records.push_back(rangeRecord(1080));
        Monitor& m = monitorWith(records);
        m.interface = "eth0";
        return m;
    }

    // What the tick does around the check: no network range until the check says otherwise.
    void check(Monitor& m, int hour, int minute) {
        sys.setTime(sunday(hour, minute));
        m.nrmin = kNoRange;
        m.checkNetRange(0);
    }
};

struct Step {
    int hour, minute;
    uint32_t nrmin;
    bool ifStatus;
    std::vector<std::string> changes;  // firewall changes made by this step
    std::vector<std::string> log;      // lines logged by this step
};

// The rule is installed and lifted on the changes of state only, never on every tick.
TEST_F(NetRangeTest, AfternoonRange) {
    Monitor& m = afternoon();
    const std::string kid = std::to_string(sys.uidByName("kid"));
    const Step day[] = {
        {15, 59, kNetworkOff, false, {"block " + kid}, {"network off for kid"}},
        {15, 59, kNetworkOff, false, {}, {}},
        {16, 0, 120, true, {"unblock " + kid}, {"network on for kid"}},
        {16, 0, 120, true, {}, {}},
        {17, 59, 1, true, {}, {}},
        {18, 0, kNetworkOff, false, {"block " + kid}, {"network off for kid"}},
        {18, 1, kNetworkOff, false, {}, {}},
    };
    for (const Step& step : day) {
        SCOPED_TRACE(std::to_string(step.hour) + ":" + std::to_string(step.minute));
        sys.firewallChanges.clear();
        sys.appends.clear();
        check(m, step.hour, step.minute);
        EXPECT_EQ(m.nrmin, step.nrmin);
        EXPECT_EQ(m.ifStatus, step.ifStatus);
        EXPECT_EQ(sys.firewallChanges, step.changes);
        EXPECT_EQ(monitorLog(), step.log);
    }
    EXPECT_TRUE(sys.commands.empty());
    EXPECT_TRUE(sys.notices.empty());
}

// A firewall that refuses leaves the network on: nothing is logged, and each tick tries again.
TEST_F(NetRangeTest, ARefusedRuleIsTriedAgain) {
    Monitor& m = afternoon();
    sys.firewallFails = true;
    check(m, 15, 0);
    check(m, 15, 1);
    EXPECT_EQ(sys.firewallChanges.size(), 2u);
    EXPECT_TRUE(monitorLog().empty());
    sys.firewallFails = false;
    check(m, 15, 2);
    EXPECT_EQ(sys.blockedUids, std::set<uid_t>{static_cast<uid_t>(sys.uidByName("kid"))});
    EXPECT_EQ(monitorLog(), std::vector<std::string>{"network off for kid"});
}

// The interface method switches off every interface that is up, one that comes up later too, and
// brings up again each that it switched off, and no other.
TEST_F(NetRangeTest, InterfaceMethodSwitchesEveryInterface) {
    Monitor& m = afternoon();
    m.netmethod = "interface";
    sys.interfaceList = std::vector<InterfaceEntry>{{"lo", AF_INET, "127.0.0.1", true},
                                                    {"eth0", AF_INET, "10.0.0.5", true},
                                                    {"eth0:1", AF_INET, "10.0.9.5", true},
                                                    {"wlan0", AF_INET, "10.0.1.5", true},
                                                    {"eth9", AF_INET, "10.0.2.5", false}};
    // ifconfig as the kernel sees it: the flag of the named interface follows the command.
    sys.onShell = [this](const std::string& command) {
        for (InterfaceEntry& entry : *sys.interfaceList) {
            const std::string name = entry.name.substr(0, entry.name.find(':'));
            if (command == "ifconfig " + name + " up") entry.up = true;
            if (command == "ifconfig " + name + " down") entry.up = false;
        }
        return 0;
    };
    check(m, 15, 0);
    check(m, 15, 1);
    EXPECT_EQ(sys.commands, (std::vector<std::string>{"ifconfig eth0 down", "ifconfig wlan0 down"}));
    sys.interfaceList->push_back({"usb0", AF_INET, "10.0.3.5", true});  // a tether after login
    sys.commands.clear();
    check(m, 15, 2);
    EXPECT_EQ(sys.commands, std::vector<std::string>{"ifconfig usb0 down"});
    sys.commands.clear();
    check(m, 16, 0);
    EXPECT_EQ(sys.commands, (std::vector<std::string>{"ifconfig eth0 up", "ifconfig wlan0 up",
                                                      "ifconfig usb0 up"}));
    EXPECT_FALSE((*sys.interfaceList)[4].up) << "an interface the daemon did not switch off stays off";
    EXPECT_EQ(monitorLog(), (std::vector<std::string>{"network off for kid", "network on for kid"}));
    EXPECT_TRUE(sys.firewallChanges.empty());
}

TEST_F(NetRangeTest, OutsideNamesTheLastRangeLookedAt) {
    Monitor& m = afternoon();
    check(m, 12, 0);
    EXPECT_EQ(m.starttime, 960);
    EXPECT_EQ(m.endtime, 1080);
}

TEST_F(NetRangeTest, NetworkRangesFollowTheTimeRanges) {
    Monitor& m = afternoon(2);
    check(m, 16, 30);
    EXPECT_EQ(m.nrmin, 90u);
    EXPECT_TRUE(sys.commands.empty());
    check(m, 9, 0);  // inside the time ranges, outside the network range
    EXPECT_EQ(m.nrmin, kNetworkOff);
}

TEST_F(NetRangeTest, ANegativeTimeRangeCountMeansNoTimeRanges) {
    Monitor& m = afternoon();
    auto limit = recordAt(m.userlist, 0);
    limit->setRanges(-3);
    check(m, 17, 0);
    EXPECT_EQ(m.nrmin, 60u);
}

TEST_F(NetRangeTest, OnlyTheFirstRangeHoldingTheMinuteCounts) {
    Monitor& m = monitorWith({rangedLimit(0, 2), rangeRecord(600), rangeRecord(720),
                              rangeRecord(540), rangeRecord(1200)});
    m.interface = "eth0";
    check(m, 11, 0);
    EXPECT_EQ(m.nrmin, 60u);
    check(m, 12, 0);  // end of the first range: off, though the second range holds 12:00
    EXPECT_EQ(m.nrmin, kNetworkOff);
}

// While off, the status and the tray are told when the next range begins today.
TEST_F(NetRangeTest, OffUntilTheNextRangeBegins) {
    Monitor& m = monitorWith({rangedLimit(0, 3), rangeRecord(960), rangeRecord(1080), rangeRecord(600),
                              rangeRecord(720), rangeRecord(0), rangeRecord(0)});
    const struct {
        int hour, minute;
        int32_t back;
    } steps[] = {{9, 0, 600}, {12, 0, 960}, {13, 0, 960}, {18, 0, -1}, {23, 59, -1}};
    for (const auto& step : steps) {
        check(m, step.hour, step.minute);
        EXPECT_EQ(m.nrmin, kNetworkOff);
        EXPECT_EQ(m.netback, step.back) << step.hour << ":" << step.minute;
    }
}

TEST_F(NetRangeTest, UnsetRangesLeaveTheNetworkOnAllDay) {
    Monitor& m = monitorWith(
        {rangedLimit(0, 2), rangeRecord(0), rangeRecord(0), rangeRecord(0), rangeRecord(0)});
    m.interface = "eth0";
    m.keeplimit = 1;  // unlike time ranges, keeplimit does not matter here
    check(m, 0, 0);
    check(m, 12, 0);
    EXPECT_EQ(m.nrmin, kNoRange);
    EXPECT_TRUE(sys.commands.empty());

    m.interfaceDown();  // switched off earlier: given back once
    sys.firewallChanges.clear();
    check(m, 12, 1);
    check(m, 12, 2);
    EXPECT_EQ(sys.firewallChanges,
              std::vector<std::string>{"unblock " + std::to_string(sys.uidByName("kid"))});
    EXPECT_TRUE(m.ifStatus);
    EXPECT_EQ(m.nrmin, kNoRange);
}

TEST_F(NetRangeTest, MissingRecordsReadAsUnsetRanges) {
    for (int32_t promised : {2, 1000, std::numeric_limits<int32_t>::max()}) {
        SCOPED_TRACE(promised);
        Monitor& m = monitorWith({rangedLimit(0, promised), rangeRecord(960), rangeRecord(1080)});
        m.interface = "eth0";
        check(m, 17, 0);
        EXPECT_EQ(m.nrmin, 60u);
        check(m, 19, 0);
        EXPECT_EQ(m.nrmin, kNetworkOff);
        EXPECT_EQ(m.starttime, 960);
    }
}

TEST_F(NetRangeTest, CommandsQuoteANameTheShellWouldSplit) {
    Monitor& m = afternoon();
    m.netmethod = "interface";
    const struct {
        std::string name;
        std::string down;
    } names[] = {
        {"eth0", "ifconfig eth0 down"},
        {"wlp2s0.100", "ifconfig wlp2s0.100 down"},
        {"x;reboot", "ifconfig 'x;reboot' down"},
        {"a'b$(c)", "ifconfig 'a'\\''b$(c)' down"},
    };
    for (const auto& n : names) {
        sys.commands.clear();
        sys.interfaceList = std::vector<InterfaceEntry>{{n.name, AF_INET, "10.0.0.1", true}};
        m.interfaceDown();
        EXPECT_EQ(sys.commands, std::vector<std::string>{n.down});
    }
}

TEST_F(NetRangeTest, GetInterfaceKeepsTheLastQualifyingRecord) {
    Monitor& m = monitorWith({});
    sys.interfaceList = std::vector<InterfaceEntry>{
        {"lo", AF_INET, "127.0.0.1", true},    {"en0", AF_INET, "10.0.0.5", true},
        {"eth2", AF_INET, "10.1.1.1", false},  {"v6only", AF_INET6, "", true},
        {"en1", AF_INET, "192.168.1.9", true}, {"lowpan0", AF_INET, "10.2.2.2", true},
    };
    m.getInterface();
    EXPECT_EQ(m.interface, "en1");
    EXPECT_EQ(monitorLog(),
              (std::vector<std::string>{"monitor en0 / 10.0.0.5", "monitor en1 / 192.168.1.9"}));
}

TEST_F(NetRangeTest, GetInterfaceCutsAnAliasLabel) {
    Monitor& m = monitorWith({});
    sys.interfaceList = std::vector<InterfaceEntry>{{"eth0:1", AF_INET, "10.3.3.3", true}};
    m.getInterface();
    EXPECT_EQ(m.interface, "eth0");
    EXPECT_EQ(monitorLog(), std::vector<std::string>{"monitor eth0 / 10.3.3.3"});
}

TEST_F(NetRangeTest, GetInterfaceKeepsThePreviousNameWhenNoneQualifies) {
    Monitor& m = monitorWith({});
    m.interface = "old0";
    const std::optional<std::vector<InterfaceEntry>> lists[] = {
        std::nullopt,
        std::vector<InterfaceEntry>{},
        std::vector<InterfaceEntry>{{"lo", AF_INET, "127.0.0.1", true},
                                    {"eth0", AF_INET, "10.0.0.1", false}},
    };
    for (const auto& list : lists) {
        sys.interfaceList = list;
        m.getInterface();
        EXPECT_EQ(m.interface, "old0");
    }
    EXPECT_TRUE(monitorLog().empty());
}

struct TickCase {
    const char* name;
    int64_t netmon;
    size_t blocks;      // firewall changes over three ticks outside the range
    int32_t published;  // the network word of the remaining-time record
    int32_t back;       // the word after the record
};

void PrintTo(const TickCase& c, std::ostream* os) { *os << c.name; }

class NetRangeThroughTheTick : public NetRangeTest,
                               public ::testing::WithParamInterface<TickCase> {};

// The range check runs only with "netmon" on, and changes the rule once for all its ticks.
TEST_P(NetRangeThroughTheTick, OneRuleForManyTicks) {
    const TickCase& c = GetParam();
    auto limit = limitRecord(600, 0, sunday(9, 0));
    limit->setNetRanges(1);
    plantPolicy(listOf({limit, rangeRecord(960), rangeRecord(1080)}));
    plantRunningSettings({{"netmon", Value::integer(c.netmon)}});
    sys.login("kid");
    start();
    tick();
    tick();
    tick();
    EXPECT_EQ(sys.firewallChanges.size(), c.blocks);
    EXPECT_EQ(sys.blockedUids.size(), c.blocks);
    EXPECT_EQ(countLog("network off for kid"), c.blocks);
    EXPECT_EQ(sys.channel->words[1], c.published);
    EXPECT_EQ(sys.channel->networkBack, c.back);
    EXPECT_TRUE(sys.commands.empty());
}

INSTANTIATE_TEST_SUITE_P(Netmon, NetRangeThroughTheTick,
                         ::testing::Values(TickCase{"off", 0, 0, -1, -1}, TickCase{"on", 1, 1, -2, 960}),
                         [](const auto& info) { return std::string(info.param.name); });

class NetworkGivenBack;

struct EndCase {
    const char* name;
    std::function<void(NetworkGivenBack&)> end;
    bool stopped;  // the loop was asked to end
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class NetworkGivenBack : public NetRangeTest,
                         public ::testing::WithParamInterface<std::tuple<EndCase, const char*>> {
  public:
    void logout() {
        sys.logout();
        tick();
    }
    void anotherAccount() {
        sys.login("parent");
        tick();
    }
    void monitoringOff() {
        plantSettings({{"status", Value::integer(0)}});
        monitor->loadUserStatus();
    }
    void stop() { sys.raise(SIGTERM); }
};

// Outside the range the account's network is off; each of these gives it back at once, by either
// method, and nothing of the daemon's blocks anyone after.
TEST_P(NetworkGivenBack, WhenTheRangeNoLongerApplies) {
    const auto& [c, method] = GetParam();
    auto limit = limitRecord(600, 0, sunday(9, 0));
    limit->setNetRanges(1);
    plantPolicy(listOf({limit, rangeRecord(960), rangeRecord(1080)}));
    plantRunningSettings({{"netmon", Value::integer(1)}, {"netmethod", Value(method)}});
    sys.interfaceList = std::vector<InterfaceEntry>{{"eth0", AF_INET, "10.0.0.5", true}};
    sys.setTime(sunday(15, 0));
    sys.login("kid");
    installSignalHandlers(sys, start());
    tick();
    ASSERT_EQ(countLog("network off for kid"), 1u);
    sys.interfaceList = std::vector<InterfaceEntry>{};
    c.end(*this);
    EXPECT_TRUE(sys.blockedUids.empty());
    const std::vector<std::string> commands =
        std::string(method) == "interface"
            ? std::vector<std::string>{"ifconfig eth0 down", "ifconfig eth0 up"}
            : std::vector<std::string>{};
    EXPECT_EQ(sys.commands, commands);
    EXPECT_EQ(countLog("network on for kid"), 1u);
    EXPECT_EQ(sys.stopped.has_value(), c.stopped);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, NetworkGivenBack,
    ::testing::Combine(
        ::testing::Values(EndCase{"logout", [](NetworkGivenBack& t) { t.logout(); }, false},
                          EndCase{"anotherAccount", [](NetworkGivenBack& t) { t.anotherAccount(); }, false},
                          EndCase{"monitoringOff", [](NetworkGivenBack& t) { t.monitoringOff(); }, false},
                          EndCase{"stop", [](NetworkGivenBack& t) { t.stop(); }, true}),
        ::testing::Values("firewall", "interface")),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param);
    });

struct ReloadCase {
    const char* name;
    std::function<void(FakeSystem&, Monitor&)> reload;
    std::vector<std::string> commands;  // by the reload and the two ticks after it
};

void PrintTo(const ReloadCase& c, std::ostream* os) { *os << c.name; }

class NetRangeAcrossAReload : public NetRangeTest,
                              public ::testing::WithParamInterface<ReloadCase> {};

// Two interfaces, both switched off outside the range by the interface method. A reload of the
// same account's policy keeps them off without switching them on and off again; a new login gives
// them back at the logout and switches them off again. Inside the range both come back.
TEST_P(NetRangeAcrossAReload, KeepsWhatItSwitchedOff) {
    const ReloadCase& c = GetParam();
    auto limit = limitRecord(600, 0, sunday(9, 0));
    limit->setNetRanges(1);
    plantPolicy(listOf({limit, rangeRecord(960), rangeRecord(1080)}));
    plantRunningSettings({{"netmon", Value::integer(1)}, {"netmethod", Value("interface")}});
    sys.interfaceList = std::vector<InterfaceEntry>{{"eth0", AF_INET, "10.0.0.5", true},
                                                    {"eth1", AF_INET, "10.0.1.5", true}};
    sys.onShell = [this](const std::string& command) {
        for (InterfaceEntry& entry : *sys.interfaceList) {
            if (command == "ifconfig " + entry.name + " up") entry.up = true;
            if (command == "ifconfig " + entry.name + " down") entry.up = false;
        }
        return 0;
    };
    const auto up = [this](size_t i) { return (*sys.interfaceList)[i].up; };
    sys.setTime(sunday(15, 0));
    sys.login("kid");
    Monitor& m = start();
    tick();
    ASSERT_FALSE(up(0));
    ASSERT_FALSE(up(1));

    sys.commands.clear();
    c.reload(sys, m);
    tick();
    tick();
    EXPECT_FALSE(up(0));
    EXPECT_FALSE(up(1));
    EXPECT_EQ(sys.commands, c.commands);

    sys.setTime(sunday(16, 0));
    tick();
    EXPECT_TRUE(up(0));
    EXPECT_TRUE(up(1));
    EXPECT_EQ(sys.channel->words[1], 120);
}

INSTANTIATE_TEST_SUITE_P(
    Reloads, NetRangeAcrossAReload,
    ::testing::Values(ReloadCase{"sighup", [](FakeSystem&, Monitor& m) { m.loadUserData(); }, {}},
                      ReloadCase{"newLogin",
                                 [](FakeSystem& s, Monitor& m) {
                                     s.logout();
                                     m.userMonitor();
                                     s.login("kid");
                                 },
                                 {"ifconfig eth0 up", "ifconfig eth1 up", "ifconfig eth0 down",
                                  "ifconfig eth1 down"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hv::test
