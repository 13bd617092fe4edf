#include "foundation/typedstream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "foundation/coder.h"
#include "foundation/typedstream_format.h"

namespace hv {
namespace {

// Bytes from a readable form: hex pairs, and "quoted" text taken literally.
std::string bytes(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ' ' || c == '\n') {
            ++i;
        } else if (c == '"') {
            const size_t end = text.find('"', i + 1);
            out.append(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            out.push_back(
                static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
            i += 2;
        }
    }
    return out;
}

std::string hex(std::string_view s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02x ", c);
        out += buf;
    }
    return out;
}

const std::string kHeader = bytes("04 0b 73 74 72 65 61 6d 74 79 70 65 64 81 e8 03");

Value decodeOk(const std::string& stream) {
    DecodeResult r = typedstreamUnarchive(stream);
    EXPECT_TRUE(r.ok()) << (r.error ? r.error->message + " at " + std::to_string(r.error->offset)
                                    : "");
    return r.value;
}

// A registered class that keeps whatever values it is given, so the archive's positional form can
// be checked without the policy record itself. Registered as "TableElement" only in this program.
class Recorded : public Object {
  public:
    std::string_view className() const override { return "TableElement"; }
    std::vector<Value> values;
};

void registerRecorded() {
    ClassCoding coding;
    coding.classChain = {"TableElement", "NSObject"};
    coding.encode = [](const Object& o, Coder& c) {
        for (const Value& v : static_cast<const Recorded&>(o).values) c.encodeObject(v);
    };
    coding.decode = [](Decoder& d) -> std::shared_ptr<Object> {
        auto r = std::make_shared<Recorded>();
        for (int i = 0; i < 4; ++i) r->values.push_back(d.decodeObject());
        // The fifth value of the record tells it to refuse itself, standing for a class that
        // finds its values unusable.
        if (r->values.size() > 0 && r->values[0] == Value("refuse")) return nullptr;
        return r;
    };
    ClassRegistry::add(coding);
}

std::shared_ptr<Object> recorded(std::vector<Value> values) {
    auto r = std::make_shared<Recorded>();
    r->values = std::move(values);
    return r;
}

class TypedstreamTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { registerRecorded(); }
};

struct Golden {
    const char* name;
    std::string stream;
    Value expected;
    char encoding;    // for a number: the type it must remember; 0 otherwise
    bool fromWriter;  // our writer must reproduce the stream byte for byte
};

const std::string kNumberClasses = R"(84 01 40 84 84 84 08 "NSNumber" 00 84 84 07 "NSValue" 00
                                      84 84 08 "NSObject" 00 85 84 01 2a 84 84 01)";
const std::string kDateClasses = R"(84 01 40 84 84 84 06 "NSDate" 00 84 84 08 "NSObject" 00 85)";
const std::string kArrayClasses = R"(84 01 40 84 84 84 07 "NSArray" 00 84 84 08 "NSObject" 00 85)";

