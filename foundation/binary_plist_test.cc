#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/property_list.h"
#include "foundation/test_support.h"

namespace hv {
namespace {

using testing::BplistBuilder;
using testing::obj;

Value roundTrip(const Value& v) {
    const auto bytes = writeBinaryPropertyList(v);
    EXPECT_TRUE(bytes.has_value());
    if (!bytes) return {};
    const DecodeResult r = readBinaryPropertyList(*bytes);
    EXPECT_TRUE(r.ok()) << r.error->message << " at " << r.error->offset;
    return r.value;
}

struct RoundTripCase {
    const char* name;
    Value value;
};

class BinaryRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(BinaryRoundTripTest, ReadsBackWhatWasWritten) {
    EXPECT_EQ(roundTrip(GetParam().value), GetParam().value);
}

Array manyIntegers(int n) {
    Array a;
    for (int i = 0; i < n; ++i) a.push_back(Value::integer(i * 1000));
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Values, BinaryRoundTripTest,
    ::testing::Values(
        RoundTripCase{"zero", Value::integer(0)},
        RoundTripCase{"oneByte", Value::integer(255)},
        RoundTripCase{"twoBytes", Value::integer(256)},
        RoundTripCase{"fourBytes", Value::integer(65536)},
        RoundTripCase{"eightBytes", Value::integer(4294967296LL)},
        RoundTripCase{"negative", Value::integer(-1)},
        RoundTripCase{"minimum", Value::integer(std::numeric_limits<int64_t>::min())},
        RoundTripCase{"unsignedMaximum", Value(Integer{-1, 'Q', true})},
        RoundTripCase{"double", Value::real(1.5)},
        RoundTripCase{"infinity", Value::real(-INFINITY)},
        RoundTripCase{"true", Value::boolean(true)},
        RoundTripCase{"false", Value::boolean(false)},
        RoundTripCase{"date", Value(Date{700000000.5})},
        RoundTripCase{"emptyData", Value(Data{})},
        RoundTripCase{"data", Value(Data(300, 0xAB))},
        RoundTripCase{"emptyString", Value("")},
        RoundTripCase{"ascii", Value("a string longer than fifteen characters")},
        RoundTripCase{"unicode", Value("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80")},
        RoundTripCase{"uid", Value(Uid{0xFFFFFFFFu})},
        RoundTripCase{"emptyArray", Value(Array{})},
        RoundTripCase{"bigArray", Value(manyIntegers(300))},
        RoundTripCase{"nested", Value(Dictionary{
                                    {Value("list"), Value(Array{Value("a"), Value::integer(1), Value("a")})},
                                    {Value("empty"), Value(Dictionary{})},
                                    {Value("flag"), Value::boolean(false)},
                                })}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

TEST(BinaryPlistTest, NumbersKeepTheirStoredWidth) {
    const Value back = roundTrip(Value(Array{Value::real(0.25, 'f'), Value::real(0.25, 'd')}));
    ASSERT_NE(back.array(), nullptr);
    EXPECT_EQ((*back.array())[0].realValue()->encoding, 'f');
    EXPECT_EQ((*back.array())[1].realValue()->encoding, 'd');
    EXPECT_TRUE((*roundTrip(Value(Integer{-1, 'Q', true})).integerValue()).isUnsigned64);
}

TEST(BinaryPlistTest, WriterRefusesWhatAListCannotHold) {
    EXPECT_FALSE(writeBinaryPropertyList(Value()));
    EXPECT_FALSE(writeBinaryPropertyList(Value(Null{})));
    EXPECT_FALSE(writeBinaryPropertyList(Value(Dictionary{{Value::integer(1), Value("x")}})));
    EXPECT_FALSE(writeBinaryPropertyList(Value(Array{Value("ok"), Value()})));
    EXPECT_FALSE(writeBinaryPropertyList(Value(Uid{uint64_t{1} << 32})));
    EXPECT_TRUE(writeBinaryPropertyList(Value(Array(100000, Value::integer(1)))));
    EXPECT_FALSE(writeBinaryPropertyList(Value(Array(100001, Value::integer(1)))));
    EXPECT_FALSE(writeBinaryPropertyList(Value("bad \xC3 utf-8")));
    Value deep = Value::integer(1);
    for (int i = 0; i < 65; ++i) deep = Value(Array{deep});
    EXPECT_FALSE(writeBinaryPropertyList(deep));
}

// A shared container met again deeper down still counts its own depth there.
TEST(BinaryPlistTest, WriterCountsSharedContainersAtEveryDepth) {
    Value chain = Value::integer(1);
    for (int i = 0; i < 60; ++i) chain = Value(Array{chain});
    Value wrapped = chain;
    for (int i = 0; i < 3; ++i) wrapped = Value(Array{wrapped});  // 1 + 3 + 60 = 64 levels
    EXPECT_TRUE(writeBinaryPropertyList(Value(Array{chain, wrapped})));
    wrapped = Value(Array{wrapped});
    EXPECT_FALSE(writeBinaryPropertyList(Value(Array{chain, wrapped})));
}

TEST(BinaryPlistTest, WriterMergesEqualScalarsAndSharedContainers) {
    const Value shared(Array{Value("x"), Value("y")});
    const auto once = writeBinaryPropertyList(Value(Array{shared}));
    const auto twice = writeBinaryPropertyList(Value(Array{shared, shared, Value("x")}));
    ASSERT_TRUE(once && twice);
    // Two more one-byte references, and nothing else.
    EXPECT_EQ(twice->size(), once->size() + 2);
    const DecodeResult r = readBinaryPropertyList(*twice);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ((*r.value.array())[0].identity(), (*r.value.array())[1].identity());
}

// Python's plistlib lays out binary lists as CoreFoundation does (pre-order, merged scalars,
// narrowest widths), so for values it represents the same way the bytes must match exactly.
TEST(BinaryPlistTest, BytesMatchAnIndependentWriter) {
    Dictionary d{
        {Value("name"), Value("kid")},
        {Value("unicode"), Value("\xC3\xA9t\xC3\xA9")},
        {Value("numbers"), Value(Array{Value::integer(0), Value::integer(300), Value::integer(70000),
                                       Value::integer(5000000000LL), Value::integer(-2), Value::real(2.5)})},
        {Value("again"), Value("kid")},
        {Value("flags"), Value(Array{Value::boolean(true), Value::boolean(false)})},
        {Value("blob"), Value(Data{0, 1, 2, 255})},
        {Value("long"), Value(std::string(300, 'z'))},
        {Value("ref"), Value(Uid{258})},
        {Value("many"), Value(manyIntegers(20))},
    };
    const auto ours = writeBinaryPropertyList(Value(std::move(d)));
    ASSERT_TRUE(ours);
    const std::string script = R"(
import plistlib, sys
value = {
    "name": "kid", "unicode": "\u00e9t\u00e9",
    "numbers": [0, 300, 70000, 5000000000, -2, 2.5],
    "again": "kid", "flags": [True, False], "blob": bytes([0, 1, 2, 255]), "long": "z" * 300,
    "ref": plistlib.UID(258), "many": [i * 1000 for i in range(20)],
}
theirs = plistlib.dumps(value, fmt=plistlib.FMT_BINARY, sort_keys=False)
ours = open(sys.argv[1], "rb").read()
print("same" if theirs == ours else "differ")
print(plistlib.loads(ours) == value)
)";
    const auto out = testing::runPython(script, *ours);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, "same\nTrue\n");
}

// A UID takes the narrowest of Apple's widths: 80 xx, 81 xx xx, 83 xx xx xx xx.
TEST(BinaryPlistTest, UidsInTheirNarrowestForm) {
    const struct {
        uint64_t uid;
        std::string object;
    } cases[] = {{5, obj({0x80, 0x05})},
                 {300, obj({0x81, 0x01, 0x2C})},
                 {70000, obj({0x83, 0x00, 0x01, 0x11, 0x70})}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uid);
        BplistBuilder expected;
        expected.offsetSize = 1;
        expected.objects = {c.object};
        const auto ours = writeBinaryPropertyList(Value(Uid{c.uid}));
        ASSERT_TRUE(ours);
        EXPECT_EQ(*ours, expected.build());
        EXPECT_EQ(readBinaryPropertyList(expected.build()).value, Value(Uid{c.uid}));
    }
}

TEST(BinaryPlistTest, ReadsFormsOurWriterNeverProduces) {
    BplistBuilder b;
    b.refSize = 2;
    b.offsetSize = 8;
    b.objects = {
        obj({0xA7, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0x07}),
        // 16-byte integer 2^63 (unsigned), and -5 as a sign-extended 16-byte integer
        obj({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}),
        obj({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB}),
        obj({0x22, 0x40, 0x20, 0x00, 0x00}),               // float 2.5
        obj({0x62, 0xD8, 0x3D, 0xDE, 0x00}),               // UTF-16 U+1F600
        obj({0x87, 0, 0, 0, 0, 0, 0, 0, 0x07}),             // 8-byte UID 7
        obj({0x51, 0xE9}),                                 // a non-ASCII byte in an ASCII string
        obj({0x00}),                                       // null
    };
    const DecodeResult r = readBinaryPropertyList(b.build());
    ASSERT_TRUE(r.ok()) << r.error->message;
    const Array& a = *r.value.array();
    ASSERT_EQ(a.size(), 7u);
    EXPECT_EQ(a[0], Value(Integer{std::numeric_limits<int64_t>::min(), 'Q', true}));
    EXPECT_EQ(a[1], Value::integer(-5));
    EXPECT_EQ(a[2].realValue()->value, 2.5);
    EXPECT_EQ(a[2].realValue()->encoding, 'f');
    EXPECT_EQ(a[3], Value("\xF0\x9F\x98\x80"));
    EXPECT_EQ(a[4], Value(Uid{7}));
    EXPECT_EQ(a[5], Value("\xC3\xA9"));
    EXPECT_EQ(a[6], Value(Null{}));
}

TEST(BinaryPlistTest, RepeatedKeyKeepsTheLastValue) {
    BplistBuilder b;
    b.objects = {obj({0xD2, 1, 1, 2, 3}), obj({0x51, 'k'}), obj({0x10, 1}), obj({0x10, 2})};
    const DecodeResult r = readBinaryPropertyList(b.build());
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.value.dictionary()->size(), 1u);
    EXPECT_EQ(r.value["k"], Value::integer(2));
}

