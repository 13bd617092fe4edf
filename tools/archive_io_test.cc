#include "tools/archive_io.h"

#include <gtest/gtest.h>

#include <vector>

#include <fstream>
#include <sstream>

#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "foundation/typedstream.h"
#include "platform/linux/test_dir.h"

namespace hv {
namespace {

class ArchiveIoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerTableElement(); }

    std::string write(const std::string& name, const std::string& bytes) {
        std::string path = dir_.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    TestDir dir_;
};

Value sampleList() {
    auto e = std::make_shared<TableElement>();
    e->setUser(Value("kid"));
    e->setHomePath(Value("/home/kid/.horavel"));
    e->setRanges(1);
    e->setSaturday(Value::integer(120));
    return Value(Array{Value(std::shared_ptr<Object>(e)), Value("tail"), Value::real(1.5)});
}

TEST_F(ArchiveIoTest, EachFormatIsRecognisedByItsBytes) {
    Value settings(Dictionary{{Value("status"), Value::integer(1)}, {Value("warnmsg"), Value("%m left")}});
    struct Case {
        std::optional<std::string> bytes;
        ArchiveFormat format;
        Value expected;
    } cases[] = {
        {keyedArchive(sampleList()), ArchiveFormat::KeyedArchive, sampleList()},
        {typedstreamArchive(sampleList()), ArchiveFormat::Typedstream, sampleList()},
        {writeXmlPropertyList(settings), ArchiveFormat::PropertyList, settings},
        {writeBinaryPropertyList(settings), ArchiveFormat::PropertyList, settings},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.bytes);
        AnyDecodeResult r = decodeAny(*c.bytes);
        ASSERT_FALSE(r.error) << formatName(c.format) << ": " << r.error->message;
        EXPECT_EQ(r.format, c.format);
        // Records compare by identity, so compare what they print.
        std::ostringstream got, want, err;
        ASSERT_EQ(runDecode(write("in", *c.bytes), got, err), 0) << err.str();
        auto again = encodeAs(c.expected, ArchiveFormat::KeyedArchive);
        ASSERT_TRUE(again);
        ASSERT_EQ(runDecode(write("want", *again), want, err), 0) << err.str();
        EXPECT_EQ(got.str(), want.str());
    }
}

TEST_F(ArchiveIoTest, DecodeThenEncodeGivesTheSameArchiveBack) {
    for (ArchiveFormat format : {ArchiveFormat::KeyedArchive, ArchiveFormat::Typedstream}) {
        auto original = encodeAs(sampleList(), format);
        ASSERT_TRUE(original);
        std::ostringstream json, encoded, decodedAgain, err;
        ASSERT_EQ(runDecode(write("a", *original), json, err), 0) << err.str();
        ASSERT_EQ(runEncode(format, write("a.json", json.str()), encoded, err), 0) << err.str();
        AnyDecodeResult r = decodeAny(encoded.str());
        ASSERT_FALSE(r.error);
        EXPECT_EQ(r.format, format);
        ASSERT_EQ(runDecode(write("b", encoded.str()), decodedAgain, err), 0);
        EXPECT_EQ(decodedAgain.str(), json.str());
    }
    std::ostringstream json, xml, err;
    ASSERT_EQ(runEncode(ArchiveFormat::PropertyList, write("s.json", R"({"status": 1, "warntime": 5})"), xml, err), 0);
    DecodeResult plist = readXmlPropertyList(xml.str());
    ASSERT_TRUE(plist.ok());
    EXPECT_EQ(plist.value["warntime"].intValue(), 5);
}