std::vector<Golden> macosStreams() {
    return {
        {"NSString", kHeader + bytes(R"(84 01 40 84 84 84 08 "NSString" 01 84 84 08 "NSObject" 00 85
                                        84 01 2b 0c "Hello, world" 86)"),
         Value("Hello, world"), 0, true},
        {"NSDictionary",
         kHeader + bytes(R"(84 01 40 84 84 84 0c "NSDictionary" 00 84 84 08 "NSObject" 00 85
            84 01 69 02
            92 84 84 84 08 "NSString" 01 94 84 01 2b 02 "k2" 86
            92 84 96 97 01 "v" 86
            92 84 96 97 02 "k1" 86
            92 84 84 84 08 "NSNumber" 00 84 84 07 "NSValue" 00 94 84 01 2a 84 84 01 71 9b 01 86
            86)"),
         Value(Dictionary{{"k2", "v"}, {"k1", Value::integer(1, 'q')}}), 0, true},
        {"NSArray",
         kHeader + bytes(R"(84 01 40 84 84 84 07 4e 53 41 72 72 61 79 00 84 84 08 4e 53 4f 62
            6a 65 63 74 00 85 84 01 69 03 92 84 84 84 08 4e 53 53 74 72 69 6e 67 01 94 84 01 2b 01 61 86
            92 84 84 84 08 4e 53 4e 75 6d 62 65 72 00 84 84 07 4e 53 56 61 6c 75 65 00 94 84 01 2a 84 84
            01 71 9b 01 86 92 84 96 97 01 62 86 86)"),
         Value(Array{"a", Value::integer(1), "b"}), 0, true},
        {"NSMutableArray",
         kHeader + bytes(R"(84 01 40 84 84 84 0e "NSMutableArray" 00 84 84 07 "NSArray" 00
            84 84 08 "NSObject" 00 85 84 01 69 02 92 84 84 84 08 "NSString" 01 95 84 01 2b 01 78 86 92 84
            84 84 08 "NSNumber" 00 84 84 07 "NSValue" 00 95 84 01 2a 84 84 01 71 9c 02 86 86)"),
         Value(Array{"x", Value::integer(2)}), 0, false},
        {"NSArray with NSNull",
         kHeader + bytes(kArrayClasses + R"( 84 01 69 03 92 84 84 84 08 "NSString"
            01 94 84 01 2b 01 78 86 92 84 84 84 06 "NSNull" 00 94 86 92 84 96 97 01 79 86 86)"),
         Value(Array{"x", Null{}, "y"}), 0, true},
        {"NSNumber BOOL", kHeader + bytes(kNumberClasses + " 63 97 01 86"), Value::boolean(true), 0,
         true},
        {"NSNumber int", kHeader + bytes(kNumberClasses + " 69 97 2a 86"), Value::integer(42, 'i'),
         'i', true},
        {"NSNumber int64", kHeader + bytes(kNumberClasses + " 71 97 87 00 e6 8e e7 fd ff ff ff 86"),
         Value::integer(-9000000000), 'q', true},
        {"NSNumber double",
         kHeader + bytes(kNumberClasses + " 64 97 83 00 00 00 00 00 20 59 40 86"),
         Value::real(100.5), 'd', true},
        {"NSNumber float", kHeader + bytes(kNumberClasses + " 66 97 83 00 00 60 40 86"),
         Value::real(3.5, 'f'), 'f', true},
        {"NSDate integral", kHeader + bytes(kDateClasses + " 84 01 64 82 80 01 4b 01 86"),
         Value(Date{21692800.0}), 0, true},
        {"NSDate fraction",
         kHeader + bytes(kDateClasses + " 84 01 64 83 aa f1 42 80 93 dc c4 41 86"),
         Value(Date{700000000.523}), 0, true},
    };
}

TEST_F(TypedstreamTest, MacosStreamsDecodeAndOurWriterReproducesThem) {
    for (const Golden& g : macosStreams()) {
        SCOPED_TRACE(g.name);
        const Value v = decodeOk(g.stream);
        EXPECT_EQ(v, g.expected);
        if (g.encoding == 'i' || g.encoding == 'q') {
            ASSERT_NE(v.integerValue(), nullptr);
            EXPECT_EQ(v.integerValue()->encoding, g.encoding);
        } else if (g.encoding != 0) {
            ASSERT_NE(v.realValue(), nullptr);
            EXPECT_EQ(v.realValue()->encoding, g.encoding);
        }
        if (g.fromWriter) {
            const auto written = typedstreamArchive(g.expected);
            ASSERT_TRUE(written.has_value());
            EXPECT_EQ(hex(*written), hex(g.stream));
        }
    }
}

const std::string kRecordPrefix =
    kArrayClasses + R"( 84 01 69 01 92 84 84 84 0c "TableElement" 00 94)";

TEST_F(TypedstreamTest, RecordInAnArrayMatchesTheWorkedExample) {
    const std::string stream = kHeader + bytes(kRecordPrefix + R"(
        92 84 84 84 08 "NSString" 01 94 84 01 2b 01 78 86
        92 84 84 84 08 "NSNumber" 00 84 84 07 "NSValue" 00 94 84 01 2a 84 95 95 05 86
        92 85
        92 84 9a 9b 84 84 01 63 9c 01 86
        86 86)");
    const Value v = decodeOk(stream);
    ASSERT_NE(v.array(), nullptr);
    ASSERT_EQ(v.array()->size(), 1u);
    const auto* object = (*v.array())[0].object();
    ASSERT_NE(object, nullptr);
    const auto* r = dynamic_cast<const Recorded*>(object->get());
    ASSERT_NE(r, nullptr);
    const std::vector<Value> want = {"x", Value::integer(5, 'i'), Value(), Value::boolean(true)};
    EXPECT_EQ(r->values, want);
    EXPECT_EQ(r->values[1].integerValue()->encoding, 'i');

    const auto written = typedstreamArchive(Value(Array{Value(recorded(want))}));
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(hex(*written), hex(stream));
}

