#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "daemon/monitors_fixture.h"

namespace hv::test {
namespace {

class PowerTest : public MonitorsTest {
  protected:
    // "kid" at the console with 600 minutes a day, after the first tick.
    Monitor& running(uint32_t tracksleep) {
        plantPolicy(listOf({limitRecord(600, 0, sunday(9, 0))}));
        plantRunningSettings({{"tracksleep", Value::integer(tracksleep)}});
        sys.login("kid");
        Monitor& m = start();
        tick();
        EXPECT_FALSE(m.switched);
        EXPECT_EQ(m.umin, 0u);
        EXPECT_EQ(m.uminsec, 0u);
        return m;
    }

    void sleepFor(double seconds) {
        ASSERT_TRUE(sys.firePower(PowerEvent::WillSleep));
        // Wall time moves, monotonic time stands still: no tick runs while asleep.
        sys.setTime(sys.now() + seconds);
        ASSERT_TRUE(sys.firePower(PowerEvent::HasPoweredOn));
    }

    int32_t storedUsage() { return recordAt(monitor->userlist, 0)->usage().intValue(); }
};

TEST_F(PowerTest, SleepIsLetGoAndLoggedWakeIsRecorded) {
    Monitor& m = monitorWith({});
    sys.events.clear();
    sys.setTime(sunday(22, 0));
    ASSERT_TRUE(sys.firePower(PowerEvent::WillSleep));
    EXPECT_EQ(sys.powerAllowed, 1);
    ASSERT_TRUE(m.sleepStart.has_value());
    EXPECT_EQ(m.sleepStart->unixTime(), sunday(22, 0));
    EXPECT_FALSE(m.wasSleeping);
    // The sleep is let go before anything else is done.
    ASSERT_EQ(sys.events.size(), 2u);
    EXPECT_EQ(sys.events[0], "power allowed");

    sys.setTime(sunday(23, 30));
    ASSERT_TRUE(sys.firePower(PowerEvent::HasPoweredOn));
    EXPECT_EQ(sys.powerAllowed, 1);
    ASSERT_TRUE(m.sleepEnd.has_value());
    EXPECT_EQ(m.sleepEnd->unixTime(), sunday(23, 30));
    EXPECT_EQ(m.sleepStart->unixTime(), sunday(22, 0));
    EXPECT_TRUE(m.wasSleeping);
    EXPECT_EQ(monitorLog(), (std::vector<std::string>{"sleep", "wake up"}));
    ASSERT_EQ(logLines().size(), 3u);
    EXPECT_EQ(logLines()[1], "Sun Dec  6 22:00:00 2026 sleep");
}

struct SleepCase {
    const char* name;
    double seconds;
    uint32_t minutes;       // added to umin
    uint32_t uminsecAfter;  // the seconds left over, plus the 5 of the charging tick
};

void PrintTo(const SleepCase& c, std::ostream* os) { *os << c.name; }

class SleepCharge : public PowerTest, public ::testing::WithParamInterface<SleepCase> {};

TEST_P(SleepCharge, WholeMinutesToUminRestToUminsec) {
    const SleepCase& c = GetParam();
    Monitor& m = running(1);
    sleepFor(c.seconds);
    tick();
    EXPECT_EQ(m.umin, c.minutes);
    EXPECT_EQ(m.uminsec, c.uminsecAfter);
    EXPECT_EQ(storedUsage(), static_cast<int32_t>(c.minutes));
    EXPECT_FALSE(m.wasSleeping);
    // Charged once only.
    tick();
    EXPECT_EQ(m.umin, c.minutes);
    EXPECT_EQ(m.uminsec, c.uminsecAfter + 5);
}

INSTANTIATE_TEST_SUITE_P(Sleeps, SleepCharge,
                         ::testing::Values(SleepCase{"tenMinutesThirty", 630, 10, 35},
                                           SleepCase{"fortyFiveSeconds", 45, 0, 50},
                                           SleepCase{"exactlyTwoHours", 7200, 120, 5},
                                           SleepCase{"fractionsDropped", 49.9, 0, 54}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PowerTest, TwoSleepsBetweenTicksChargeOnlyTheLast) {
    Monitor& m = running(1);
    sleepFor(600);
    sleepFor(125);
    tick();
    EXPECT_EQ(m.umin, 2u);
    EXPECT_EQ(m.uminsec, 10u);
}

TEST_F(PowerTest, TracksleepTurnedOnLaterChargesTheLastSleep) {
    Monitor& m = running(0);
    sleepFor(630);
    tick();
    EXPECT_EQ(m.umin, 0u);
    EXPECT_EQ(m.uminsec, 5u);
    EXPECT_TRUE(m.wasSleeping);
    m.tracksleep = 1;
    tick();
    EXPECT_EQ(m.umin, 10u);
    EXPECT_EQ(m.uminsec, 35u);
    EXPECT_FALSE(m.wasSleeping);
}

TEST_F(PowerTest, AWakeWithoutARecordedStartChargesNothing) {
    Monitor& m = running(1);
    ASSERT_TRUE(sys.firePower(PowerEvent::HasPoweredOn));
    tick();
    tick();
    EXPECT_EQ(m.umin, 0u);
    EXPECT_LE(m.uminsec, 60u);
    EXPECT_EQ(storedUsage(), 0);
}

TEST_F(PowerTest, AWakeBeforeItsStartChargesNothing) {
    Monitor& m = running(1);
    ASSERT_TRUE(sys.firePower(PowerEvent::WillSleep));
    sys.setTime(sys.now() - 3600);  // the clock was set back during the sleep
    ASSERT_TRUE(sys.firePower(PowerEvent::HasPoweredOn));
    tick();
    tick();
    EXPECT_EQ(m.umin, 0u);
    EXPECT_LE(m.uminsec, 60u);
    EXPECT_EQ(storedUsage(), 0);
}

// Logging out and in again reloads the usage from the policy file: a charge kept only in memory
// would be gone before the next counted minute saved it.
TEST_F(PowerTest, TheChargeIsSavedAtOnceAndOutlivesALogoutAndLogin) {
    Monitor& m = running(1);
    sleepFor(2 * 3600 + 30);
    tick();
    ASSERT_EQ(m.umin, 120u);
    const auto saved = savedPolicy();
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(saved[0]->usage().intValue(), 120);

    sys.logout();
    tick();
    sys.login("kid");
    tick();
    EXPECT_EQ(m.umin, 120u);
    EXPECT_EQ(storedUsage(), 120);
}

struct MidnightCase {
    const char* name;
    double asleepAt, wokeAt;
    uint32_t umin, uminsec;  // after the waking tick, with 200 minutes used before the sleep
};

void PrintTo(const MidnightCase& c, std::ostream* os) { *os << c.name; }

class SleepAtMidnight : public PowerTest, public ::testing::WithParamInterface<MidnightCase> {};

// No tick runs at the midnight of a sleep, so the sleep itself marks the new day: only its part
// after midnight is today's, and the earlier day's minutes are not.
TEST_P(SleepAtMidnight, ChargesTheNewDayFromItsMidnight) {
    const MidnightCase& c = GetParam();
    Monitor& m = running(1);
    m.umin = 200;
    sys.setTime(c.asleepAt);
    ASSERT_TRUE(sys.firePower(PowerEvent::WillSleep));
    sys.setTime(c.wokeAt);
    ASSERT_TRUE(sys.firePower(PowerEvent::HasPoweredOn));
    tick();
    EXPECT_EQ(m.umin, c.umin);
    EXPECT_EQ(m.uminsec, c.uminsec + 5);
    EXPECT_EQ(storedUsage(), static_cast<int32_t>(c.umin));
    EXPECT_EQ(savedPolicy().at(0)->usage().intValue(), static_cast<int32_t>(c.umin));
}

INSTANTIATE_TEST_SUITE_P(
    Nights, SleepAtMidnight,
    ::testing::Values(MidnightCase{"sameDay", sunday(21, 0), sunday(22, 30, 30), 290, 30},
                      MidnightCase{"pastMidnight", sunday(23, 0), utc(2026, 12, 7, 1, 1, 30), 61,
                                   30},
                      MidnightCase{"twoNights", sunday(23, 0), utc(2026, 12, 8, 0, 10), 10, 0},
                      MidnightCase{"wokeAtMidnight", sunday(23, 59), utc(2026, 12, 7, 0, 0), 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct ForeignSleepCase {
    const char* name;
    std::optional<std::string> asleepWith;  // at the console while the computer slept
};

void PrintTo(const ForeignSleepCase& c, std::ostream* os) { *os << c.name; }

class ForeignSleep : public PowerTest, public ::testing::WithParamInterface<ForeignSleepCase> {};

// A night asleep at the login screen, or in the parent's session, is nobody's use of the child's
// allowance: the child logging in after it starts from the stored count.
TEST_P(ForeignSleep, IsNotChargedToTheNextUser) {
    const ForeignSleepCase& c = GetParam();
    plantPolicy(listOf({limitRecord(600, 0, sunday(9, 0))}));
    plantPolicy(listOf({limitRecord(0, 0, sunday(9, 0))}), "parent");
    plantRunningSettings({{"tracksleep", Value::integer(1)}});
    if (c.asleepWith) sys.login(*c.asleepWith);
    Monitor& m = start();
    tick();
    tick();
    sleepFor(8 * 3600);

    sys.login("kid");
    tick();
    EXPECT_EQ(m.user, std::optional<std::string>("kid"));
    EXPECT_EQ(m.umin, 0u);
    EXPECT_EQ(storedUsage(), 0);
    EXPECT_FALSE(m.wasSleeping);
    tick();
    EXPECT_EQ(m.umin, 0u);
    EXPECT_EQ(m.uminsec, 5u);
}

INSTANTIATE_TEST_SUITE_P(Sessions, ForeignSleep,
                         ::testing::Values(ForeignSleepCase{"loginScreen", std::nullopt},
                                           ForeignSleepCase{"parentsSession", "parent"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct GreeterCase {
    const char* name;
    double backAt;     // the child back at the console after a sleep Sunday 20:00-20:30
    uint32_t charged;  // minutes of the sleep in the child's count
};

void PrintTo(const GreeterCase& c, std::ostream* os) { *os << c.name; }

class SleepBeforeAGreeter : public PowerTest, public ::testing::WithParamInterface<GreeterCase> {};

// The child's own session, locked to a greeter at the wake, is still charged once it is back,
// but only for the part of the sleep that lies in the day of the tick that charges it.
TEST_P(SleepBeforeAGreeter, IsChargedOnItsOwnDayOnly) {
    const GreeterCase& c = GetParam();
    Monitor& m = running(1);
    sys.setTime(sunday(20, 0));
    ASSERT_TRUE(sys.firePower(PowerEvent::WillSleep));
    sys.setTime(sunday(20, 30));
    sys.logout();
    ASSERT_TRUE(sys.firePower(PowerEvent::HasPoweredOn));
    tick();
    EXPECT_TRUE(m.wasSleeping);
    sys.setTime(c.backAt);
    sys.login("kid");
    tick();
    // A new day's reset may count that day's first minute itself.
    EXPECT_GE(m.umin, c.charged);
    EXPECT_LE(m.umin, c.charged + 1);
    EXPECT_EQ(storedUsage(), static_cast<int32_t>(m.umin));
    EXPECT_FALSE(m.wasSleeping);
}

INSTANTIATE_TEST_SUITE_P(
    Returns, SleepBeforeAGreeter,
    ::testing::Values(GreeterCase{"theSameEvening", sunday(20, 45), 30},
                      GreeterCase{"onMondayMorning", utc(2026, 12, 7, 8, 0), 0},
                      GreeterCase{"onTuesdayMorning", utc(2026, 12, 8, 8, 0), 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct WatchCase {
    const char* name;
    bool enable;
    std::optional<int64_t> status;  // nullopt: no settings file
    uint32_t statusBefore;
    bool runningAfter;
};

void PrintTo(const WatchCase& c, std::ostream* os) { *os << c.name; }

class WatchSwitch : public MonitorsTest, public ::testing::WithParamInterface<WatchCase> {};

// The signal only asks for a reload; the settings file's "status" decides.
TEST_P(WatchSwitch, LogsItsWordAndFollowsTheSettings) {
    const WatchCase& c = GetParam();
    if (c.status) plantSettings({{"status", Value::integer(*c.status)}});
    Monitor& m = monitorWith({});
    m.status = c.statusBefore;
    m.isRunning = !c.runningAfter;
    if (c.enable) {
        m.watchEnable();
    } else {
        m.watchDisable();
    }
    EXPECT_EQ(m.isRunning, c.runningAfter);
    EXPECT_EQ(monitorLog(),
              (std::vector<std::string>{c.enable ? "enabled" : "disabled", "preferences loaded"}));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, WatchSwitch,
    ::testing::Values(WatchCase{"enableWithStatus1", true, 1, 0, true},
                      WatchCase{"enableWithStatus0StaysOff", true, 0, 1, false},
                      WatchCase{"disableWithStatus0", false, 0, 1, false},
                      WatchCase{"disableWithStatus1StaysOn", false, 1, 0, true},
                      WatchCase{"enableWithoutFileKeepsLastStatus", true, std::nullopt, 0, false},
                      WatchCase{"disableWithoutFileKeepsLastStatus", false, std::nullopt, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hv::test
