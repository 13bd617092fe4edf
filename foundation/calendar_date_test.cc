#include "foundation/calendar_date.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <time.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "platform/linux/test_mount_namespace.h"

namespace hv {
namespace {

// Sets TZ for one test and restores the previous setting afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (saved_) ::setenv("TZ", saved_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> saved_;
};

struct LocalCase {
    const char* zone;
    double unixTime;
    int dayOfWeek, dayOfMonth, hour, minute, second;
};

class CalendarDateLocalTest : public testing::TestWithParam<LocalCase> {};

TEST_P(CalendarDateLocalTest, FieldsFollowTheLocalZone) {
    const LocalCase& c = GetParam();
    ScopedTimeZone tz(c.zone);
    const CalendarDate d(c.unixTime);
    EXPECT_EQ(d.dayOfWeek(), c.dayOfWeek);
    EXPECT_EQ(d.dayOfMonth(), c.dayOfMonth);
    EXPECT_EQ(d.hourOfDay(), c.hour);
    EXPECT_EQ(d.minuteOfHour(), c.minute);
    EXPECT_EQ(d.secondOfMinute(), c.second);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, CalendarDateLocalTest,
    testing::Values(
        // 2001-01-01 00:00:00 UTC was a Monday.
        LocalCase{"UTC", 978307200.0, 1, 1, 0, 0, 0},
        // The same instant is still Sunday 31 December in New York.
        LocalCase{"America/New_York", 978307200.0, 0, 31, 19, 0, 0},
        // 2026-03-29 01:30 UTC is 03:30 summer time in Berlin (the clocks went forward).
        LocalCase{"Europe/Berlin", 1774747800.0, 0, 29, 3, 30, 0},
        // Half a second before midnight stays in the old day.
        LocalCase{"UTC", 978307199.5, 0, 31, 23, 59, 59},
        // Before 1970.
        LocalCase{"UTC", -86400.0 * 365, 3, 1, 0, 0, 0}));

TEST(CalendarDateTest, ReferenceDateAndIntervals) {
    ScopedTimeZone tz("UTC");
    const CalendarDate ref = CalendarDate::fromReferenceTime(0);
    EXPECT_EQ(ref.unixTime(), kReferenceDateOffset);
    EXPECT_EQ(ref.dayOfWeek(), 1);
    const CalendarDate later = CalendarDate::fromReferenceTime(700000000.5);
    EXPECT_DOUBLE_EQ(later.timeIntervalSinceReferenceDate(), 700000000.5);
    EXPECT_DOUBLE_EQ(later.timeIntervalSinceDate(ref), 700000000.5);
    EXPECT_DOUBLE_EQ(ref.timeIntervalSinceDate(later), -700000000.5);
    const CalendarDate fromValue = CalendarDate::fromValue(Date{86400.0 * 3 + 3600, true, "GMT", std::nullopt});
    EXPECT_EQ(fromValue.dayOfMonth(), 4);
    EXPECT_EQ(fromValue.hourOfDay(), 1);
}

TEST(CalendarDateTest, ToValueNamesTheLocalZone) {
    ScopedTimeZone tz("Europe/Berlin");
    const Date d = CalendarDate(1000000000.25).toValue();
    EXPECT_TRUE(d.calendar);
    EXPECT_DOUBLE_EQ(d.time, 1000000000.25 - kReferenceDateOffset);
    EXPECT_EQ(d.timeZone, "Europe/Berlin");
    EXPECT_EQ(d.format, std::string(kDefaultCalendarFormat));
}

TEST(CalendarDateTest, ZoneNameFromAPathStyleTz) {
    ScopedTimeZone tz(":/usr/share/zoneinfo/Asia/Tokyo");
    const CalendarDate d(0.0);
    EXPECT_EQ(d.hourOfDay(), 9);
    EXPECT_EQ(d.toValue().timeZone, "Asia/Tokyo");
}

// Without TZ the zone's name comes from the first line of /etc/timezone; an empty line falls back to
// /etc/localtime's target, and without one to the abbreviation the C library uses.
TEST(CalendarDateTest, ZoneNameFromEtcTimezone) {
    const struct {
        const char* content;
        const char* zone;
    } cases[] = {
        {"America/Chicago\n", "America/Chicago"},
        {"Asia/Tokyo", "Asia/Tokyo"},
        {"\nEurope/Berlin\n", "UTC"},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> zone = outputInMountNamespace([&]() -> std::optional<std::string> {
            if (mount("none", "/etc", "tmpfs", 0, nullptr) != 0) return std::nullopt;
            std::ofstream("/etc/timezone") << c.content;
            ::unsetenv("TZ");
            ::tzset();
            return CalendarDate(0.0).toValue().timeZone;
        });
        if (!zone) GTEST_SKIP() << "needs root and mount namespaces";
        EXPECT_EQ(*zone, c.zone) << c.content;
    }
}

TEST(CalendarDateTest, NonFiniteTimesDoNotMisbehave) {
    ScopedTimeZone tz("UTC");
    const CalendarDate nan(NAN);
    EXPECT_EQ(nan.dayOfMonth(), 1);
    EXPECT_EQ(nan.hourOfDay(), 0);
    const CalendarDate huge(INFINITY);
    EXPECT_GE(huge.dayOfWeek(), 0);
    EXPECT_LE(huge.dayOfWeek(), 6);
}

}  // namespace
}  // namespace hv