// A chain of arrays: object i holds object i+1; the last is an integer.
BplistBuilder nestedArrays(int levels) {
    BplistBuilder b;
    b.refSize = 2;
    b.offsetSize = 4;
    for (int i = 0; i < levels; ++i) b.objects.push_back(obj({0xA1, (i + 1) >> 8, (i + 1) & 0xFF}));
    b.objects.push_back(obj({0x10, 7}));
    return b;
}

TEST(BinaryPlistTest, NestingUpToTheLimitIsRead) {
    EXPECT_TRUE(readBinaryPropertyList(nestedArrays(64).build()).ok());
    const DecodeResult deeper = readBinaryPropertyList(nestedArrays(65).build());
    ASSERT_FALSE(deeper.ok());
    EXPECT_NE(deeper.error->message.find("nesting"), std::string::npos);
}

// A subtree first met near the top must still count its full depth when met again deeper.
TEST(BinaryPlistTest, SharedSubtreeCountsItsDepthWhereverItIsMet) {
    BplistBuilder b = nestedArrays(60);
    // objects 0..59 chain, 60 the integer; add a root holding the chain and a 10-deep wrapper.
    const int wrapperStart = 62;
    b.objects.push_back(obj({0xA2, 0, 0, 0, wrapperStart}));  // 61: root [chain, wrapper]
    for (int i = 0; i < 10; ++i) {
        const int next = i == 9 ? 0 : wrapperStart + i + 1;
        b.objects.push_back(obj({0xA1, next >> 8, next & 0xFF}));
    }
    b.top = 61;
    const DecodeResult r = readBinaryPropertyList(b.build());
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error->message.find("nesting"), std::string::npos);
}

