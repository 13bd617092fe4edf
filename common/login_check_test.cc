#include "common/login_check.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "common/table_element.h"
#include "foundation/calendar_date.h"
#include "foundation/civil_date.h"
#include "platform/fake/scoped_time_zone.h"

namespace hv {
namespace {

constexpr int kWednesday = 3;
constexpr double kDay = 86400.0;

// Wednesday 2026-12-09 at hh:mm, UTC (the tests run with TZ=UTC unless they say otherwise).
double wednesday(int hour, int minute) {
    return static_cast<double>(daysFromCivil(2026, 12, 9)) * kDay + hour * 3600.0 + minute * 60.0;
}

// A record whose weekday values are all `minute`.
std::shared_ptr<TableElement> rangeRecord(int minute) {
    auto record = std::make_shared<TableElement>();
    record->setMmode("Range");
    for (auto setDay :
         {&TableElement::setSunday, &TableElement::setMonday, &TableElement::setTuesday,
          &TableElement::setWednesday, &TableElement::setThursday, &TableElement::setFriday,
          &TableElement::setSaturday}) {
        ((*record).*setDay)(Value::integer(minute, 'i'));
    }
    return record;
}

// A policy list as the daemon saves it: the limit record with the same allowance every day, its
// usage stamped at `stamp` (none: no date), then one pair of range records per (start, end).
Array policy(int allowance, int used, std::optional<double> stamp,
             const std::vector<std::pair<int, int>>& ranges = {}) {
    auto limit = rangeRecord(allowance);
    limit->setMmode("Limit");
    limit->setUser("kid");
    limit->setUsage(Value::integer(used, 'i'));
    if (stamp) limit->setDate(CalendarDate(*stamp).toValue());
    limit->setRanges(static_cast<int32_t>(ranges.size()));
    Array list{Value(std::static_pointer_cast<Object>(limit))};
    for (const auto& [start, end] : ranges) {
        list.push_back(Value(std::static_pointer_cast<Object>(rangeRecord(start))));
        list.push_back(Value(std::static_pointer_cast<Object>(rangeRecord(end))));
    }
    return list;
}

// 08:00-12:00 and 14:00-18:00.
const std::vector<std::pair<int, int>> kWorkday = {{480, 720}, {840, 1080}};

struct LoginCase {
    const char* name;
    Array list;
    LoginSettings settings;
    double now;
    LoginLimit limit;
    std::string message;  // what the login screen shows; "" when allowed
};

void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.name; }

class LoginCheck : public ::testing::TestWithParam<LoginCase> {
  protected:
    ScopedTimeZone utc{"UTC"};
};

TEST_P(LoginCheck, RefusesWhereTheDaemonWouldEndTheSession) {
    const LoginCase& c = GetParam();
    const LoginVerdict verdict = checkLogin(c.list, c.settings, c.now);
    EXPECT_EQ(verdict.refusedBy, c.limit);
    EXPECT_EQ(refusalMessage("kid", verdict), c.message);
}

const LoginSettings kOn{1, 0};
const LoginSettings kKeepLimit{1, 1};
const double kTen = wednesday(10, 0);
const double kJustBefore = kTen - 60;

INSTANTIATE_TEST_SUITE_P(
    Cases, LoginCheck,
    ::testing::Values(
        LoginCase{"time left", policy(60, 59, kJustBefore), kOn, kTen, LoginLimit::None, ""},
        LoginCase{"time used up", policy(60, 60, kJustBefore), kOn, kTen, LoginLimit::Allowance,
                  "Time is up for today: kid can log in again tomorrow."},
        LoginCase{"used up yesterday", policy(60, 60, kTen - kDay), kOn, kTen, LoginLimit::None,
                  ""},
        LoginCase{"used up on this day number a month ago", policy(60, 60, kTen - 30 * kDay), kOn,
                  kTen, LoginLimit::None, ""},
        LoginCase{"usage without a date", policy(60, 60, std::nullopt), kOn, kTen, LoginLimit::None,
                  ""},
        LoginCase{"stamp a little ahead (clock set back)", policy(60, 60, kTen + 600), kOn, kTen,
                  LoginLimit::Allowance, "Time is up for today: kid can log in again tomorrow."},
        LoginCase{"no allowance today", policy(0, 500, kJustBefore), kOn, kTen, LoginLimit::None,
                  ""},
        LoginCase{"monitoring off", policy(60, 60, kJustBefore), LoginSettings{0, 1}, kTen,
                  LoginLimit::None, ""},
        LoginCase{"empty list", Array{}, kOn, kTen, LoginLimit::None, ""},

        LoginCase{"inside a range", policy(0, 0, kJustBefore, kWorkday), kOn, kTen,
                  LoginLimit::None, ""},
        LoginCase{"on a range's last minute", policy(0, 0, kJustBefore, kWorkday), kOn,
                  wednesday(12, 0), LoginLimit::None, ""},
        LoginCase{"between ranges", policy(0, 0, kJustBefore, kWorkday), kOn, wednesday(12, 1),
                  LoginLimit::TimeRange,
                  "kid may use the computer from 14:00 to 18:00: log in again at 14:00."},
        LoginCase{"before the first range", policy(0, 0, kJustBefore, kWorkday), kOn,
                  wednesday(7, 59), LoginLimit::TimeRange,
                  "kid may use the computer from 08:00 to 12:00: log in again at 08:00."},
        LoginCase{"after the last range", policy(0, 0, kJustBefore, kWorkday), kOn,
                  wednesday(18, 1), LoginLimit::TimeRange,
                  "kid may not use the computer again today: log in again tomorrow at 08:00."},
        LoginCase{"evening half of a range over midnight",
                  policy(0, 0, kJustBefore, {{1200, 1439}, {0, 420}}), kOn, wednesday(23, 59),
                  LoginLimit::None, ""},
        LoginCase{"morning half of a range over midnight",
                  policy(0, 0, kJustBefore, {{1200, 1439}, {0, 420}}), kOn, wednesday(0, 0),
                  LoginLimit::None, ""},
        LoginCase{"after a range over midnight",
                  policy(0, 0, kJustBefore, {{1200, 1439}, {0, 420}}), kOn, wednesday(7, 1),
                  LoginLimit::TimeRange,
                  "kid may use the computer from 20:00 to 23:59: log in again at 20:00."},
        LoginCase{"one range written across midnight holds no minute",
                  policy(0, 0, kJustBefore, {{1320, 360}}), kOn, wednesday(23, 0),
                  LoginLimit::TimeRange,
                  "kid may not use the computer now, nor in the coming week."},

        LoginCase{"ranges take the allowance's place", policy(60, 60, kJustBefore, kWorkday), kOn,
                  kTen, LoginLimit::None, ""},
        LoginCase{"keeplimit keeps the allowance beside ranges",
                  policy(60, 60, kJustBefore, kWorkday), kKeepLimit, kTen, LoginLimit::Allowance,
                  "Time is up for today: kid can log in again tomorrow at 08:00."},
        LoginCase{"unset range without keeplimit: no range today",
                  policy(0, 0, kJustBefore, {{0, 0}}), kOn, wednesday(15, 0), LoginLimit::None, ""},
        LoginCase{"unset range with keeplimit holds minute 0", policy(0, 0, kJustBefore, {{0, 0}}),
                  kKeepLimit, wednesday(0, 0), LoginLimit::None, ""},
        LoginCase{"unset range with keeplimit: out from 00:01", policy(0, 0, kJustBefore, {{0, 0}}),
                  kKeepLimit, wednesday(0, 1), LoginLimit::TimeRange,
                  "kid may not use the computer now, nor in the coming week."}),
    [](const ::testing::TestParamInfo<LoginCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(LoginCheckDates, UsageCountsOnlyOnTodaysLocalDate) {
    // 00:10 in Berlin is 23:10 UTC of the day before: a stamp at 23:50 local yesterday is
    // yesterday's, one at 00:05 local today is today's.
    ScopedTimeZone berlin("Europe/Berlin");
    const double now = wednesday(0, 10) - 3600;
    EXPECT_TRUE(checkLogin(policy(60, 60, now - 20 * 60), kOn, now).allowed());
    EXPECT_EQ(checkLogin(policy(60, 60, now - 5 * 60), kOn, now).refusedBy, LoginLimit::Allowance);
}

TEST(LoginCheckDates, TodaysGrantMovesTheAllowanceAndOtherDaysGrantsDoNothing) {
    ScopedTimeZone berlin("Europe/Berlin");
    const double now = wednesday(0, 10) - 3600;  // 00:10 local, 23:10 UTC the day before
    const int today = localDay(now);
    const Array used60 = policy(60, 60, now - 5 * 60);
    EXPECT_TRUE(checkLogin(used60, kOn, now, Grant{today, 15}).allowed());
    EXPECT_EQ(checkLogin(used60, kOn, now, Grant{localDay(now - 3600), 15}).refusedBy, LoginLimit::Allowance);
    const Array used30 = policy(60, 30, now - 5 * 60);
    EXPECT_TRUE(checkLogin(used30, kOn, now, Grant{today, -29}).allowed());
    EXPECT_EQ(checkLogin(used30, kOn, now, Grant{today, -30}).refusedBy, LoginLimit::Allowance);
    // All of it taken away: nothing used yet still has no time left, rather than no limit.
    EXPECT_EQ(checkLogin(policy(60, 0, now - 5 * 60), kOn, now, Grant{today, -60}).refusedBy, LoginLimit::Allowance);
    EXPECT_EQ(grantedAllowance(0, 30), 0u);  // no limit stays no limit
    EXPECT_EQ(parseGrant(formatGrant(Grant{20261207, -15})), (Grant{20261207, -15}));
    for (const char* bad : {"", "20261207 5", "20261207 5\n\n", "20261207\n", "2026127 5\n", "20261207 +5\n",
                            "20261207  5\n", "20261207 x\n"}) {
        EXPECT_FALSE(parseGrant(bad)) << bad;
    }
}

TEST(LoginCheckDates, TakesTodaysWeekdayAndFindsTheNextOpenDay) {
    ScopedTimeZone utc("UTC");
    ASSERT_EQ(CalendarDate(kTen).dayOfWeek(), kWednesday);
    // 60 minutes used of an allowance of 60 on every day but Wednesday, which has none: today's
    // weekday alone decides, so the allowance does not refuse.
    Array list = policy(60, 60, kJustBefore, {{0, 0}});
    recordAt(list, 0)->setWednesday(Value::integer(0, 'i'));
    // A range on Saturday only (09:00-21:30), 00:00-00:00 on every other day: with keeplimit those
    // other days are closed, so the next login is Saturday's.
    recordAt(list, 1)->setSaturday(Value::integer(540, 'i'));
    recordAt(list, 2)->setSaturday(Value::integer(1290, 'i'));

    const LoginVerdict verdict = checkLogin(list, kKeepLimit, kTen);
    ASSERT_EQ(verdict.refusedBy, LoginLimit::TimeRange);
    ASSERT_TRUE(verdict.next);
    EXPECT_EQ(verdict.next->daysAhead, 3);
    EXPECT_EQ(verdict.next->weekday, 6);
    EXPECT_EQ(refusalMessage("kid", verdict),
              "kid may not use the computer again today: log in again on Saturday at 09:00.");
}

TEST(LoginCheckDates, OnlyAFirstLimitRecordCounts) {
    ScopedTimeZone utc("UTC");
    Array list = policy(60, 60, kJustBefore);
    recordAt(list, 0)->setMmode("App");
    EXPECT_TRUE(checkLogin(list, kOn, kTen).allowed());
}

}  // namespace
}  // namespace hv
