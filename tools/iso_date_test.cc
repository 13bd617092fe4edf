#include "tools/iso_date.h"

#include <gtest/gtest.h>

#include <cmath>

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
    // Berlin and New York before their standard zones kept local mean time, offsets with seconds.
    for (const char* name : {"Europe/Berlin", "America/New_York", "UTC"}) {
        ScopedTimeZone zone(name);
        for (double t : {0.0, 0.1, -0.1, 1e-9, -1e-9, -1e-20, -5.6e-17, 818321400.123456, 818321400.999999999,
                         -978307200.000001, 5.9e10, -1.6e9, -63082281600.0, 252423907199.5}) {
            ASSERT_TRUE(isoDateInRange(t)) << t;
            std::string text = formatIsoDate(t, std::nullopt);
            auto back = parseIsoDate(text);
            ASSERT_TRUE(back) << text;
            EXPECT_EQ(*back, t) << name << " " << text;
        }
    }
}

TEST(IsoDateTest, ATimeJustBeforeASecondIsNotPrintedASecondEarly) {
    struct Case {
        double time;
        const char* text;
    } cases[] = {
        {-1e-20, "2000-12-31T23:59:59.99999999999999999999+00:00"},
        {-1e-9, "2000-12-31T23:59:59.999999999+00:00"},
        {-0.25, "2000-12-31T23:59:59.75+00:00"},
        // No 20 digits give these exactly: the nearest 20-digit fraction is the next second.
        {-1e-25, "2001-01-01T00:00:00+00:00"},
        {1e-25, "2001-01-01T00:00:00+00:00"},
        {-1.0, "2000-12-31T23:59:59+00:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(formatIsoDate(c.time, std::string("GMT")), c.text) << c.time;
}

TEST(IsoDateTest, TheRangeKeepsFourYearDigitsInEveryZone) {
    const double earliest = *parseIsoDate("0001-01-02T00:00:00Z");
    const double end = *parseIsoDate("9999-12-31T00:00:00Z");
    EXPECT_TRUE(isoDateInRange(earliest));
    EXPECT_FALSE(isoDateInRange(earliest - 0.001));
    EXPECT_TRUE(isoDateInRange(end - 0.5));
    EXPECT_FALSE(isoDateInRange(end));
    EXPECT_FALSE(isoDateInRange(std::nan("")));
    // At both ends the furthest zones still print a four-digit year that reads back.
    for (const char* zone : {"GMT+2359", "GMT-2359"}) {
        for (double t : {earliest, end - 0.5}) {
            const std::string text = formatIsoDate(t, std::string(zone));
            EXPECT_EQ(parseIsoDate(text), t) << text;
        }
    }
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
