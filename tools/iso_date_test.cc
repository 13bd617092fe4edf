#include "tools/iso_date.h"

#include <gtest/gtest.h>

#include "platform/fake/scoped_time_zone.h"

namespace hv {
namespace {

TEST(IsoDateTest, OffsetsAndFractionsAreRead) {
    // The same moment written with different offsets is the same date.
    EXPECT_EQ(parseIsoDate("2026-12-07T08:30:00+01:00"), parseIsoDate("2026-12-07T07:30:00Z"));
    EXPECT_EQ(parseIsoDate("2026-12-07T02:30:00-0500"), parseIsoDate("2026-12-07T07:30:00Z"));
    EXPECT_EQ(*parseIsoDate("2026-12-07T07:30:00Z"), 818321400.0);
    EXPECT_EQ(*parseIsoDate("2001-01-01T00:00:00.25Z"), 0.25);
    EXPECT_EQ(*parseIsoDate("2000-12-31T23:59:59.5Z"), -0.5);
    EXPECT_EQ(*parseIsoDate("1970-01-01T00:00:00Z"), -978307200.0);
}

TEST(IsoDateTest, TheOffsetIsTheZonesAtThatMoment) {
    ScopedTimeZone zone("America/New_York");
    // New York is at -05:00 in December and -04:00 in July.
    EXPECT_EQ(formatIsoDate(*parseIsoDate("2026-12-07T07:30:00Z"), std::nullopt), "2026-12-07T02:30:00-05:00");
    EXPECT_EQ(formatIsoDate(*parseIsoDate("2026-07-07T07:30:00Z"), std::nullopt), "2026-07-07T03:30:00-04:00");
    // A fixed zone name gives its own offset, whatever the local zone.
    EXPECT_EQ(formatIsoDate(-0.5, std::string("GMT")), "2000-12-31T23:59:59.5+00:00");
    EXPECT_EQ(formatIsoDate(0.0, std::string("GMT-0930")), "2000-12-31T14:30:00-09:30");
}

TEST(IsoDateTest, EveryTimeReadsBackExactly) {
    ScopedTimeZone zone("Europe/Berlin");
    for (double t : {0.0, 0.1, -0.1, 1e-9, 818321400.123456, 818321400.999999999, -978307200.000001, 5.9e10}) {
        ASSERT_TRUE(isoDateInRange(t));
        std::string text = formatIsoDate(t, std::nullopt);
        auto back = parseIsoDate(text);
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(*back, t) << text;
    }
    EXPECT_FALSE(isoDateInRange(7e10));
}

TEST(IsoDateTest, MalformedDatesAreRefused) {
    for (const char* text : {"2026-12-07T08:30:00", "2026-13-07T08:30:00Z", "2026-02-29T08:30:00Z",
                             "2026-12-07 08:30:00Z", "2026-12-07T24:00:00Z", "2026-12-07T08:30:00.Z",
                             "2026-12-07T08:30:00+1:00", "2026-12-07T08:30:00Zjunk", ""}) {
        EXPECT_FALSE(parseIsoDate(text)) << text;
    }
    EXPECT_TRUE(parseIsoDate("2024-02-29T08:30:00Z"));
}

}  // namespace
}  // namespace hv
