#include "daemon/monitor_fixture.h"

namespace hv::test {
namespace {

class SettingsTest : public MonitorTest {
protected:
    SettingsTest() { monitor = std::make_unique<Monitor>(sys, config); }
};

TEST_F(SettingsTest, NoSettingsFileKeepsTheDefaults) {
    monitor->loadUserStatus();
    EXPECT_FALSE(monitor->isRunning);
    EXPECT_EQ(monitor->warntime, 5u);
    EXPECT_EQ(monitor->timeout, 1.0f);
    EXPECT_EQ(monitor->disktime, 15u);
    EXPECT_TRUE(monitor->diskmontimer);
    EXPECT_EQ(sys.timerCount(), 2u);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"initialization complete", "preferences loaded"}));
}

TEST_F(SettingsTest, StatusOfEveryKindSwitchesMonitoring) {
    struct Case {
        const char* name;
        Value status;
        bool running;
    };
    const Case cases[] = {
        {"string 1", "1", true},       {"integer 1", Value::integer(1), true},
        {"boolean true", Value::boolean(true), true}, {"integer 2", Value::integer(2), true},
        {"real 1.9", Value::real(1.9), true},       {"string 0", "0", false},
        {"integer 0", Value::integer(0), false},    {"boolean false", Value::boolean(false), false},
        {"absent", Value(), false},                 {"text", "on", false},
        {"array", Value(Array{Value::integer(1)}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dictionary dict;
        if (!c.status.isNil()) dict.emplace_back("status", c.status);
        plantSettings(dict);
        monitor->loadUserStatus();
        EXPECT_EQ(monitor->isRunning, c.running);
    }
}

TEST_F(SettingsTest, EveryKeyFillsItsVariableAndAbsentKeysClearThem) {
    plantSettings({{"status", Value::integer(1)},      {"keeplimit", Value::integer(1)},
                   {"warntime", Value::integer(10)},   {"warnmsg", "w"},
                   {"warnonce", Value::integer(1)},    {"appmsg", "a"},
                   {"rangemsg", "r"},                  {"logoutmsg", "l"},
                   {"diskmsg", "d"},                   {"showremain", Value::integer(1)},
                   {"hideremain", Value::integer(1)},  {"diskmon", Value::integer(1)},
                   {"netmon", Value::integer(1)},      {"appmon", Value::integer(1)},
                   {"diskmontime", Value::integer(30)}, {"tracksleep", Value::integer(1)},
                   {"notimeout", Value::integer(1)}});
    monitor->loadUserStatus();
    Monitor& m = *monitor;
    EXPECT_EQ(std::vector<uint32_t>({m.status, m.keeplimit, m.warntime, m.warnonce, m.showremain,
                                     m.hideremain, m.diskmon, m.netmon, m.appmon, m.disktime,
                                     m.tracksleep}),
              std::vector<uint32_t>({1, 1, 10, 1, 1, 1, 1, 1, 1, 30, 1}));
    EXPECT_EQ(m.warn, "w");
    EXPECT_EQ(m.appwarn, "a");
    EXPECT_EQ(m.ranges, "r");
    EXPECT_EQ(m.logout, "l");
    EXPECT_EQ(m.diskfull, "d");
    EXPECT_EQ(m.timeout, 0.0f);

    // A later file without those keys does not keep the earlier values.
    plantSettings({{"status", Value::integer(1)}, {"warnmsg", Value::integer(3)}});
    monitor->loadUserStatus();
    EXPECT_EQ(m.warntime, 0u);
    EXPECT_EQ(m.warn, std::nullopt) << "a template that is not text counts as absent";
    EXPECT_EQ(m.logout, std::nullopt);
    EXPECT_EQ(m.timeout, 1.0f);
    EXPECT_EQ(m.disktime, 15u);
    EXPECT_EQ(sys.timerCount(), 2u) << "the disk timer is made once";
}

TEST_F(SettingsTest, NotimeoutMustBeExactlyOne) {
    const std::pair<Value, float> cases[] = {{Value::integer(1), 0.0f}, {Value::integer(2), 1.0f},
                                             {Value::integer(0), 1.0f}, {Value(), 1.0f},
                                             {"1", 0.0f}};
    for (const auto& [value, timeout] : cases) {
        Dictionary dict;
        if (!value.isNil()) dict.emplace_back("notimeout", value);
        plantSettings(dict);
        monitor->loadUserStatus();
        EXPECT_EQ(monitor->timeout, timeout);
    }
}

TEST_F(SettingsTest, DiskTimeLowerBoundIsUnsigned) {
    const std::pair<int64_t, uint32_t> cases[] = {
        {10, 15}, {14, 15}, {15, 15}, {30, 30}, {-1, 0xFFFFFFFFu}, {0, 15}};
    for (const auto& [configured, expected] : cases) {
        plantSettings({{"diskmontime", Value::integer(configured)}});
        monitor->loadUserStatus();
        EXPECT_EQ(monitor->disktime, expected) << configured;
    }
}

// The disk check's period, seen from outside: a home directory walk comes one full period after
// the settings load, and a period that wraps to nothing falls back to 15 minutes instead of
// spinning the loop.
TEST(DiskTimerTest, PeriodIsTheUnsignedProductOfMinutesAndSixty) {
    const std::pair<int64_t, double> cases[] = {
        {10, 900}, {30, 1800}, {int64_t{1} << 30, 900}};
    for (const auto& [minutes, period] : cases) {
        SCOPED_TRACE(minutes);
        ScopedTimeZone zone("UTC");
        FakeSystem sys;
        Config config;
        sys.files[config.settingsFile] = FakeFile{
            *writeXmlPropertyList(Value(Dictionary{{"diskmon", Value::integer(1)},
                                                   {"diskmontime", Value::integer(minutes)}})),
            S_IFREG | 0644, 0};
        sys.login("kid");
        sys.treeSizes[config.homeRoot + "/kid"] = {4096};
        Monitor monitor(sys, config);
        monitor.loadUserStatus();
        monitor.loadUserData();
        sys.advance(period - 1);
        EXPECT_TRUE(sys.walkedRoots.empty());
        sys.advance(1);
        EXPECT_EQ(sys.walkedRoots.size(), 1u);
        // Reloading the settings with another period keeps the first timer.
        sys.files[config.settingsFile].bytes = *writeXmlPropertyList(
            Value(Dictionary{{"diskmon", Value::integer(1)}, {"diskmontime", Value::integer(60)}}));
        monitor.loadUserStatus();
        sys.advance(period);
        EXPECT_EQ(sys.walkedRoots.size(), 2u);
    }
}

TEST_F(SettingsTest, UnreadableSettingsLeaveEverythingAsItWas) {
    plantSettings({{"status", Value::integer(1)}, {"warntime", Value::integer(9)}});
    monitor->loadUserStatus();
    const std::string bad[] = {"not a property list", "<?xml version=\"1.0\"?><plist><array/></plist>",
                               std::string("bplist00\x01", 9)};
    for (const std::string& bytes : bad) {
        sys.files[config.settingsFile].bytes = bytes;
        monitor->isRunning = false;
        monitor->loadUserStatus();
        EXPECT_TRUE(monitor->isRunning) << "follows the status read before";
        EXPECT_EQ(monitor->warntime, 9u);
    }
    sys.files.erase(config.settingsFile);
    monitor->loadUserStatus();
    EXPECT_EQ(monitor->warntime, 9u);
    EXPECT_EQ(countLog("preferences loaded"), 5u);
}

TEST_F(SettingsTest, OnlyASettingsFileRootAloneCouldWriteIsRead) {
    struct Case {
        const char* name;
        uid_t owner;
        mode_t mode;
        bool read;
    };
    const Case cases[] = {
        {"root 0644", 0, S_IFREG | 0644, true},
        {"root 0600", 0, S_IFREG | 0600, true},
        {"root but world-writable", 0, S_IFREG | 0666, false},
        {"root but group-writable", 0, S_IFREG | 0664, false},
        {"a child's own", 1001, S_IFREG | 0644, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plantSettings({{"status", Value::integer(1)}, {"warntime", Value::integer(3)}});
        monitor->loadUserStatus();
        ASSERT_TRUE(monitor->isRunning);

        plantSettings({{"status", Value::integer(0)}, {"warntime", Value::integer(9)}});
        sys.files[config.settingsFile].uid = c.owner;
        sys.files[config.settingsFile].mode = c.mode;
        monitor->loadUserStatus();
        EXPECT_EQ(monitor->isRunning, !c.read);
        EXPECT_EQ(monitor->warntime, c.read ? 9u : 3u);
        EXPECT_EQ(countLog("settings file " + config.settingsFile +
                           " ignored: not owned by root and writable only by root") > 0,
                  !c.read);
    }
}

TEST_F(SettingsTest, WatchSwitchLogsItsWordAndFollowsTheFile) {
    plantSettings({{"status", Value::integer(0)}});
    monitor->watchEnable();
    EXPECT_FALSE(monitor->isRunning);
    plantSettings({{"status", Value::integer(1)}});
    monitor->watchDisable();
    EXPECT_TRUE(monitor->isRunning);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"initialization complete", "enabled",
                                                       "preferences loaded", "disabled",
                                                       "preferences loaded"}));
}

}  // namespace
}  // namespace hv::test
