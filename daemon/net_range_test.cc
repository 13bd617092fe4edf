#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "daemon/monitors_fixture.h"

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
    std::vector<std::string> commands;  // run by this step
};

TEST_F(NetRangeTest, AfternoonRange) {
    Monitor& m = afternoon();
    const Step day[] = {
        {15, 59, kNetworkOff, false, {"ifconfig eth0 down"}},
        {15, 59, kNetworkOff, false, {"ifconfig eth0 down"}},
        {16, 0, 120, true, {"ifconfig eth0 up"}},
        {16, 0, 120, true, {}},
        {17, 59, 1, true, {}},
        {18, 0, kNetworkOff, false, {"ifconfig eth0 down"}},
        {18, 1, kNetworkOff, false, {"ifconfig eth0 down"}},
    };
    for (const Step& step : day) {
        SCOPED_TRACE(std::to_string(step.hour) + ":" + std::to_string(step.minute));
        sys.commands.clear();
        check(m, step.hour, step.minute);
        EXPECT_EQ(m.nrmin, step.nrmin);
        EXPECT_EQ(m.ifStatus, step.ifStatus);
        EXPECT_EQ(sys.commands, step.commands);
    }
    EXPECT_TRUE(sys.notices.empty());
    EXPECT_TRUE(monitorLog().empty());
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

TEST_F(NetRangeTest, UnsetRangesLeaveTheNetworkOnAllDay) {
    Monitor& m = monitorWith(
        {rangedLimit(0, 2), rangeRecord(0), rangeRecord(0), rangeRecord(0), rangeRecord(0)});
    m.interface = "eth0";
    m.keeplimit = 1;  // unlike time ranges, keeplimit does not matter here
    check(m, 0, 0);
    check(m, 12, 0);
    EXPECT_EQ(m.nrmin, kNoRange);
    EXPECT_TRUE(sys.commands.empty());

    m.ifStatus = false;  // switched off earlier: brought up once
    check(m, 12, 1);
    check(m, 12, 2);
    EXPECT_EQ(sys.commands, std::vector<std::string>{"ifconfig eth0 up"});
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

TEST_F(NetRangeTest, WithoutAnInterfaceNoCommandRuns) {
    Monitor& m = afternoon();
    m.interface.reset();
    check(m, 15, 0);
    EXPECT_EQ(m.nrmin, kNetworkOff);
    EXPECT_FALSE(m.ifStatus);
    check(m, 16, 0);
    EXPECT_TRUE(m.ifStatus);
    m.interfaceUp();
    m.interfaceDown();
    EXPECT_TRUE(sys.commands.empty());
}

TEST_F(NetRangeTest, CommandsQuoteANameTheShellWouldSplit) {
    Monitor& m = afternoon();
    const struct {
        std::string name;
        std::string up;
    } names[] = {
        {"eth0", "ifconfig eth0 up"},
        {"wlp2s0.100", "ifconfig wlp2s0.100 up"},
        {"x;reboot", "ifconfig 'x;reboot' up"},
        {"a'b$(c)", "ifconfig 'a'\\''b$(c)' up"},
    };
    for (const auto& n : names) {
        sys.commands.clear();
        m.interface = n.name;
        m.interfaceUp();
        EXPECT_EQ(sys.commands, std::vector<std::string>{n.up});
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
    std::vector<std::string> commands;  // after the first two ticks
    int32_t published;                  // the network word of the remaining-time record
};

void PrintTo(const TickCase& c, std::ostream* os) { *os << c.name; }

class NetRangeThroughTheTick : public NetRangeTest,
                               public ::testing::WithParamInterface<TickCase> {};

// The first tick picks the interface and brings it up for every new user; the range check runs
// only with "netmon" on.
TEST_P(NetRangeThroughTheTick, FirstTickThenTheRange) {
    const TickCase& c = GetParam();
    auto limit = limitRecord(600, 0, sunday(9, 0));
    limit->setNetRanges(1);
    plantPolicy(listOf({limit, rangeRecord(960), rangeRecord(1080)}));
    plantRunningSettings({{"netmon", Value::integer(c.netmon)}});
    sys.interfaceList = std::vector<InterfaceEntry>{{"lo", AF_INET, "127.0.0.1", true},
                                                    {"eth0", AF_INET, "10.0.0.5", true}};
    sys.login("kid");
    start();
    tick();
    tick();
    EXPECT_EQ(sys.commands, c.commands);
    EXPECT_EQ(countLog("monitor eth0 / 10.0.0.5"), 1u);
    EXPECT_EQ(sys.channel->words[1], c.published);
}

INSTANTIATE_TEST_SUITE_P(
    Netmon, NetRangeThroughTheTick,
    ::testing::Values(
        TickCase{"off", 0, {"ifconfig eth0 up"}, -1},
        TickCase{"on", 1, {"ifconfig eth0 up", "ifconfig eth0 down", "ifconfig eth0 down"}, -2}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReloadCase {
    const char* name;
    std::function<void(FakeSystem&, Monitor&)> reload;
};

void PrintTo(const ReloadCase& c, std::ostream* os) { *os << c.name; }

class NetRangeAcrossAReload : public NetRangeTest,
                              public ::testing::WithParamInterface<ReloadCase> {};

// Two interfaces; the daemon switches the last one off outside the range. A reload looks for the
// interface again, and the one switched off no longer shows as up: it must stay the one the
// daemon controls, or it stays down for good while another is switched in its place.
TEST_P(NetRangeAcrossAReload, KeepsTheInterfaceItSwitchedOff) {
    const ReloadCase& c = GetParam();
    auto limit = limitRecord(600, 0, sunday(9, 0));
    limit->setNetRanges(1);
    plantPolicy(listOf({limit, rangeRecord(960), rangeRecord(1080)}));
    plantRunningSettings({{"netmon", Value::integer(1)}});
    sys.interfaceList = std::vector<InterfaceEntry>{{"eth0", AF_INET, "10.0.0.5", true},
                                                    {"eth1", AF_INET, "10.0.1.5", true}};
    // ifconfig as the kernel sees it: the flag of the named interface follows the command.
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
    ASSERT_FALSE(up(1));

    sys.commands.clear();
    c.reload(sys, m);
    tick();
    tick();
    EXPECT_EQ(m.interface, "eth1");
    EXPECT_TRUE(up(0));
    EXPECT_FALSE(up(1));
    EXPECT_EQ(sys.commands, (std::vector<std::string>{"ifconfig eth1 up", "ifconfig eth1 down",
                                                      "ifconfig eth1 down"}));

    sys.setTime(sunday(16, 0));
    tick();
    EXPECT_TRUE(up(0));
    EXPECT_TRUE(up(1)) << "back inside the range the interface switched off is on again";
    EXPECT_EQ(sys.channel->words[1], 120);

    // Once it is on again, a reload may choose afresh.
    c.reload(sys, m);
    tick();
    EXPECT_EQ(m.interface, "eth1");
}

INSTANTIATE_TEST_SUITE_P(
    Reloads, NetRangeAcrossAReload,
    ::testing::Values(ReloadCase{"sighup", [](FakeSystem&, Monitor& m) { m.loadUserData(); }},
                      ReloadCase{"newLogin",
                                 [](FakeSystem& s, Monitor& m) {
                                     s.logout();
                                     m.userMonitor();
                                     s.login("kid");
                                 }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hv::test