TEST_F(TypedstreamTest, CalendarDateMatchesTheWorkedExample) {
    const std::string stream = kHeader + bytes(kRecordPrefix + R"(
        92 84 84 84 0e "NSCalendarDate" 00 84 84 06 "NSDate" 00 94
           84 01 64 83 00 00 40 80 93 dc c4 41
           92 84 84 84 0a "NSTimeZone" 00 94
              92 84 84 84 08 "NSString" 01 94 84 01 2b 0d "Europe/Berlin" 86
           86
           92 84 9d 9c 14 "%Y-%m-%d %H:%M:%S %z" 86
        86
        86 86)");
    const Value v = decodeOk(stream);
    ASSERT_NE(v.array(), nullptr);
    const auto* r = dynamic_cast<const Recorded*>((*v.array())[0].object()->get());
    ASSERT_NE(r, nullptr);
    const Date want{700000000.5, true, "Europe/Berlin", "%Y-%m-%d %H:%M:%S %z"};
    // A record with one value: the rest read as nil because the object ends there.
    EXPECT_EQ(r->values, (std::vector<Value>{Value(want), Value(), Value(), Value()}));

    const auto written = typedstreamArchive(Value(Array{Value(recorded({Value(want)}))}));
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(hex(*written), hex(stream));
}

// The stream of a lone NSNumber of the given type, the value bytes given after the type reference.
std::string numberStream(char type, const std::string& valueBytes) {
    char t[3];
    std::snprintf(t, sizeof t, "%02x", static_cast<unsigned char>(type));
    return kHeader + bytes(kNumberClasses + " " + t + " 97 " + valueBytes + " 86");
}

TEST_F(TypedstreamTest, IntegersUseTheShortestFormAndReadBackWithTheirType) {
    struct Case {
        Value value;
        const char* wire;
    };
    const Case cases[] = {
        {Value::integer(0, 'i'), "00"},
        {Value::integer(127, 'i'), "7f"},
        {Value::integer(-110, 'i'), "92"},
        {Value::integer(-111, 'i'), "81 91 ff"},
        {Value::integer(128, 'i'), "81 80 00"},
        {Value::integer(145, 'i'), "81 91 00"},
        {Value::integer(300, 'i'), "81 2c 01"},
        {Value::integer(-32768, 's'), "81 00 80"},
        {Value::integer(65535, 'i'), "82 ff ff 00 00"},
        {Value::integer(21692800, 'l'), "82 80 01 4b 01"},
        {Value::integer(std::numeric_limits<int32_t>::min(), 'i'), "82 00 00 00 80"},
        {Value::integer(4294967295, 'I'), "87 ff ff ff ff 00 00 00 00"},
        {Value::integer(-9000000000, 'q'), "87 00 e6 8e e7 fd ff ff ff"},
        {Value::integer(-5, 'c'), "fb"},
        {Value::integer(200, 'C'), "c8"},
        {Value::integer(40000, 'S'), "82 40 9c 00 00"},
        {Value(Integer{-1, 'Q', true}), "ff"},
    };
    for (const Case& c : cases) {
        const Integer& i = *c.value.integerValue();
        SCOPED_TRACE(std::string(1, i.encoding) + " " + std::to_string(i.value));
        const std::string stream = numberStream(i.encoding, c.wire);
        const auto written = typedstreamArchive(c.value);
        ASSERT_TRUE(written.has_value());
        EXPECT_EQ(hex(*written), hex(stream));
        const Value back = decodeOk(stream);
        ASSERT_NE(back.integerValue(), nullptr);
        EXPECT_EQ(back.integerValue()->value, i.value);
        EXPECT_EQ(back.integerValue()->encoding, i.encoding);
        EXPECT_EQ(back.integerValue()->isUnsigned64, i.isUnsigned64);
    }
}

TEST_F(TypedstreamTest, ValueThatOutgrowsItsTypeIsWrittenWide) {
    // A value that cannot be held by the type it claims would be cut short by any reader.
    for (const Value& v :
         {Value::integer(300, 'c'), Value::integer(-1, 'C'), Value::integer(70000, 's'),
          Value::integer(1LL << 40, 'i'), Value::integer(-1, 'I'), Value::integer(7, 'x')}) {
        const auto written = typedstreamArchive(v);
        ASSERT_TRUE(written.has_value());
        const Value back = decodeOk(*written);
        ASSERT_NE(back.integerValue(), nullptr);
        EXPECT_EQ(back.integerValue()->value, v.integerValue()->value);
        EXPECT_EQ(back.integerValue()->encoding, 'q');
    }
}