// Each array holds the previous one twice: 2^60 leaves if copied, 61 objects when shared.
TEST(BinaryPlistTest, ExponentialReferencesStayShared) {
    BplistBuilder b;
    b.objects.push_back(obj({0x10, 1}));
    for (int i = 1; i <= 60; ++i) b.objects.push_back(obj({0xA2, i - 1, i - 1}));
    b.top = 60;
    const DecodeResult r = readBinaryPropertyList(b.build());
    ASSERT_TRUE(r.ok()) << r.error->message;
    const Value* v = &r.value;
    for (int i = 0; i < 60; ++i) {
        ASSERT_EQ(v->array()->size(), 2u);
        ASSERT_EQ((*v->array())[0].identity(), (*v->array())[1].identity());
        v = &(*v->array())[0];
    }
    EXPECT_EQ(*v, Value::integer(1));
    // Written back it stays as small as it came.
    const auto again = writeBinaryPropertyList(r.value);
    ASSERT_TRUE(again);
    EXPECT_LT(again->size(), 400u);
}

struct MalformedCase {
    const char* name;
    std::string bytes;
    const char* message;  // a part of the expected error message
};

std::string withTrailerByte(std::string bytes, size_t fromEnd, uint8_t value) {
    bytes[bytes.size() - fromEnd] = static_cast<char>(value);
    return bytes;
}

