#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "daemon/monitors_fixture.h"

namespace hv::test {
namespace {

class TimeRangeTest : public MonitorsTest {
  protected:
    // 08:00-12:00 and 14:00-18:00 on Sunday; the tick has left `rmin` at 99 from the allowance.
    Monitor& workday(const std::vector<std::shared_ptr<TableElement>>& extra = {}) {
        std::vector<std::shared_ptr<TableElement>> records = {rangedLimit(2, 0), rangeRecord(480),
                                                              rangeRecord(720), rangeRecord(840),
                                                              rangeRecord(1080)};
        records.insert(records.end(), extra.begin(), extra.end());
        Monitor& m = monitorWith(records);
        m.warn = "%m left of %w";
        m.ranges = "allowed %sr-%er";
        m.rmin = 99;
        m.timeout = 0.0f;
        return m;
    }

    void expectLoggedOut(const std::string& notice) {
        ASSERT_EQ(sys.notices.size(), 1u);
        EXPECT_EQ(sys.notices[0].level, NoticeLevel::Stop);
        EXPECT_EQ(sys.notices[0].timeout, 1.0);
        EXPECT_EQ(sys.notices[0].header, kNoticeHeader);
        EXPECT_EQ(sys.notices[0].message, notice);
        // Notice first, then the 15-second wait, then the session ends.
        EXPECT_EQ(actionsButLog(),
                  (std::vector<std::string>{"notice " + std::string(kNoticeHeader) + "|" + notice,
                                            "sleep 15", "terminate user " + std::to_string(sys.users.at("kid"))}));
        EXPECT_TRUE(monitor->warning);
    }