TEST_F(TypedstreamTest, ReadingReinterpretsToTheArchivedType) {
    struct Case {
        char type;
        const char* wire;
        int64_t value;
        bool unsigned64;
    };
    const Case cases[] = {
        {'C', "ff", 255, false},
        {'c', "85", -123, false},  // a raw byte: tags mean nothing here
        {'s', "82 ff ff 01 00", -1, false},
        {'S', "ff", 65535, false},
        {'I', "ff", 4294967295, false},
        {'i', "87 01 00 00 00 01 00 00 00", 1, false},
        {'Q', "87 ff ff ff ff ff ff ff ff", -1, true},
        {'Q', "05", 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.type) + " " + c.wire);
        const Value v = decodeOk(numberStream(c.type, c.wire));
        ASSERT_NE(v.integerValue(), nullptr);
        EXPECT_EQ(v.integerValue()->value, c.value);
        EXPECT_EQ(v.integerValue()->isUnsigned64, c.unsigned64);
    }
    EXPECT_EQ(decodeOk(numberStream('c', "00")), Value::boolean(false));
    EXPECT_EQ(decodeOk(numberStream('B', "02")), Value::boolean(true));
    EXPECT_EQ(decodeOk(numberStream('d', "81 2c 01")), Value::real(300));
    EXPECT_EQ(decodeOk(numberStream('f', "87 00 e4 0b 54 02 00 00 00")), Value::real(1e10));
}

TEST_F(TypedstreamTest, RealsRoundTripExactly) {
    const double inf = std::numeric_limits<double>::infinity();
    const Value cases[] = {
        Value::real(0.0),           Value::real(-0.0),         Value::real(1.0, 'f'),
        Value::real(2.0, 'f'),      Value::real(-7.0),         Value::real(0.1),
        Value::real(1e10),          Value::real(-1e300),       Value::real(inf),
        Value::real(-inf),          Value::real(2147483647.0), Value::real(2147483648.0),
        Value::real(-2147483648.0), Value::real(0.1, 'f'),     Value::real(1.25, 'f'),
        Value::real(5e-324),
    };
    for (const Value& v : cases) {
        SCOPED_TRACE(v.realValue()->value);
        const auto written = typedstreamArchive(v);
        ASSERT_TRUE(written.has_value());
        const Value back = decodeOk(*written);
        ASSERT_NE(back.realValue(), nullptr);
        EXPECT_EQ(back, v);
        EXPECT_EQ(std::signbit(back.realValue()->value), std::signbit(v.realValue()->value));
    }
    // A float that cannot hold the value is written as a double rather than rounded.
    const Value back = decodeOk(*typedstreamArchive(Value::real(0.1, 'f')));
    EXPECT_EQ(back.realValue()->encoding, 'd');
    EXPECT_EQ(decodeOk(*typedstreamArchive(Value::real(1.25, 'f'))).realValue()->encoding, 'f');
    const Value nan = decodeOk(*typedstreamArchive(Value::real(std::nan(""))));
    EXPECT_TRUE(std::isnan(nan.realValue()->value));
}

TEST_F(TypedstreamTest, EveryClassRoundTrips) {
    const Value cases[] = {
        Value(""),
        Value("Grüße, 世界 😀"),
        Value(std::string("nul\0inside", 10)),
        Value::boolean(false),
        Value(Date{-1.5}),
        Value(Date{86400.0, true, "America/New_York", std::nullopt}),
        Value(Date{0.25, true, std::nullopt, "%H:%M"}),
        Value(Date{1e9, true, std::nullopt, std::nullopt}),
        Value(Data{}),
        Value(Data{0x00, 0x84, 0x85, 0x86, 0xff}),
        Value(Null{}),
        Value(Array{}),
        Value(Dictionary{}),
        Value(Array{Value(Array{Value(Array{"deep"})}), Value(Dictionary{{"k", Value(Array{})}})}),
        // Keys need not be strings.
        Value(Dictionary{
            {Value::integer(1), "one"}, {Value(Data{1}), Value(Null{})}, {"s", Value::real(2.5)}}),
        Value(Array{Value(recorded(
            {"a", Value(), Value::integer(3, 's'), Value(Date{5.0, true, "UTC", "%c"})}))}),
    };
    for (const Value& v : cases) {
        const auto written = typedstreamArchive(v);
        ASSERT_TRUE(written.has_value());
        const Value back = decodeOk(*written);
        if (v.array() && !v.array()->empty() && (*v.array())[0].object()) {
            const auto* want = dynamic_cast<const Recorded*>((*v.array())[0].object()->get());
            const auto* got = dynamic_cast<const Recorded*>((*back.array())[0].object()->get());
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(got->values, want->values);
        } else {
            EXPECT_EQ(back, v) << hex(*written);
        }
        // Writing the decoded value again gives the same bytes.
        EXPECT_EQ(typedstreamArchive(back), written);
    }
}

