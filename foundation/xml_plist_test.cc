#include <gtest/gtest.h>

#include <cmath>

#include "foundation/property_list.h"
#include "foundation/test_support.h"

namespace hv {
namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

TEST(XmlPlistTest, WritesAsApple) {
    const Value v(Dictionary{
        {Value("text"), Value("a < b & c > d")},
        {Value("count"), Value::integer(-12)},
        {Value("big"), Value(Integer{-1, 'Q', true})},
        {Value("ratio"), Value::real(1.5)},
        {Value("tenth"), Value::real(0.1)},
        {Value("whole"), Value::real(2.0)},
        {Value("inf"), Value::real(-INFINITY)},
        {Value("on"), Value::boolean(true)},
        {Value("off"), Value::boolean(false)},
        {Value("when"), Value(Date{700000000.9})},
        {Value("blob"), Value(Data(60, 0xFF))},
        {Value("none"), Value(Array{})},
        {Value("nothing"), Value(Dictionary{})},
        {Value("list"), Value(Array{Value("x"), Value(Array{Value::integer(1)})})},
    });
    const auto xml = writeXmlPropertyList(v);
    ASSERT_TRUE(xml);
    EXPECT_EQ(*xml, std::string(kHeader) +
                        "<dict>\n"
                        "\t<key>text</key>\n\t<string>a &lt; b &amp; c &gt; d</string>\n"
                        "\t<key>count</key>\n\t<integer>-12</integer>\n"
                        "\t<key>big</key>\n\t<integer>18446744073709551615</integer>\n"
                        "\t<key>ratio</key>\n\t<real>1.5</real>\n"
                        "\t<key>tenth</key>\n\t<real>0.10000000000000001</real>\n"
                        "\t<key>whole</key>\n\t<real>2</real>\n"
                        "\t<key>inf</key>\n\t<real>-infinity</real>\n"
                        "\t<key>on</key>\n\t<true/>\n"
                        "\t<key>off</key>\n\t<false/>\n"
                        "\t<key>when</key>\n\t<date>2023-03-08T20:26:40Z</date>\n"
                        "\t<key>blob</key>\n\t<data>\n"
                        "\t////////////////////////////////////////////////////////////////////////////\n"
                        "\t////\n"
                        "\t</data>\n"
                        "\t<key>none</key>\n\t<array/>\n"
                        "\t<key>nothing</key>\n\t<dict/>\n"
                        "\t<key>list</key>\n\t<array>\n\t\t<string>x</string>\n\t\t<array>\n"
                        "\t\t\t<integer>1</integer>\n\t\t</array>\n\t</array>\n"
                        "</dict>\n"
                        "</plist>\n");
}

// plistlib writes XML as Apple does for strings, integers, booleans, dates and containers.
TEST(XmlPlistTest, BytesMatchAnIndependentWriter) {
    const Value v(Dictionary{
        {Value("status"), Value::integer(1)},
        {Value("warnmsg"), Value("Only %d minutes <left> & counting \xC3\xA9")},
        {Value("flags"), Value(Array{Value::boolean(true), Value::boolean(false), Value(Array{})})},
        {Value("since"), Value(Date{0.0})},
        {Value("empty"), Value(Dictionary{})},
        {Value("nested"), Value(Dictionary{{Value("a"), Value::integer(-5)}})},
    });
    const auto xml = writeXmlPropertyList(v);
    ASSERT_TRUE(xml);
    const std::string script = R"(
import plistlib, sys, datetime
value = {"status": 1, "warnmsg": "Only %d minutes <left> & counting \u00e9",
         "flags": [True, False, []], "since": datetime.datetime(2001, 1, 1), "empty": {},
         "nested": {"a": -5}}
ours = open(sys.argv[1], "rb").read()
print("same" if plistlib.dumps(value, sort_keys=False) == ours else "differ")
print(plistlib.loads(ours) == value)
)";
    const auto out = testing::runPython(script, *xml);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, "same\nTrue\n");
}

struct XmlCase {
    const char* name;
    std::string text;
    Value expected;
};

class XmlReadTest : public ::testing::TestWithParam<XmlCase> {};