    void expectStillIn() {
        for (const Notice& n : sys.notices) EXPECT_NE(n.level, NoticeLevel::Stop);
        EXPECT_TRUE(sys.sleeps.empty());
        EXPECT_TRUE(sys.terminatedUsers.empty());
    }
};

struct DayCase {
    const char* name;
    int hour, minute;
    uint32_t keeplimit;
    bool warnedBefore;
    // Inside a range: the minutes left afterwards and the warning text, "" for none.
    uint32_t rmin;
    std::string warningText;
    // Outside every range: the notice text; "" when inside.
    std::string rangeNotice;
};

void PrintTo(const DayCase& c, std::ostream* os) { *os << c.name; }

class TimeRangeDay : public TimeRangeTest, public ::testing::WithParamInterface<DayCase> {};

TEST_P(TimeRangeDay, FollowsTheRanges) {
    const DayCase& c = GetParam();
    Monitor& m = workday();
    m.keeplimit = c.keeplimit;
    m.warning = c.warnedBefore;
    sys.setTime(sunday(c.hour, c.minute));

    m.checkTimeRange(0);

    EXPECT_EQ(m.rmin, c.rmin);
    if (!c.rangeNotice.empty()) {
        expectLoggedOut(c.rangeNotice);
        EXPECT_EQ(m.starttime, 840);
        EXPECT_EQ(m.endtime, 1080);
        EXPECT_EQ(monitorLog(), std::vector<std::string>{"terminate loginwindow pid 1000"});
        return;
    }
    expectStillIn();
    EXPECT_TRUE(monitorLog().empty());
    if (c.warningText.empty()) {
        EXPECT_TRUE(sys.notices.empty());
        EXPECT_EQ(m.warning, c.warnedBefore);
    } else {
        ASSERT_EQ(sys.notices.size(), 1u);
        EXPECT_EQ(sys.notices[0].level, NoticeLevel::Caution);
        EXPECT_EQ(sys.notices[0].timeout, 0.0);
        EXPECT_EQ(sys.notices[0].message, c.warningText);
        EXPECT_TRUE(m.warning);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Workday, TimeRangeDay,
    ::testing::Values(DayCase{"at1154", 11, 54, 0, false, 6, "", ""},
                      DayCase{"at1155", 11, 55, 0, false, 5, "5 left of 5", ""},
                      DayCase{"at1155AlreadyWarned", 11, 55, 0, true, 5, "", ""},
                      DayCase{"at1200EndMinuteIsInside", 12, 0, 0, true, 0, "", ""},
                      DayCase{"at1201", 12, 1, 0, false, 99, "", "allowed 14:00-18:00"},
                      DayCase{"at0759", 7, 59, 0, false, 99, "", "allowed 14:00-18:00"},
                      DayCase{"at1400", 14, 0, 0, false, 240, "", ""},
                      DayCase{"at1755", 17, 55, 0, false, 5, "5 left of 5", ""},
                      DayCase{"at1800", 18, 0, 0, true, 0, "", ""},
                      DayCase{"at1801", 18, 1, 0, false, 99, "", "allowed 14:00-18:00"},
                      DayCase{"keeplimitAt1154", 11, 54, 1, false, 99, "", ""},
                      DayCase{"keeplimitAt1155", 11, 55, 1, false, 99, "99 left of 5", ""},
                      DayCase{"keeplimitAt1201", 12, 1, 1, false, 99, "", "allowed 14:00-18:00"},
                      DayCase{"keeplimitAt0759", 7, 59, 1, false, 99, "", "allowed 14:00-18:00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TimeRangeTest, WarnsOnlyOnceInARange) {
    Monitor& m = workday();
    for (int minute = 50; minute <= 59; ++minute) {
        sys.setTime(sunday(11, minute));
        m.checkTimeRange(0);
    }
    ASSERT_EQ(sys.notices.size(), 1u);
    EXPECT_EQ(sys.notices[0].message, "5 left of 5");
}

TEST_F(TimeRangeTest, LogsOutAgainOnEveryCallOutside) {
    Monitor& m = workday();
    sys.setTime(sunday(12, 1));
    m.checkTimeRange(0);
    sys.login("kid");
    m.checkTimeRange(0);
    EXPECT_EQ(sys.notices.size(), 2u);
    EXPECT_EQ(sys.sleeps, (std::vector<double>{15, 15}));
    EXPECT_EQ(sys.terminatedUsers.size(), 2u);
}

TEST_F(TimeRangeTest, ReadsTodaysWeekday) {
    // Monday holds 23:59-23:59 in every range record.
    Monitor& m = workday();
    sys.setTime(utc(2026, 12, 7, 12, 0));
    m.checkTimeRange(0);
    expectLoggedOut("allowed 23:59-23:59");
    sys.login("kid");
    sys.events.clear();
    sys.notices.clear();
    sys.sleeps.clear();
    sys.terminatedUsers.clear();
    sys.setTime(utc(2026, 12, 7, 23, 59));
    m.checkTimeRange(0);
    expectStillIn();
    EXPECT_EQ(m.rmin, 0u);
}

struct UnsetCase {
    const char* name;
    uint32_t keeplimit;
    int hour, minute;
    bool loggedOut;
};

void PrintTo(const UnsetCase& c, std::ostream* os) { *os << c.name; }

class TimeRangeUnsetDay : public TimeRangeTest, public ::testing::WithParamInterface<UnsetCase> {};

// Both values 0 on the day: no range at all without keeplimit, the range of minute 0 with it.
TEST_P(TimeRangeUnsetDay, ActsOnKeeplimit) {
    const UnsetCase& c = GetParam();
    Monitor& m = monitorWith(
        {rangedLimit(2, 0), rangeRecord(0), rangeRecord(0), rangeRecord(0), rangeRecord(0)});
    m.ranges = "%sr-%er";
    m.rmin = 42;
    m.warning = true;
    m.keeplimit = c.keeplimit;
    sys.setTime(sunday(c.hour, c.minute));
    m.checkTimeRange(0);
    if (c.loggedOut) {
        expectLoggedOut("00:00-00:00");
    } else {
        expectStillIn();
        EXPECT_TRUE(sys.notices.empty());
    }
    EXPECT_EQ(m.rmin, 42u);
}

INSTANTIATE_TEST_SUITE_P(Unset, TimeRangeUnsetDay,
                         ::testing::Values(UnsetCase{"ignoredAtMidnight", 0, 0, 0, false},
                                           UnsetCase{"ignoredAtNoon", 0, 12, 0, false},
                                           UnsetCase{"keeplimitMidnightInside", 1, 0, 0, false},
                                           UnsetCase{"keeplimitFrom0001Out", 1, 0, 1, true},
                                           UnsetCase{"keeplimitAtNoonOut", 1, 12, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TimeRangeTest, RangeFromMidnightIncludesBothEnds) {
    Monitor& m = monitorWith({rangedLimit(1, 0), rangeRecord(0), rangeRecord(600)});
    m.ranges = "%sr-%er";
    m.warning = true;
    const struct {
        int hour, minute;
        uint32_t rmin;
    } inside[] = {{0, 0, 600}, {10, 0, 0}};
    for (const auto& t : inside) {
        sys.setTime(sunday(t.hour, t.minute));
        m.checkTimeRange(0);
        EXPECT_EQ(m.rmin, t.rmin);
    }
    expectStillIn();
    sys.setTime(sunday(10, 1));
    m.checkTimeRange(0);
    expectLoggedOut("00:00-10:00");
}

TEST_F(TimeRangeTest, NoRangesDoNothing) {
    for (int32_t count : {0, -1, std::numeric_limits<int32_t>::min()}) {
        Monitor& m = monitorWith({rangedLimit(count, 0), rangeRecord(480), rangeRecord(720)});
        m.rmin = 7;
        sys.setTime(sunday(3, 0));
        m.checkTimeRange(0);
        EXPECT_EQ(m.rmin, 7u);
        EXPECT_TRUE(sys.notices.empty());
        EXPECT_TRUE(sys.events.empty());
    }
}

struct MissingCase {
    const char* name;
    int32_t ranges;
    size_t held;  // range records present after the limit record
    uint32_t keeplimit;
    std::string notice;
};

void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.name; }

class TimeRangeMissingRecords : public TimeRangeTest,
                                public ::testing::WithParamInterface<MissingCase> {};

// The list promises more ranges than it holds: the missing records read as all-zero ranges, and
// an absurd count neither crashes nor loops.
TEST_P(TimeRangeMissingRecords, ReadAsZeroRanges) {
    const MissingCase& c = GetParam();
    std::vector<std::shared_ptr<TableElement>> records = {rangedLimit(c.ranges, 0)};
    const int32_t minutes[] = {480, 720, 840};
    for (size_t i = 0; i < c.held; ++i) records.push_back(rangeRecord(minutes[i]));
    Monitor& m = monitorWith(records);
    m.ranges = "%sr-%er";
    m.keeplimit = c.keeplimit;
    sys.setTime(sunday(13, 0));
    m.checkTimeRange(0);
    expectLoggedOut(c.notice);
}

INSTANTIATE_TEST_SUITE_P(
    Short, TimeRangeMissingRecords,
    ::testing::Values(MissingCase{"missingPairIgnored", 2, 2, 0, "08:00-12:00"},
                      MissingCase{"missingPairKeeplimit", 2, 2, 1, "00:00-00:00"},
                      MissingCase{"halfPair", 2, 3, 0, "14:00-00:00"},
                      MissingCase{"hugeCountIgnored", std::numeric_limits<int32_t>::max(), 2, 0,
                                  "08:00-12:00"},
                      MissingCase{"hugeCountKeeplimit", std::numeric_limits<int32_t>::max(), 3, 1,
                                  "00:00-00:00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TimeRangeTest, ARecordOfAnotherKindReadsAsZero) {
    Monitor& m = monitorWith({rangedLimit(1, 0), rangeRecord(480)});
    m.userlist.push_back(Value("not a record"));
    m.ranges = "%sr-%er";
    m.keeplimit = 1;
    sys.setTime(sunday(9, 0));
    m.checkTimeRange(0);
    expectLoggedOut("08:00-00:00");
}

// Through the tick: outside every range the session ends, whatever allowance is left.
TEST_F(TimeRangeTest, TheTickLogsOutOutsideTheRanges) {
    auto limit = limitRecord(600, 0, sunday(9, 0));
    limit->setRanges(1);
    plantPolicy(listOf({limit, rangeRecord(480), rangeRecord(720)}));
    plantRunningSettings({{"rangemsg", "only %sr to %er"}});
    sys.login("kid");
    sys.setTime(sunday(11, 59, 50));
    start();
    tick();  // 11:59:55
    EXPECT_TRUE(sys.sleeps.empty());
    tick();  // 12:00:00, the end minute is still inside
    EXPECT_TRUE(sys.sleeps.empty());
    tickUntil([&] { return !sys.sleeps.empty(); });
    EXPECT_EQ(sys.now(), sunday(12, 1) + 15);
    ASSERT_FALSE(sys.notices.empty());
    EXPECT_EQ(sys.notices.back().message, "only 08:00 to 12:00");
    EXPECT_EQ(sys.terminatedUsers.size(), 1u);
}

}  // namespace
}  // namespace hv::test