TEST_F(TypedstreamTest, TimeZonesOnTheirOwn) {
    using typedstream::TimeZoneObject;
    for (const std::optional<std::string>& name :
         {std::optional<std::string>("Asia/Tokyo"), std::optional<std::string>()}) {
        const Value zone(std::shared_ptr<Object>(std::make_shared<TimeZoneObject>(name)));
        const Value back = decodeOk(*typedstreamArchive(zone));
        ASSERT_NE(back.object(), nullptr);
        const auto* tz = dynamic_cast<const TimeZoneObject*>(back.object()->get());
        ASSERT_NE(tz, nullptr);
        EXPECT_EQ(tz->name(), name);
    }
    // A zone of another class version carries its data after the name.
    const Value v =
        decodeOk(kHeader + bytes(R"(84 01 40 84 84 84 0a "NSTimeZone" 01 84 84 08 "NSObject" 00
        85 92 84 84 84 08 "NSString" 01 94 84 01 2b 03 "UTC" 86
        92 84 84 84 06 "NSData" 00 94 84 01 69 02 84 04 "[2c]" 01 02 86 86)"));
    ASSERT_NE(v.object(), nullptr);
    EXPECT_EQ(dynamic_cast<const TimeZoneObject*>(v.object()->get())->name(), "UTC");
    // The platform's local zone stands for the local zone, whatever it holds.
    const Value local = decodeOk(kHeader + bytes(R"(84 01 40 84 84 84 0f "NSLocalTimeZone" 00
        84 84 0a "NSTimeZone" 00 84 84 08 "NSObject" 00 85
        84 07 "{x=i*}@" 07 84 84 01 "q" 85 84 06 "[3c]!%" 61 62 63 84 01 "s" 86)"));
    ASSERT_NE(local.object(), nullptr);
    const auto* tz = dynamic_cast<const TimeZoneObject*>(local.object()->get());
    ASSERT_NE(tz, nullptr);
    EXPECT_FALSE(tz->name().has_value());
    // A calendar date keeps a local zone as no zone name.
    const Value date =
        decodeOk(kHeader + bytes(R"(84 01 40 84 84 84 0e "NSCalendarDate" 00 84 84 06 "NSDate"
        00 84 84 08 "NSObject" 00 85 84 01 64 05 92 84 84 84 0f "NSLocalTimeZone" 00 84 84 0a "NSTimeZone" 00
        95 86 92 85 86)"));
    EXPECT_EQ(date, Value(Date{5.0, true, std::nullopt, std::nullopt}));
}

TEST_F(TypedstreamTest, BigEndianStreamsAndOlderStreamerVersionAreRead) {
    const std::string big =
        bytes(R"(04 0b "typedstream" 81 03 e8)") + bytes(kNumberClasses + " 69 97 81 01 2c 86");
    EXPECT_EQ(decodeOk(big), Value::integer(300));
    const std::string bigDouble = bytes(R"(04 0b "typedstream" 81 03 e8)") +
                                  bytes(kNumberClasses + " 64 97 83 40 59 20 00 00 00 00 00 86");
    EXPECT_EQ(decodeOk(bigDouble), Value::real(100.5));
    std::string v3 = numberStream('i', "2a");
    v3[0] = 3;
    EXPECT_EQ(decodeOk(v3), Value::integer(42));
    // Data after the root is ignored.
    EXPECT_EQ(decodeOk(numberStream('i', "2a") + "trailing"), Value::integer(42));
    // A nil root is no object at all, and no failure.
    const DecodeResult nil = typedstreamUnarchive(kHeader + bytes("84 01 40 85"));
    EXPECT_TRUE(nil.ok());
    EXPECT_TRUE(nil.value.isNil());
}

TEST_F(TypedstreamTest, SharedValuesAreWrittenOnceAndDecodedShared) {
    // Doubling at every level: 2^60 leaves if shared values were copied.
    Value v = Value(Array{"leaf"});
    for (int i = 0; i < 60; ++i) v = Value(Array{v, v});
    const auto written = typedstreamArchive(v);
    ASSERT_TRUE(written.has_value());
    EXPECT_LT(written->size(), 2000u);
    const Value back = decodeOk(*written);
    const Array* level = back.array();
    for (int i = 0; i < 60; ++i) {
        ASSERT_EQ(level->size(), 2u);
        ASSERT_EQ((*level)[0].identity(), (*level)[1].identity()) << "level " << i;
        level = (*level)[0].array();
    }
    EXPECT_EQ(*level, Array{"leaf"});
}

TEST_F(TypedstreamTest, ReferencesBeyondTheOneByteFormsWork) {
    // 240 NSNull objects push the table past index 238, where references take the 0x81 form.
    Array a(240, Value(Null{}));
    const Value shared(Data{9, 9});
    a.push_back(shared);
    a.push_back(shared);
    const auto written = typedstreamArchive(Value(a));
    ASSERT_TRUE(written.has_value());
    // Table: array 0, NSArray 1, NSObject 2, NSNull 4 after the first null at 3; nulls 3, 5..243;
    // the data at 244 is referred to as 244 - 110 = 134.
    EXPECT_EQ(hex(written->substr(written->size() - 5)), "92 81 86 00 86 ");
    const Value back = decodeOk(*written);
    ASSERT_EQ(back.array()->size(), 242u);
    EXPECT_EQ((*back.array())[240].identity(), (*back.array())[241].identity());
    EXPECT_EQ(back, Value(a));

    // Shared strings past index 110 and 238: data type strings "[Nc]" are one per length.
    Array datas;
    for (size_t n = 0; n < 300; ++n) datas.push_back(Value(Data(n, 0x41)));
    for (size_t n = 0; n < 300; n += 7) datas.push_back(Value(Data(n, 0x42)));
    const auto many = typedstreamArchive(Value(datas));
    ASSERT_TRUE(many.has_value());
    EXPECT_EQ(decodeOk(*many), Value(datas));
}

struct Malformed {
    const char* name;
    std::string stream;
    const char* message;  // a fragment the error must contain
    size_t offset;
};

std::string arrayOf(const std::string& countAndElements) {
    return kHeader + bytes(kArrayClasses + " 84 01 69 " + countAndElements);
}

std::vector<Malformed> malformedStreams() {
    const std::string kStringObject = R"(84 84 84 08 "NSString" 01 94 84 01 2b)";
    return {
        {"empty", "", "end of data", 0},
        {"short header", kHeader.substr(0, 9), "end of data", 2},
        {"streamer version", bytes("05") + kHeader.substr(1), "version", 0},
        {"signature length", bytes("04 0a") + kHeader.substr(2), "signature", 1},
        {"signature", bytes(R"(04 0b "streamtypex" 81 e8 03)"), "not a typedstream", 2},
        {"root type", kHeader + bytes("84 01 69 05"), "type \"i\"", 16},
        {"no root type", kHeader + bytes("85"), "missing type", 16},
        {"string type",
         kHeader + bytes(R"(84 01 40 84 84 84 08 "NSString" 01 84 84 08 "NSObject" 00 85
                                          84 01 2a 01 41 86)"),
         "type \"*\"", 45},
        {"length past the end",
         kHeader + bytes(R"(84 01 40 84 84 84 08 "NSString" 01 84 84 08 "NSObject" 00
                                          85 84 01 2b 82 ff ff ff 7f 41 86)"),
         "exceeds", 48},
        {"4 GiB length",
         kHeader + bytes(R"(84 01 40 84 84 84 08 "NSString" 01 84 84 08 "NSObject" 00
                                          85 84 01 2b 87 00 00 00 00 01 00 00 00 41 86)"),
         "exceeds", 48},
        {"negative length",
         kHeader + bytes(R"(84 01 40 84 84 84 08 "NSString" 01 84 84 08 "NSObject" 00
                                          85 84 01 2b ff 41 86)"),
         "negative", 48},
        {"invalid UTF-8",
         kHeader + bytes(R"(84 01 40 84 84 84 08 "NSString" 01 84 84 08 "NSObject" 00
                                          85 84 01 2b 02 c0 80 86)"),
         "UTF-8", 48},
        {"tag as integer", arrayOf("88"), "unexpected tag", 47},
        {"string reference out of range", arrayOf("01 a0 85 86"), "out of range", 48},
        {"object reference out of range", arrayOf("01 92 a0"), "out of range", 49},
        {"object reference to a class", arrayOf("01 92 93"), "not an object", 49},
        {"class reference to an object", arrayOf("01 92 84 95 86"), "not a class", 50},
        {"C string reference to a class",
         kHeader + bytes(kNumberClasses.substr(0, kNumberClasses.size() - 9) + " 94 97 01 86"),
         "not a C string", 59},
        {"cycle", arrayOf("01 92 92 86"), "cycle", 49},
        {"nil element", arrayOf("01 92 85 86"), "nil array element", 49},
        {"count past the end", arrayOf("82 ff ff ff 7f 86"), "exceeds", 47},
        {"unknown class", kHeader + bytes(R"(84 01 40 84 84 84 05 "NSFoo" 00 85 86)"),
         "unknown class", 19},
        {"object without class", kHeader + bytes("84 01 40 84 85 86"), "without a class", 20},
        {"number type", numberStream('x', "00"), "number type", 59},
        {"number type mismatch", kHeader + bytes(kNumberClasses + " 69 84 01 71 05 86"),
         "type \"q\"", 63},
        {"missing end of object", numberStream('i', "05").substr(0, 65) + bytes("00"),
         "end of the object", 65},
        {"data type", kHeader + bytes(R"(84 01 40 84 84 84 06 "NSData" 00 84 84 08 "NSObject" 00 85
                                        84 01 69 02 84 04 "[3c]" 01 02 86)"),
         "type \"[3c]\"", 47},
        {"zone not a zone",
         kHeader + bytes(R"(84 01 40 84 84 84 0e "NSCalendarDate" 00 84 84 06 "NSDate" 00
             84 84 08 "NSObject" 00 85 84 01 64 05 92 84 84 84 06 "NSNull" 00 95 86 92 85 86)"),
         "not a time zone", 66},
        {"refused record",
         kHeader + bytes(kRecordPrefix + " 92 " + kStringObject + R"( 06 "refuse" 86 86 86)"),
         "rejected", 49},
        {"bad value inside a record",
         kHeader + bytes(kRecordPrefix + " 92 84 84 84 05 \"NSFoo\" 00 94 86 86 86"),
         "unknown class", 68},
        {"zero-width array type", kHeader + bytes(R"(84 01 40 84 84 84 0f "NSLocalTimeZone" 00 85
             84 14 "[1000000[1000000!]]" 86)"),
         "too many values", 62},
        {"huge array type", kHeader + bytes(R"(84 01 40 84 84 84 0f "NSLocalTimeZone" 00 85
             84 0e "[99999999999c]" 86)"),
         "too long", 40},
        {"unknown type",
         kHeader + bytes(R"(84 01 40 84 84 84 0f "NSLocalTimeZone" 00 85 84 01 "(" 86)"),
         "unsupported type", 40},
        {"unclosed struct",
         kHeader + bytes(R"(84 01 40 84 84 84 0f "NSLocalTimeZone" 00 85 84 03 "{a=" 86)"),
         "malformed type", 40},
    };
}

TEST_F(TypedstreamTest, MalformedStreamsFailCleanlyWithTheirOffset) {
    for (const Malformed& m : malformedStreams()) {
        SCOPED_TRACE(m.name);
        const DecodeResult r = typedstreamUnarchive(m.stream);
        ASSERT_FALSE(r.ok()) << hex(m.stream);
        EXPECT_NE(r.error->message.find(m.message), std::string::npos) << r.error->message;
        EXPECT_EQ(r.error->offset, m.offset) << r.error->message;
        EXPECT_TRUE(r.value.isNil());
    }
}

TEST_F(TypedstreamTest, EveryTruncationFails) {
    for (const Golden& g : macosStreams()) {
        for (size_t n = 0; n < g.stream.size(); ++n) {
            const DecodeResult r = typedstreamUnarchive(g.stream.substr(0, n));
            EXPECT_FALSE(r.ok()) << g.name << " cut to " << n;
            if (r.error) {
                EXPECT_LE(r.error->offset, n) << g.name << " cut to " << n;
            }
        }
    }
}

Value nested(int depth) {
    Value v = Value(Array{});
    for (int i = 1; i < depth; ++i) v = Value(Array{v});
    return v;
}

TEST_F(TypedstreamTest, NestingIsLimited) {
    const auto ok = typedstreamArchive(nested(64));
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(decodeOk(*ok), nested(64));
    EXPECT_FALSE(typedstreamArchive(nested(65)).has_value());

    // A deeper stream, as a hostile writer would make it.
    // The root array's count ends at 47; then each nested array is "@" (92), new (84), class
    // NSArray (93), type "i" (95) and count 1, five bytes.
    std::string deep = arrayOf("01");
    for (int i = 0; i < 70; ++i) deep += bytes("92 84 93 95 01");
    const DecodeResult r = typedstreamUnarchive(deep);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error->message.find("deeper than 64"), std::string::npos);
    // The 64th nested array is the 65th level.
    EXPECT_EQ(r.error->offset, 48u + 5 * 63 + 1);

    DecodeLimits shallow;
    shallow.maxDepth = 3;
    EXPECT_TRUE(typedstreamUnarchive(*typedstreamArchive(nested(3)), shallow).ok());
    EXPECT_FALSE(typedstreamUnarchive(*typedstreamArchive(nested(4)), shallow).ok());
}

TEST_F(TypedstreamTest, ObjectCountAndSizeAreLimited) {
    // Array, NSArray, NSObject and NSNull take four entries; each further null one more.
    const auto atLimit = typedstreamArchive(Value(Array(99996, Value(Null{}))));
    ASSERT_TRUE(atLimit.has_value());
    EXPECT_TRUE(typedstreamUnarchive(*atLimit).ok());
    const auto over = typedstreamArchive(Value(Array(99997, Value(Null{}))));
    const DecodeResult r = typedstreamUnarchive(*over);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error->message.find("more than 100000 objects"), std::string::npos);

    const std::string big = *typedstreamArchive(Value(std::string(1 << 20, 'a')));
    const DecodeResult tooBig = typedstreamUnarchive(big);
    ASSERT_FALSE(tooBig.ok());
    EXPECT_EQ(tooBig.error->offset, 0u);
    DecodeLimits roomy;
    roomy.maxBytes = 2 << 20;
    EXPECT_TRUE(typedstreamUnarchive(big, roomy).ok());
}

TEST_F(TypedstreamTest, SharedStringsAreHeldOnceHoweverOftenTheyAreNamed) {
    // A 500 kB shared string, then 90,000 classes named by reference to it: three bytes each
    // in the stream, 45 GB if every class kept its own copy of the name.
    std::string stream = kHeader + bytes(R"(84 01 40 84 84 84 0f "NSLocalTimeZone" 00 85
                                            84 02 "%#" 84 82 20 a1 07 00)");
    stream.append(500000, 'a');
    for (int i = 0; i < 90000; ++i) stream += bytes("84 95 00");
    stream += bytes("85 86");
    ASSERT_LT(stream.size(), size_t{1} << 20);
    const DecodeResult r = typedstreamUnarchive(stream);
    EXPECT_TRUE(r.ok()) << r.error->message;

    // Names from the input are cut short in error messages.
    const std::string name(1000, 'N');
    const DecodeResult unknown = typedstreamUnarchive(
        kHeader + bytes("84 01 40 84 84 84 82 e8 03 00 00") + name + bytes("00 85 86"));
    ASSERT_FALSE(unknown.ok());
    EXPECT_LT(unknown.error->message.size(), 100u);
}

TEST_F(TypedstreamTest, ReferencesToOneLargeTextCannotMultiplyIt) {
    // Texts are copied per use, so an array naming a 100 kB string 1,000 times would hold 100 MB.
    // An array of 1,001 elements: a new string object, then 1,000 references to it.
    auto arrayNaming = [](size_t textSize) {
        std::string s = arrayOf(R"(81 e9 03 92 84 84 84 08 "NSString" 01 94 84 01 2b 82)");
        const auto n = static_cast<uint32_t>(textSize);
        for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>(n >> (8 * k)));
        s.append(textSize, 't');
        s += bytes("86");
        for (int i = 0; i < 1000; ++i) s += bytes("92 95");  // "@", reference to the string
        return s + bytes("86");
    };
    const DecodeResult modest = typedstreamUnarchive(arrayNaming(1000));
    ASSERT_TRUE(modest.ok()) << modest.error->message;
    ASSERT_EQ(modest.value.array()->size(), 1001u);
    EXPECT_EQ((*modest.value.array())[1000], Value(std::string(1000, 't')));

    const DecodeResult huge = typedstreamUnarchive(arrayNaming(100000));
    ASSERT_FALSE(huge.ok());
    EXPECT_NE(huge.error->message.find("copied too often"), std::string::npos);
}

class Unregistered : public Object {
  public:
    std::string_view className() const override { return "Unregistered"; }
};

TEST_F(TypedstreamTest, WriterRefusesWhatNoStreamCanHold) {
    auto self = std::make_shared<Recorded>();
    self->values.push_back(Value(std::shared_ptr<Object>(self)));
    const Value cases[] = {
        Value(Uid{1}),
        Value(std::shared_ptr<Object>(std::make_shared<Unregistered>())),
        Value(Array{"a", Value()}),
        Value(Dictionary{{Value(), "v"}}),
        Value(Dictionary{{"k", Value()}}),
        Value(std::string("\xff\xfe")),
        Value(Date{1, true, std::string("\xc0\x80"), std::nullopt}),
        Value(std::shared_ptr<Object>(self)),
    };
    for (const Value& v : cases) EXPECT_FALSE(typedstreamArchive(v).has_value());
    self->values.clear();  // breaks the cycle so the record is freed
}

}  // namespace
}  // namespace hv
