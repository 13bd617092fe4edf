// A policy made by `policy set` is read by the daemon's own loader and range checks as meant.

#include <gtest/gtest.h>
#include <time.h>

#include "daemon/monitor.h"
#include "common/range_records.h"
#include "foundation/keyed_archive.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/scoped_time_zone.h"
#include "tools/policy.h"

namespace hv {
namespace {

double utc(int year, int month, int day, int hour, int minute) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    return static_cast<double>(timegm(&t));
}

TEST(PolicyDaemonTest, TheDaemonLoadsTheListAndFindsEveryRange) {
    registerTableElement();
    ScopedTimeZone zone("UTC");
    PolicyParse parsed = parsePolicyText(R"({
        "allowance": {"all": 60},
        "ranges": [{"day": "mon", "start": "08:00", "end": "12:00"}, {"day": "mon", "start": "14:00", "end": "18:00"},
                   {"day": "tue", "start": "09:00", "end": "10:00"}],
        "network": [{"day": "mon", "start": "16:00", "end": "17:30"}],
        "apps": [{"name": "firefox", "minutes": 20}]})");
    ASSERT_FALSE(parsed.error) << *parsed.error;

    FakeSystem sys;
    Config config;
    config.homeRoot = "/home";
    const Array records = policyToRecords(parsed.policy, "kid", config.policyPath("kid"), {});
    auto bytes = keyedArchive(Value(records));
    ASSERT_TRUE(bytes);
    sys.files[config.policyPath("kid")] = FakeFile{*bytes, S_IFREG | 0644, 0};
    sys.login("kid");
    // 2026-12-07 is a Monday.
    sys.setTime(utc(2026, 12, 7, 11, 0));

    Monitor monitor(sys, config);
    monitor.loadUserData();
    ASSERT_EQ(monitor.userlist.size(), records.size());
    EXPECT_TRUE(monitor.policyTrusted);
    auto limit = recordAt(monitor.userlist, 0);
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->user(), Value("kid"));

    RangeList monday(monitor.userlist, 1, limit->ranges(), 1);
    ASSERT_EQ(monday.size(), 2);
    EXPECT_EQ(monday[0].start, 480u);
    EXPECT_EQ(monday[0].end, 720u);
    EXPECT_EQ(monday[1].start, 840u);
    EXPECT_EQ(monday[1].end, 1080u);
    RangeList tuesday(monitor.userlist, 1, limit->ranges(), 2);
    EXPECT_EQ(tuesday[0].start, 540u);
    EXPECT_TRUE(tuesday[1].unset());
    RangeList network(monitor.userlist, 1 + 2 * limit->ranges(), limit->netranges(), 1);
    ASSERT_EQ(network.size(), 1);
    EXPECT_EQ(network[0].start, 960u);
    EXPECT_EQ(network[0].end, 1050u);

    // At 11:00 on Monday the first range holds: an hour to its end, and no logout.
    monitor.checkTimeRange(0);
    EXPECT_EQ(monitor.rmin, 60u);
    EXPECT_TRUE(sys.terminatedUsers.empty());
}

}  // namespace
}  // namespace hv