TEST_P(XmlReadTest, Reads) {
    const DecodeResult r = readXmlPropertyList(GetParam().text);
    ASSERT_TRUE(r.ok()) << r.error->message << " at " << r.error->offset;
    EXPECT_EQ(r.value, GetParam().expected);
    EXPECT_EQ(readPropertyList(GetParam().text).value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, XmlReadTest,
    ::testing::Values(
        XmlCase{"bare", "<string>x</string>", Value("x")},
        XmlCase{"byteOrderMark", "\xEF\xBB\xBF<plist><integer>3</integer></plist>", Value::integer(3)},
        XmlCase{"commentsAndBlanks",
                "<?xml version=\"1.0\"?>\n<!-- a -->\n<!DOCTYPE plist [ <!ENTITY x \">\"> ]>\n<plist version='1.0'>"
                "<!-- b --><array> <!-- c --> <true/> </array></plist>\n",
                Value(Array{Value::boolean(true)})},
        XmlCase{"entities", "<string>&lt;&amp;&gt;&quot;&apos;&#65;&#x263A;</string>",
                Value("<&>\"'A\xE2\x98\xBA")},
        XmlCase{"cdata", "<string>a<![CDATA[<b>&amp;]]>c</string>", Value("a<b>&amp;c")},
        XmlCase{"emptyElements", "<array><string/><dict/><array/><true></true></array>",
                Value(Array{Value(""), Value(Dictionary{}), Value(Array{}), Value::boolean(true)})},
        XmlCase{"integerForms", "<array><integer> 42 </integer><integer>-0x10</integer><integer>+7</integer>"
                                "<integer>18446744073709551615</integer><integer>-9223372036854775808</integer></array>",
                Value(Array{Value::integer(42), Value::integer(-16), Value::integer(7), Value(Integer{-1, 'Q', true}),
                            Value::integer(INT64_MIN)})},
        XmlCase{"realForms", "<array><real>1e3</real><real>-2.5</real><real>+infinity</real><real>1e999</real></array>",
                Value(Array{Value::real(1000), Value::real(-2.5), Value::real(INFINITY), Value::real(INFINITY)})},
        XmlCase{"dates", "<array><date>2001-01-01T00:00:00Z</date><date>1970-01-01T00:00:00Z</date>"
                         "<date>2024-02-29T12:00:00Z</date></array>",
                Value(Array{Value(Date{0}), Value(Date{-978307200.0}), Value(Date{730900800.0})})},
        XmlCase{"dataWithBlanks", "<data>\n\tAAEC\n\tAw==\n</data>", Value(Data{0, 1, 2, 3})},
        XmlCase{"repeatedKey", "<dict><key>k</key><integer>1</integer><key>k</key><integer>2</integer></dict>",
                Value(Dictionary{{Value("k"), Value::integer(2)}})},
        XmlCase{"uidStaysADictionary", "<dict><key>CF$UID</key><integer>4</integer></dict>",
                Value(Dictionary{{Value("CF$UID"), Value::integer(4)}})}),
    [](const ::testing::TestParamInfo<XmlCase>& info) { return std::string(info.param.name); });

TEST(XmlPlistTest, RoundTripsEveryKindItHolds) {
    const Value v(Array{Value("\xF0\x9F\x98\x80 & <>"), Value::integer(INT64_MIN), Value::real(-0.1),
                        Value::real(1e-300), Value::boolean(false), Value(Date{-5.0}), Value(Data{}),
                        Value(Data{0xDE, 0xAD, 0xBE, 0xEF, 0x00}), Value(Dictionary{{Value(""), Value(Array{})}})});
    const auto xml = writeXmlPropertyList(v);
    ASSERT_TRUE(xml);
    const DecodeResult r = readXmlPropertyList(*xml);
    ASSERT_TRUE(r.ok()) << r.error->message;
    EXPECT_EQ(r.value, v);
}

// A value that shares one array at every level is small in memory but 2^40 elements as text.
TEST(XmlPlistTest, WriterStopsAtTheElementLimit) {
    Value v = Value::integer(1);
    for (int i = 0; i < 40; ++i) v = Value(Array{v, v});
    EXPECT_FALSE(writeXmlPropertyList(v));
    Array wide(99999, Value::boolean(true));
    EXPECT_TRUE(writeXmlPropertyList(Value(wide)));
    wide.push_back(Value::boolean(true));
    EXPECT_FALSE(writeXmlPropertyList(Value(wide)));
}

TEST(XmlPlistTest, WriterRefusesWhatXmlCannotHoldAndSaysWhere) {
    Value deep = Value::integer(1);
    std::string deepest = "nesting deeper than 64 levels at ";
    for (int i = 0; i < 65; ++i) deep = Value(Array{deep});
    for (int i = 0; i < 64; ++i) deepest += "/0";
    auto in = [](const char* key, Value v) { return Value(Dictionary{{Value(key), std::move(v)}}); };
    struct Case {
        const char* name;
        Value value;
        std::string says;
    } cases[] = {
        {"nil", Value(), "nil has no property-list form at /"},
        {"uid", Value(Uid{1}), "a UID has no XML property-list form at /"},
        {"null", Value(Array{Value(Null{})}), "NSNull has no property-list form at /0"},
        {"numericKey", Value(Dictionary{{Value::integer(1), Value("x")}}), "a dictionary key is not a string at /"},
        {"notUtf8", in("k", Value("\xFF")), "the string is not valid UTF-8 at /k"},
        {"nul", in("k", Value(std::string("a\0b", 3))), "the string holds U+0000, a character XML 1.0 cannot carry at /k"},
        {"bell", in("warnmsg", Value("ring\a")), "the string holds U+0007, a character XML 1.0 cannot carry at /warnmsg"},
        {"unitSeparator", Value(Array{Value("\x1F")}), "holds U+001F, a character XML 1.0 cannot carry at /0"},
        {"fffe", in("a", Value(Array{Value::integer(1), Value("x\xEF\xBF\xBE")})), "holds U+FFFE, a character XML 1.0 cannot carry at /a/1"},
        {"ffff", in("a/b", Value("\xEF\xBF\xBF")), "holds U+FFFF, a character XML 1.0 cannot carry at /a~1b"},
        {"loneSurrogate", in("k", Value("\xED\xA0\x80")), "the string is not valid UTF-8 at /k"},
        {"controlInKey", in("a", in("b\x01", Value::integer(1))), "the key \"b<U+0001>\" holds U+0001, a character XML 1.0 cannot carry at /a"},
        {"controlInLaterKey", in("a", Value(Dictionary{{Value("x"), in("y", Value::integer(1))}, {Value("z\x02"), Value()}})),
         "the key \"z<U+0002>\" holds U+0002, a character XML 1.0 cannot carry at /a"},
        {"dateBeyond9999", in("when", Value(Date{1e300})), "the date is outside the years 0001 to 9999 that an XML date can hold at /when"},
        {"dateYearZero", in("when", Value(Date{-63114076800.0})), "outside the years 0001 to 9999 that an XML date can hold at /when"},
        {"deep", deep, deepest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string why;
        EXPECT_FALSE(writeXmlPropertyList(c.value, &why));
        EXPECT_TRUE(why.ends_with(c.says)) << why;
        EXPECT_FALSE(writeXmlPropertyList(c.value));
    }
}

// A raw carriage return would come back from any conforming reader as a line feed.
TEST(XmlPlistTest, TextKeepsEveryCharacterXmlCarries) {
    const std::string text = "a\r\nb\rc\td\ne\x7F\xC2\x85\xEF\xBF\xBD\xF4\x8F\xBF\xBF";
    const Value v(Dictionary{{Value("k\r"), Value(text)}});
    const auto xml = writeXmlPropertyList(v);
    ASSERT_TRUE(xml);
    EXPECT_NE(xml->find("<key>k&#13;</key>"), std::string::npos) << *xml;
    EXPECT_EQ(xml->find('\r'), std::string::npos);
    const DecodeResult r = readXmlPropertyList(*xml);
    ASSERT_TRUE(r.ok()) << r.error->message;
    EXPECT_EQ(r.value, v);
    const auto out = testing::runPython(R"(
import plistlib, sys
print(repr(plistlib.loads(open(sys.argv[1], "rb").read())))
)", *xml);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, "{'k\\r': 'a\\r\\nb\\rc\\td\\ne\\x7f\\x85\xEF\xBF\xBD\\U0010ffff'}\n");
}

// Whole seconds, rounded down from the time itself: adding the offset to 1970 first would round
// a time just before a second up to it.
TEST(XmlPlistTest, DatesKeepWholeSecondsRoundedDown) {
    struct Case {
        double time;
        const char* text;
    } cases[] = {
        {0.0, "2001-01-01T00:00:00Z"},       {-1e-20, "2000-12-31T23:59:59Z"}, {-1e-7, "2000-12-31T23:59:59Z"},
        {0.9999999, "2001-01-01T00:00:00Z"}, {-0.5, "2000-12-31T23:59:59Z"},   {1.5, "2001-01-01T00:00:01Z"},
        {-63113904000.0, "0001-01-01T00:00:00Z"}, {252423993599.9, "9999-12-31T23:59:59Z"},
    };
    for (const Case& c : cases) {
        const auto xml = writeXmlPropertyList(Value(Date{c.time}));
        ASSERT_TRUE(xml) << c.time;
        EXPECT_NE(xml->find(std::string("<date>") + c.text + "</date>"), std::string::npos) << c.time << *xml;
    }
}

std::string repeated(std::string_view s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

struct BadXml {
    const char* name;
    std::string text;
    const char* message;
};

TEST(XmlPlistTest, MalformedInputFailsCleanly) {
    const std::vector<BadXml> cases{
        {"empty", "", "end of input"},
        {"blank", "  \n", "end of input"},
        {"emptyPlist", "<plist/>", "empty plist"},
        {"unclosedString", "<string>abc", "unterminated <string>"},
        {"mismatchedClose", "<array></dict>", "expected </array>"},
        {"unclosedArray", "<array><true/>", "end of input"},
        {"unknownElement", "<set/>", "unknown element"},
        {"keyOutsideDict", "<key>x</key>", "unknown element"},
        {"valueWithoutKey", "<dict><string>x</string></dict>", "expected <key>"},
        {"keyWithoutValue", "<dict><key>x</key></dict>", "without a value"},
        {"integerText", "<integer>12a</integer>", "bad <integer>"},
        {"integerEmpty", "<integer></integer>", "bad <integer>"},
        {"integerOverflow", "<integer>18446744073709551616</integer>", "bad <integer>"},
        {"negativeOverflow", "<integer>-9223372036854775809</integer>", "bad <integer>"},
        {"realText", "<real>one</real>", "bad <real>"},
        {"realDoubleSign", "<real>--1</real>", "bad <real>"},
        {"dateShape", "<date>2001-01-01 00:00:00</date>", "bad <date>"},
        {"dateFebruary30", "<date>2001-02-30T00:00:00Z</date>", "bad <date>"},
        {"dataCharacter", "<data>AA*A</data>", "bad <data>"},
        {"dataAfterPadding", "<data>AA==AA</data>", "bad <data>"},
        {"unknownEntity", "<string>&nbsp;</string>", "unknown entity"},
        {"unterminatedEntity", "<string>&amp</string>", "bad entity"},
        {"nulReference", "<string>&#0;</string>", "character reference"},
        {"surrogateReference", "<string>&#xD800;</string>", "character reference"},
        {"beyondUnicode", "<string>&#x110000;</string>", "character reference"},
        {"invalidUtf8", "<string>\xC3\x28</string>", "not UTF-8"},
        {"rawNul", std::string("<string>a\0b</string>", 20), "NUL"},
        {"unterminatedComment", "<!-- forever", "unterminated"},
        {"unterminatedCdata", "<string><![CDATA[x</string>", "CDATA"},
        {"unterminatedTag", "<array", "unterminated tag"},
        {"trailingContent", "<true/><true/>", "after the property list"},
        {"plistWithTwoValues", "<plist><true/><true/></plist>", "expected </plist>"},
        {"depth10000", repeated("<array>", 10000), "nesting"},
        {"depth65", repeated("<array>", 65) + repeated("</array>", 65), "nesting"},
        {"tooManyObjects", "<array>" + repeated("<true/>", 100001) + "</array>", "more objects"},
        {"overSizeLimit", "<string>" + std::string(1 << 20, 'x') + "</string>", "size limit"},
    };
    for (const BadXml& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeResult r = readXmlPropertyList(c.text);
        ASSERT_FALSE(r.ok());
        EXPECT_NE(r.error->message.find(c.message), std::string::npos) << r.error->message;
        EXPECT_LE(r.error->offset, std::max<size_t>(c.text.size(), 1 << 20));
    }
    EXPECT_TRUE(readXmlPropertyList(repeated("<array>", 64) + repeated("</array>", 64)).ok());
}

TEST(XmlPlistTest, TruncatedCopiesNeverCrash) {
    const auto xml = writeXmlPropertyList(Value(Dictionary{
        {Value("a"), Value(Array{Value("x &amp; y"), Value::integer(5), Value::real(0.5), Value(Data{1, 2, 3})})},
        {Value("d"), Value(Date{1.0})}}));
    ASSERT_TRUE(xml);
    for (size_t n = 0; n + 1 < xml->size(); ++n) {
        const DecodeResult r = readXmlPropertyList(xml->substr(0, n));
        // Only the final newline may go.
        if (n + 1 < xml->size() - 1) {
            ASSERT_FALSE(r.ok()) << "prefix of " << n << " bytes";
            ASSERT_LE(r.error->offset, n);
        }
    }
}

}  // namespace
}  // namespace hv
