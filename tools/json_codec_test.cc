#include "tools/json_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "foundation/typedstream.h"
#include "platform/fake/scoped_time_zone.h"

namespace hv {
namespace {

class JsonCodecTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerTableElement(); }
};

Value roundTrip(const Value& v) {
    ToJsonResult json = toJson(v);
    EXPECT_FALSE(json.error) << json.error->message;
    FromJsonResult back = parseJsonValue(json.json.dump());
    EXPECT_FALSE(back.error) << back.error->message;
    return back.value;
}

TEST_F(JsonCodecTest, EveryKindHasItsDocumentedForm) {
    ScopedTimeZone zone("Europe/Berlin");
    struct Case {
        Value value;
        const char* json;
    } cases[] = {
        {Value("héllo"), R"("héllo")"},
        {Value::integer(-42), "-42"},
        {Value(Integer{-1, 'Q', true}), "18446744073709551615"},
        {Value::real(1.0), "1.0"},
        {Value::real(-0.25), "-0.25"},
        {Value::real(1e300), "1e+300"},
        {Value::real(std::numeric_limits<double>::infinity()), R"({"$real":"inf"})"},
        {Value::boolean(true), "true"},
        {Value(), "null"},
        {Value(Null{}), R"({"$null":true})"},
        {Value(Data{0, 1, 0xfe, 0xff}), R"({"$data":"AAH+/w=="})"},
        // 2026-12-07T08:30:00+01:00 is 07:30 UTC.
        {Value(Date{818321400.0}), R"({"$date":"2026-12-07T08:30:00+01:00"})"},
        {Value(Date{818321400.125, true, std::string("GMT+0530"), std::nullopt}),
         R"({"$date":"2026-12-07T13:00:00.125+05:30","$timeZone":"GMT+0530"})"},
        {Value(Array{Value::integer(1), Value("a")}), R"([1,"a"])"},
        {Value(Dictionary{{Value("b"), Value::integer(2)}, {Value("$top"), Value()}}), R"({"b":2,"$$top":null})"},
    };
    for (const Case& c : cases) {
        ToJsonResult json = toJson(c.value);
        ASSERT_FALSE(json.error) << c.json << ": " << json.error->message;
        EXPECT_EQ(json.json.dump(), c.json);
        EXPECT_EQ(roundTrip(c.value), c.value) << c.json;
    }
}

TEST_F(JsonCodecTest, RecordFieldsTakeOnlyWhatTheySay) {
    FromJsonResult r = parseJsonValue(R"({"$class": "TableElement", "range": 7.0, "nrange": -3, "manset": true})");
    ASSERT_FALSE(r.error) << r.error->message;
    auto e = recordAt(Array{r.value}, 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ranges(), 7);
    EXPECT_EQ(e->netranges(), -3);
    EXPECT_EQ(e->manset(), 1);
    // null is an absent value: a count of 0, manset false.
    r = parseJsonValue(R"({"$class": "TableElement", "range": null, "nrange": null, "manset": null})");
    ASSERT_FALSE(r.error) << r.error->message;
    e = recordAt(Array{r.value}, 0);
    EXPECT_EQ(e->ranges(), 0);
    EXPECT_EQ(e->manset(), 0);
    // The edges of what the strict reader takes.
    for (const char* text : {"[1e308, -1.7976931348623157e308, 4.9e-324, 0e-400, 0.0e999, -0.0]",
                             "[9223372036854775807, -9223372036854775808, 18446744073709551615]",
                             R"({"a": 1, "b": {"a": 2}, "c": [{"a": 3}, {"a": 4}]})"}) {
        EXPECT_FALSE(parseJsonValue(text).error) << text;
    }
}

TEST_F(JsonCodecTest, NumbersKeepTheirKindThroughJson) {
    Value back = roundTrip(Value(Array{Value::real(2.0), Value::integer(2), Value::boolean(false)}));
    const Array& a = *back.array();
    ASSERT_EQ(a.size(), 3u);
    ASSERT_TRUE(a[0].realValue());
    EXPECT_EQ(a[0].realValue()->value, 2.0);
    ASSERT_TRUE(a[1].integerValue());
    EXPECT_TRUE(a[2].booleanValue());
    EXPECT_TRUE(std::isnan(roundTrip(Value::real(std::nan(""))).realValue()->value));
}