std::vector<MalformedCase> malformedCases() {
    std::vector<MalformedCase> cases;
    const auto simple = [](std::vector<std::string> objects) {
        BplistBuilder b;
        b.objects = std::move(objects);
        return b;
    };
    const std::string valid = simple({obj({0xA1, 1}), obj({0x10, 1})}).build();
    cases.push_back({"empty", "", "truncated"});
    cases.push_back({"headerOnly", "bplist00", "truncated"});
    cases.push_back({"wrongMagic", "bplist01" + valid.substr(8), "not a binary"});
    cases.push_back({"offsetWidthThree", withTrailerByte(valid, 26, 3), "offset width"});
    cases.push_back({"referenceWidthZero", withTrailerByte(valid, 25, 0), "reference width"});
    BplistBuilder b = simple({obj({0x10, 1})});
    b.countOverride = 0;
    cases.push_back({"noObjects", b.build(), "no objects"});
    b.countOverride = 100001;
    cases.push_back({"tooManyObjects", b.build(), "more objects"});
    b.countOverride = uint64_t{1} << 62;
    cases.push_back({"hugeObjectCount", b.build(), "more objects"});
    b.countOverride.reset();
    b.top = 1;
    cases.push_back({"topOutOfRange", b.build(), "top object"});
    b.top = 0;
    b.tableOffsetOverride = 0xFFFFFFFFFFFFFFF0ull;
    cases.push_back({"tableOffsetWraps", b.build(), "offset table"});
    b.tableOffsetOverride = 4;
    cases.push_back({"tableInHeader", b.build(), "offset table"});
    b.tableOffsetOverride.reset();
    b.firstOffsetOverride = 3;
    cases.push_back({"objectInHeader", b.build(), "object offset"});
    b.firstOffsetOverride = 10;  // where the offset table starts
    cases.push_back({"objectInOffsetTable", b.build(), "object offset"});
    cases.push_back({"referenceOutOfRange", simple({obj({0xA1, 5})}).build(), "reference out of range"});
    cases.push_back({"selfCycle", simple({obj({0xA1, 0})}).build(), "cycle"});
    cases.push_back({"longCycle", simple({obj({0xA1, 1}), obj({0xD1, 2, 0}), obj({0x51, 'k'})}).build(), "cycle"});
    cases.push_back({"keyNotString", simple({obj({0xD1, 1, 1}), obj({0x10, 1})}).build(), "key is not a string"});
    cases.push_back({"fourGiBData",
                     simple({obj({0x4F, 0x13, 0, 0, 0, 1, 0, 0, 0, 0, 'x'})}).build(), "past the end"});
    cases.push_back({"fourGiBArray", simple({obj({0xAF, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0})}).build(), "past the end"});
    cases.push_back({"hugeString", simple({obj({0x6F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}).build(),
                     "past the end"});
    cases.push_back({"badLengthMarker", simple({obj({0x5F, 0x22, 0, 0, 0, 0})}).build(), "length marker"});
    cases.push_back({"truncatedInteger", simple({obj({0x13, 0, 0})}).build(), "past the end"});
    cases.push_back({"integerWidth32", simple({obj({0x15, 0})}).build(), "integer width"});
    cases.push_back({"int128Overflow",
                     simple({obj({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})}).build(), "beyond 64"});
    cases.push_back({"uidTooLarge", simple({obj({0x84, 1, 0, 0, 0, 0})}).build(), "UID above"});
    cases.push_back({"uidTooWide", simple({obj({0x8F, 0})}).build(), "wider"});
    cases.push_back({"unpairedHighSurrogate", simple({obj({0x61, 0xD8, 0x00})}).build(), "surrogate"});
    cases.push_back({"loneLowSurrogate", simple({obj({0x62, 0xDC, 0x00, 0x00, 0x41})}).build(), "surrogate"});
    cases.push_back({"setType", simple({obj({0xC0})}).build(), "unsupported"});
    cases.push_back({"fillByte", simple({obj({0x0F})}).build(), "unsupported"});
    cases.push_back({"realWidth", simple({obj({0x21, 0, 0})}).build(), "unsupported"});
    std::string big = valid;
    big.resize((1 << 20) + 1);
    cases.push_back({"overSizeLimit", big, "size limit"});
    cases.push_back({"depth10000", nestedArrays(10000).build(), "nesting"});
    // One object, but 100,001 entries to hold in memory.
    BplistBuilder wide = simple({obj({0xAF, 0x12, 0x00, 0x01, 0x86, 0xA1}) + std::string(100001, '\x01'), obj({0x09})});
    wide.offsetSize = 4;
    cases.push_back({"tooManyEntries", wide.build(), "more objects"});
    return cases;
}

TEST(BinaryPlistTest, EntriesUpToTheLimitAreRead) {
    BplistBuilder b;
    b.offsetSize = 4;
    b.objects = {obj({0xAF, 0x12, 0x00, 0x01, 0x86, 0x9F}) + std::string(99999, '\x01'), obj({0x09})};
    const DecodeResult r = readBinaryPropertyList(b.build());
    ASSERT_TRUE(r.ok()) << r.error->message;
    EXPECT_EQ(r.value.array()->size(), 99999u);
}

TEST(BinaryPlistTest, MalformedInputFailsCleanly) {
    for (const MalformedCase& c : malformedCases()) {
        SCOPED_TRACE(c.name);
        const DecodeResult r = readBinaryPropertyList(c.bytes);
        ASSERT_FALSE(r.ok());
        EXPECT_NE(r.error->message.find(c.message), std::string::npos) << r.error->message;
        EXPECT_LE(r.error->offset, std::max<size_t>(c.bytes.size(), 1 << 20));
        EXPECT_TRUE(r.value.isNil());
    }
}

Value sampleValue() {
    return Value(Dictionary{
        {Value("name"), Value("kid \xC3\xA9")},
        {Value("list"), Value(Array{Value::integer(1), Value::real(2.5), Value::boolean(true), Value(Date{5.0}),
                                    Value(Data{1, 2, 3}), Value(Uid{3})})},
        {Value("nested"), Value(Dictionary{{Value("k"), Value(Array{Value("v")})}})},
    });
}

// Every prefix and every single-byte change of a valid list is read without a crash; whatever
// fails reports an offset inside the input.
TEST(BinaryPlistTest, TruncatedAndCorruptedCopiesNeverCrash) {
    const auto bytes = writeBinaryPropertyList(sampleValue());
    ASSERT_TRUE(bytes);
    size_t failures = 0;
    for (size_t n = 0; n < bytes->size(); ++n) {
        const DecodeResult r = readBinaryPropertyList(bytes->substr(0, n));
        ASSERT_FALSE(r.ok()) << "prefix of " << n << " bytes";
        ASSERT_LE(r.error->offset, bytes->size());
    }
    for (size_t i = 0; i < bytes->size(); ++i) {
        for (uint8_t x : {0x01, 0x0F, 0x80, 0xFF}) {
            std::string copy = *bytes;
            copy[i] = static_cast<char>(copy[i] ^ x);
            const DecodeResult r = readBinaryPropertyList(copy);
            if (!r.ok()) {
                ++failures;
                ASSERT_FALSE(r.error->message.empty());
                ASSERT_LE(r.error->offset, copy.size());
            }
        }
    }
    // Most corruptions are caught; some only change a value.
    EXPECT_GT(failures, bytes->size());
}

TEST(BinaryPlistTest, ReadPropertyListChoosesByLeadingBytes) {
    const auto bytes = writeBinaryPropertyList(Value(Array{Value("x")}));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(readPropertyList(*bytes).value, Value(Array{Value("x")}));
    DecodeLimits small;
    small.maxBytes = 10;
    EXPECT_FALSE(readPropertyList(*bytes, small).ok());
}

}  // namespace
}  // namespace hv