TEST_F(ArchiveIoTest, BadInputExitsTwoWithOneLineAndNothingOnStdout) {
    auto keyed = keyedArchive(sampleList());
    ASSERT_TRUE(keyed);
    struct Case {
        std::string bytes;
        const char* says;
    } cases[] = {
        {"", "empty input"},
        {std::string("\x04\x0bstreamtyped\x81\xe8\x03\x84", 17), "not a valid typedstream"},
        {keyed->substr(0, keyed->size() - 5), "not a valid property list"},
        {*writeBinaryPropertyList(Value(Dictionary{{Value("$archiver"), Value("NSKeyedArchiver")},
                                                   {Value("$version"), Value::integer(5)},
                                                   {Value("$top"), Value(Dictionary{{Value("root"), Value(Uid{1})}})},
                                                   {Value("$objects"), Value(Array{Value("$null")})}})),
         "not a valid keyed archive"},
        {"<?xml version=\"1.0\"?><plist><dict><key>a</key></plist>", "not a valid property list"},
        {"hello", "byte offset"},
    };
    for (const Case& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(runDecode(write("bad", c.bytes), out, err), 2) << c.says;
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        EXPECT_NE(err.str().find("byte offset"), std::string::npos) << err.str();
        std::string message = err.str();
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    }

    std::ostringstream out, err;
    EXPECT_EQ(runEncode(ArchiveFormat::KeyedArchive, write("bad.json", "[1, }"), out, err), 2);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("byte offset 4"), std::string::npos) << err.str();

    // Every format refuses the same bad JSON with the same line; the XML form also refuses what
    // XML 1.0 cannot carry, naming where.
    struct EncodeCase {
        const char* json;
        std::vector<ArchiveFormat> formats;
        const char* says;
    } encodeCases[] = {
        {"[1e400]", {ArchiveFormat::KeyedArchive, ArchiveFormat::Typedstream, ArchiveFormat::PropertyList},
         "horavelctl encode: number 1e400 is too large for a real at /0\n"},
        {R"({"a": 1e-400})", {ArchiveFormat::KeyedArchive, ArchiveFormat::Typedstream, ArchiveFormat::PropertyList},
         "horavelctl encode: number 1e-400 is too small for a real (it would read as 0) at /a\n"},
        {R"({"$date": "0000-01-01T00:00:00Z"})",
         {ArchiveFormat::KeyedArchive, ArchiveFormat::Typedstream, ArchiveFormat::PropertyList},
         "\"$date\" is out of range"},
        {R"({"warnmsg": "beep\u0007"})", {ArchiveFormat::PropertyList},
         "horavelctl encode: cannot write a property list: the string holds U+0007, a character XML 1.0 cannot "
         "carry at /warnmsg\n"},
        {R"({"a": [1, "\uffff"]})", {ArchiveFormat::PropertyList}, "holds U+FFFF, a character XML 1.0 cannot carry at /a/1"},
        {R"({"a": {"x": "\ufffe"}})", {ArchiveFormat::PropertyList}, "holds U+FFFE, a character XML 1.0 cannot carry at /a/x"},
        {R"({"k\u001b": 1})", {ArchiveFormat::PropertyList}, "the key \"k<U+001B>\" holds U+001B"},
        {"[null]", {ArchiveFormat::PropertyList}, "nil has no property-list form at /0"},
    };
    for (const EncodeCase& c : encodeCases) {
        for (ArchiveFormat format : c.formats) {
            std::ostringstream out2, err2;
            EXPECT_EQ(runEncode(format, write("bad.json", c.json), out2, err2), 2) << c.json;
            EXPECT_EQ(out2.str(), "");
            EXPECT_NE(err2.str().find(c.says), std::string::npos) << c.json << " -> " << err2.str();
            std::string message = err2.str();
            EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        }
    }
    // What XML 1.0 does carry is written, and a carriage return as a reference.
    std::ostringstream xml, err4;
    ASSERT_EQ(runEncode(ArchiveFormat::PropertyList, write("ok.json", R"({"m": "a\r\nb\tc\u007f\ud83d\ude00"})"), xml, err4), 0)
        << err4.str();
    EXPECT_NE(xml.str().find("<string>a&#13;\nb\tc\x7f\xf0\x9f\x98\x80</string>"), std::string::npos) << xml.str();

    std::ostringstream out3, err3;
    EXPECT_EQ(runDecode(dir_.file("missing"), out3, err3), 2);
    EXPECT_NE(err3.str().find("No such file"), std::string::npos);
}

}  // namespace
}  // namespace hv