TEST_F(JsonCodecTest, DatesKeepFractionsOffsetsAndCalendarDetails) {
    ScopedTimeZone zone("America/New_York");
    for (double t : {0.0, 0.5, 818321400.123456, -1234567.75, 1e-3, 700000000.5}) {
        Date d{t, true, std::string("Europe/Berlin"), std::string("%Y-%m-%d")};
        Value back = roundTrip(Value(d));
        ASSERT_TRUE(back.date());
        EXPECT_EQ(back.date()->time, t);
        EXPECT_TRUE(back.date()->calendar);
        EXPECT_EQ(back.date()->timeZone, d.timeZone);
        EXPECT_EQ(back.date()->format, d.format);
    }
}

TEST_F(JsonCodecTest, TableElementPrintsAllEighteenFields) {
    auto e = std::make_shared<TableElement>();
    e->setUser(Value("kid"));
    e->setHomePath(Value("/home/kid/.horavel"));
    e->setRanges(2);
    e->setMonday(Value::integer(60));
    e->setManset(1);
    e->setDate(Value(Date{818321400.0, true, std::string("GMT"), std::nullopt}));
    ToJsonResult json = toJson(Value(std::shared_ptr<Object>(e)));
    ASSERT_FALSE(json.error);
    const char* keys[] = {"$class", "user",  "path",  "mode",  "range", "d_mon", "d_tue",
                          "d_wed",  "d_thu", "d_fri", "d_sat", "d_sun", "usage", "disk",
                          "quota",  "script", "nrange", "manset", "date"};
    ASSERT_EQ(json.json.size(), std::size(keys));
    for (const char* key : keys) EXPECT_TRUE(json.json.contains(key)) << key;
    EXPECT_EQ(json.json["$class"], "TableElement");
    EXPECT_EQ(json.json["range"], 2);
    EXPECT_EQ(json.json["d_mon"], 60);
    EXPECT_EQ(json.json["manset"], true);
    EXPECT_TRUE(json.json["quota"].is_null());
    EXPECT_TRUE(json.json["script"].is_null());
    EXPECT_EQ(json.json["date"]["$date"], "2026-12-07T07:30:00+00:00");

    FromJsonResult back = fromJson(json.json);
    ASSERT_FALSE(back.error) << back.error->message;
    auto r = recordAt(Array{back.value}, 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->user(), Value("kid"));
    EXPECT_EQ(r->path(), Value("/home/kid/.horavel"));
    EXPECT_EQ(r->mmode(), Value("Limit"));
    EXPECT_EQ(r->ranges(), 2);
    EXPECT_EQ(r->monday(), Value::integer(60));
    EXPECT_EQ(r->manset(), 1);
    EXPECT_TRUE(r->quota().isNil());
    EXPECT_EQ(r->date(), e->date());
}

TEST_F(JsonCodecTest, ArchivesSurviveAJsonRoundTrip) {
    auto e = std::make_shared<TableElement>();
    e->setUser(Value("kid"));
    e->setScript(Value("rm -rf /tmp/x"));
    e->setQuota(Value::integer(524288000));
    Value list(Array{Value(std::shared_ptr<Object>(e))});
    auto keyed = keyedArchive(list);
    ASSERT_TRUE(keyed);
    DecodeResult decoded = keyedUnarchive(*keyed);
    ASSERT_TRUE(decoded.ok()) << decoded.error->message;
    Value back = roundTrip(decoded.value);
    auto again = keyedArchive(back);
    ASSERT_TRUE(again);
    DecodeResult redecoded = keyedUnarchive(*again);
    ASSERT_TRUE(redecoded.ok());
    EXPECT_EQ(toJson(redecoded.value).json, toJson(decoded.value).json);
}

TEST_F(JsonCodecTest, BadJsonSaysWhatAndWhere) {
    struct Case {
        const char* text;
        const char* where;
    } cases[] = {
        {R"([1, 2,, 3])", "byte offset 6"},
        {R"({"a": tru})", "byte offset 9"},
        {R"([{"$date": "yesterday"}])", "at /0"},
        {R"({"x": {"$class": "NSWindow"}})", "at /x"},
        {R"({"$class": "TableElement", "range": 1.5e10})", "fits in 32 bits at /"},
        {R"({"$class": "TableElement", "colour": 1})", "unexpected key \"colour\""},
        {R"({"$class": "TableElement", "user": 5})", "\"user\" must be a string"},
        {R"({"a": {"$top": 1}})", "unknown tag \"$top\""},
        {R"({"$data": "not base64!"})", "base64"},
        {R"({"$date": "2026-12-07T08:30:00Z", "extra": 1})", "unexpected key \"extra\""},
        // Numbers the JSON library would abort on or bend, and repeated keys it would drop.
        {"[1e400]", "number 1e400 is too large for a real at /0"},
        {R"({"a": [-1E+999]})", "number -1E+999 is too large for a real at /a/0"},
        {"1e-400", "number 1e-400 is too small for a real (it would read as 0) at /"},
        {R"({"x": [2, 0.5e-330]})", "too small for a real (it would read as 0) at /x/1"},
        {"[18446744073709551616]", "integer 18446744073709551616 does not fit in 64 bits at /0"},
        {R"({"a/b": -9223372036854775809})", "integer -9223372036854775809 does not fit in 64 bits at /a~1b"},
        {R"({"a": 1, "a": 2})", "duplicate key \"a\" at /"},
        {R"({"a\nb": {"c\r": 1, "c\r": 2}})", "duplicate key \"c<U+000D>\" at /a<U+000A>b"},
        {R"([{"k": {"z": 1, "y": 2, "z": 3}}])", "duplicate key \"z\" at /0/k"},
        {R"({"$class": "TableElement", "range": 1, "range": 2})", "duplicate key \"range\""},
        // Record fields the administrator writes are what they say, not what intValue makes of them.
        {R"({"$class": "TableElement", "range": "abc"})", "\"range\" must be a whole number that fits in 32 bits at /"},
        {R"({"$class": "TableElement", "range": "7"})", "\"range\" must be a whole number that fits in 32 bits"},
        {R"({"$class": "TableElement", "range": true})", "\"range\" must be a whole number that fits in 32 bits"},
        {R"({"$class": "TableElement", "range": 2147483648})", "\"range\" must be a whole number that fits in 32 bits"},
        {R"([{"$class": "TableElement", "nrange": "x"}])", "\"nrange\" must be a whole number that fits in 32 bits at /0"},
        {R"({"$class": "TableElement", "nrange": 2.5})", "\"nrange\" must be a whole number that fits in 32 bits"},
        {R"({"$class": "TableElement", "manset": 0.5})", "\"manset\" must be a boolean"},
        {R"({"$class": "TableElement", "manset": 2})", "\"manset\" must be a boolean"},
        {R"({"$class": "TableElement", "manset": "yes"})", "\"manset\" must be a boolean"},
        // Dates that some zone could not print with a four-digit year.
        {R"({"$date": "0000-06-01T00:00:00Z"})", "\"$date\" is out of range: a date must lie from 0001-01-02"},
        {R"({"$date": "0001-01-01T23:59:59Z"})", "\"$date\" is out of range"},
        {R"([{"$date": "9999-12-31T00:00:00+00:00"}])", "\"$date\" is out of range: a date must lie from 0001-01-02 to 9999-12-30 (UTC), so that every time zone writes its year in four digits at /0"},
    };
    for (const Case& c : cases) {
        FromJsonResult r = parseJsonValue(c.text);
        ASSERT_TRUE(r.error) << c.text;
        EXPECT_NE(r.error->message.find(c.where), std::string::npos) << c.text << " -> " << r.error->message;
    }
}

TEST_F(JsonCodecTest, ValuesWithoutAJsonFormAreErrors) {
    Value numericKey(Dictionary{{Value::integer(1), Value("one")}});
    ToJsonResult r = toJson(Value(Array{numericKey}));
    ASSERT_TRUE(r.error);
    EXPECT_NE(r.error->message.find("key is not a string at /0"), std::string::npos) << r.error->message;

    EXPECT_TRUE(toJson(Value(std::string("\xff\xfe"))).error);
    EXPECT_TRUE(toJson(Value(Dictionary{{Value("a"), Value()}, {Value("a"), Value()}})).error);
    EXPECT_TRUE(toJson(Value(Date{std::nan("")})).error);
    EXPECT_TRUE(toJson(Value(Date{1e18})).error);
}

TEST_F(JsonCodecTest, NestingAndExpansionAreBounded) {
    std::string deep(65, '[');
    deep += std::string(65, ']');
    FromJsonResult tooDeep = parseJsonValue(deep);
    ASSERT_TRUE(tooDeep.error);
    EXPECT_NE(tooDeep.error->message.find("deeper than 64"), std::string::npos);
    EXPECT_FALSE(parseJsonValue(std::string(60, '[') + std::string(60, ']')).error);

    // Twenty levels of an array holding the level below twice: a million leaves from 20 arrays.
    auto level = std::make_shared<const Array>(Array{Value::integer(1)});
    for (int i = 0; i < 20; ++i) level = std::make_shared<const Array>(Array{Value(level), Value(level)});
    ToJsonResult huge = toJson(Value(level));
    ASSERT_TRUE(huge.error);
    EXPECT_NE(huge.error->message.find("100000"), std::string::npos);

    EXPECT_TRUE(parseJsonValue(std::string((1 << 20) + 1, ' ')).error);
}

}  // namespace
}  // namespace hv
