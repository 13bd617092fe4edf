#include "common/table_element.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/keyed_archive.h"
#include "foundation/typedstream.h"

namespace hv {
namespace {

// Coder and Decoder over a plain list of values: the record's positional form without any archive
// format in between.
class ListCoder : public Coder {
  public:
    void encodeObject(const Value& value) override { values.push_back(value); }
    std::vector<Value> values;
};

class ListDecoder : public Decoder {
  public:
    explicit ListDecoder(std::vector<Value> v) : values(std::move(v)) {}
    Value decodeObject() override { return next < values.size() ? values[next++] : Value(); }
    std::vector<Value> values;
    size_t next = 0;
};

constexpr size_t kUser = 0, kMode = 1, kRange = 2, kMon = 3, kSun = 9, kUsage = 10, kDisk = 11,
                 kQuota = 12, kScript = 13, kNrange = 14, kManset = 15, kDate = 16, kPath = 17;

Date someDate() { return Date{700000000.5, true, "Europe/Berlin", "%Y-%m-%d %H:%M:%S %z"}; }

// Every position holding a value distinct from the others, so a swapped pair shows.
std::vector<Value> fullValues() {
    std::vector<Value> v(18);
    v[kUser] = "kid";
    v[kMode] = "App";
    v[kRange] = Value::integer(2, 'i');
    for (size_t i = kMon; i <= kSun; ++i) v[i] = Value::integer(static_cast<int64_t>(10 * i), 'i');
    v[kUsage] = Value::integer(42, 'q');
    v[kDisk] = Value::real(1.5);
    v[kQuota] = Value::integer(9000000000, 'q');
    v[kScript] = "echo over";
    v[kNrange] = Value::integer(1, 'i');
    v[kManset] = Value::boolean(true);
    v[kDate] = someDate();
    v[kPath] = "/home/kid/.horavel";
    return v;
}

TEST(TableElement, NewRecordHasTheInitialValues) {
    TableElement e;
    EXPECT_EQ(e.mmode(), Value("Limit"));
    EXPECT_EQ(e.ranges(), 0);
    EXPECT_EQ(e.netranges(), 0);
    EXPECT_EQ(e.manset(), 0);
    for (int d = 0; d < 7; ++d) {
        ASSERT_NE(e.day(d).integerValue(), nullptr) << d;
        EXPECT_EQ(e.day(d).integerValue()->value, 0) << d;
    }
    ASSERT_NE(e.usage().integerValue(), nullptr);
    EXPECT_EQ(e.usage().intValue(), 0);
    ASSERT_NE(e.disk().integerValue(), nullptr);
    EXPECT_TRUE(e.user().isNil());
    EXPECT_TRUE(e.path().isNil());
    EXPECT_TRUE(e.quota().isNil());
    EXPECT_TRUE(e.script().isNil());
    EXPECT_TRUE(e.date().isNil());
}

TEST(TableElement, WeekdayAccessorsMapToDayOfWeek) {
    TableElement e;
    e.setSunday(Value::integer(100));
    e.setMonday(Value::integer(101));
    e.setTuesday(Value::integer(102));
    e.setWednesday(Value::integer(103));
    e.setThursday(Value::integer(104));
    e.setFriday(Value::integer(105));
    e.setSaturday(Value::integer(106));
    for (int d = 0; d < 7; ++d) EXPECT_EQ(e.day(d).intValue(), 100 + d) << d;
}

TEST(TableElement, EncodesEighteenValuesInArchiveOrder) {
    TableElement e;
    e.setUser("kid");
    e.setHomePath("/home/kid/.horavel");
    e.setMmode("Limit");
    e.setRanges(2);
    e.setMonday(Value::integer(1));
    e.setTuesday(Value::integer(2));
    e.setWednesday(Value::integer(3));
    e.setThursday(Value::integer(4));
    e.setFriday(Value::integer(5));
    e.setSaturday(Value::integer(6));
    e.setSunday(Value::integer(7));
    e.setUsage(Value::integer(30));
    e.setDisk(Value::integer(8));
    e.setQuota(Value::integer(1000));
    e.setScript("echo hi");
    e.setNetRanges(3);
    e.setManset(7);
    e.setDate(someDate());

    ListCoder coder;
    e.encodeWithCoder(coder);
    const std::vector<Value> want = {"kid",
                                     "Limit",
                                     Value::integer(2),
                                     Value::integer(1),
                                     Value::integer(2),
                                     Value::integer(3),
                                     Value::integer(4),
                                     Value::integer(5),
                                     Value::integer(6),
                                     Value::integer(7),
                                     Value::integer(30),
                                     Value::integer(8),
                                     Value::integer(1000),
                                     "echo hi",
                                     Value::integer(3),
                                     Value::boolean(true),
                                     someDate(),
                                     "/home/kid/.horavel"};
    ASSERT_EQ(coder.values.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(coder.values[i], want[i]) << "position " << i;
    // manset goes out as a boolean number, range and nrange as 32-bit integer numbers.
    EXPECT_NE(coder.values[kManset].booleanValue(), nullptr);
    EXPECT_EQ(coder.values[kRange].integerValue()->encoding, 'i');
    EXPECT_EQ(coder.values[kNrange].integerValue()->encoding, 'i');
}

TEST(TableElement, DecodedRecordKeepsEveryValueAndReencodesIdentically) {
    ListDecoder decoder(fullValues());
    auto e = TableElement::initWithCoder(decoder);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(decoder.next, 18u);
    EXPECT_EQ(e->user(), Value("kid"));
    EXPECT_EQ(e->mmode(), Value("App"));
    EXPECT_EQ(e->ranges(), 2);
    EXPECT_EQ(e->monday().intValue(), 30);
    EXPECT_EQ(e->sunday().intValue(), 90);
    EXPECT_EQ(e->usage().integerValue()->encoding, 'q');
    EXPECT_EQ(e->disk(), Value::real(1.5));
    EXPECT_EQ(e->quota().longLongValue(), 9000000000);
    EXPECT_EQ(e->script(), Value("echo over"));
    EXPECT_EQ(e->netranges(), 1);
    EXPECT_EQ(e->manset(), 1);
    EXPECT_EQ(e->date(), Value(someDate()));
    EXPECT_EQ(e->path(), Value("/home/kid/.horavel"));

    ListCoder coder;
    e->encodeWithCoder(coder);
    EXPECT_EQ(coder.values, fullValues());
}

TEST(TableElement, AbsentValuesStayAbsentAndCountAsZero) {
    ListDecoder decoder(std::vector<Value>(18));
    auto e = TableElement::initWithCoder(decoder);
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->mmode().isNil()) << "an absent mode must not become \"Limit\"";
    EXPECT_EQ(e->ranges(), 0);
    EXPECT_EQ(e->netranges(), 0);
    EXPECT_TRUE(e->user().isNil());
    EXPECT_TRUE(e->usage().isNil());
    EXPECT_TRUE(e->quota().isNil());
    EXPECT_TRUE(e->date().isNil());
    EXPECT_EQ(e->manset(), 0);
    for (int d = 0; d < 7; ++d) EXPECT_TRUE(e->day(d).isNil()) << d;

    ListCoder coder;
    e->encodeWithCoder(coder);
    ASSERT_EQ(coder.values.size(), 18u);
    for (size_t i = 0; i < 18; ++i) {
        if (i == kRange || i == kNrange) {
            EXPECT_EQ(coder.values[i], Value::integer(0)) << i;
        } else if (i == kManset) {
            EXPECT_EQ(coder.values[i], Value::boolean(false));
        } else {
            EXPECT_TRUE(coder.values[i].isNil()) << "position " << i;
        }
    }
}

TEST(TableElement, ShortArchiveLeavesTheRestAbsent) {
    ListDecoder decoder({"kid", "Limit", Value::integer(1)});
    auto e = TableElement::initWithCoder(decoder);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->user(), Value("kid"));
    EXPECT_EQ(e->ranges(), 1);
    EXPECT_TRUE(e->path().isNil());
    EXPECT_TRUE(e->usage().isNil());
}

struct NumberForm {
    const char* name;
    Value in;
    int32_t asInt;
    bool asBool;
};

TEST(TableElement, RangesComeBackAsIntegersAndMansetAsBooleanWhateverTheForm) {
    const NumberForm forms[] = {
        {"integer", Value::integer(3, 'q'), 3, true},
        {"char", Value::integer(1, 'c'), 1, true},
        {"real", Value::real(2.9), 2, true},
        {"negative real", Value::real(-2.9), -2, true},
        {"boolean yes", Value::boolean(true), 1, true},
        {"boolean no", Value::boolean(false), 0, false},
        {"string", Value(" +4 ranges"), 4, true},
        {"string zero", Value("0"), 0, false},
        {"non-numeric string", Value("many"), 0, false},
        {"zero", Value::integer(0), 0, false},
        {"absent", Value(), 0, false},
    };
    for (const auto& f : forms) {
        std::vector<Value> v = fullValues();
        v[kRange] = f.in;
        v[kNrange] = f.in;
        v[kManset] = f.in;
        ListDecoder decoder(v);
        auto e = TableElement::initWithCoder(decoder);
        ASSERT_NE(e, nullptr) << f.name;
        EXPECT_EQ(e->ranges(), f.asInt) << f.name;
        EXPECT_EQ(e->netranges(), f.asInt) << f.name;
        EXPECT_EQ(e->manset(), f.asBool ? 1 : 0) << f.name;

        ListCoder coder;
        e->encodeWithCoder(coder);
        ASSERT_NE(coder.values[kRange].integerValue(), nullptr) << f.name;
        EXPECT_EQ(coder.values[kRange].integerValue()->value, f.asInt) << f.name;
        ASSERT_NE(coder.values[kNrange].integerValue(), nullptr) << f.name;
        ASSERT_NE(coder.values[kManset].booleanValue(), nullptr) << f.name;
        EXPECT_EQ(coder.values[kManset].booleanValue()->value, f.asBool) << f.name;
    }
}

TEST(TableElement, StringWhereANumberBelongsIsKeptAndReadsAsItsLeadingInteger) {
    std::vector<Value> v = fullValues();
    v[kMon] = "45 minutes";
    v[kUsage] = "junk";
    v[kQuota] = "12345678901";
    ListDecoder decoder(v);
    auto e = TableElement::initWithCoder(decoder);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->monday(), Value("45 minutes"));
    EXPECT_EQ(e->monday().intValue(), 45);
    EXPECT_EQ(e->usage().intValue(), 0);
    EXPECT_EQ(e->quota().longLongValue(), 12345678901);
}

struct WrongKind {
    const char* name;
    size_t position;
    Value value;
};

TEST(TableElement, RecordWithAValueOfAnUnusableKindIsRefused) {
    auto nested = std::make_shared<TableElement>();
    const WrongKind cases[] = {
        {"number as user", kUser, Value::integer(5)},
        {"array as mode", kMode, Value(Array{"Limit"})},
        {"number as script", kScript, Value::integer(1)},
        {"dictionary as path", kPath, Value(Dictionary{})},
        {"string as date", kDate, Value("2026-12-07")},
        {"number as date", kDate, Value::real(7e8)},
        {"array as range", kRange, Value(Array{Value::integer(1)})},
        {"date as weekday", kMon, Value(someDate())},
        {"null as usage", kUsage, Value(Null{})},
        {"data as quota", kQuota, Value(Data{1, 2})},
        {"record as disk", kDisk, Value(std::shared_ptr<Object>(nested))},
        {"dictionary as nrange", kNrange, Value(Dictionary{})},
        {"array as manset", kManset, Value(Array{})},
        {"record as sunday", kSun, Value(std::shared_ptr<Object>(nested))},
    };
    for (const auto& c : cases) {
        std::vector<Value> v = fullValues();
        v[c.position] = c.value;
        v.push_back("next object");
        ListDecoder decoder(v);
        EXPECT_EQ(TableElement::initWithCoder(decoder), nullptr) << c.name;
        EXPECT_EQ(decoder.next, 18u) << c.name << ": all 18 values are consumed";
    }
}

TEST(TableElement, RegistersItsCodingUnderItsClassName) {
    registerTableElement();
    const ClassCoding* coding = ClassRegistry::find("TableElement");
    ASSERT_NE(coding, nullptr);
    EXPECT_EQ(coding->classChain, (std::vector<std::string>{"TableElement", "NSObject"}));
    EXPECT_EQ(coding->version, 0);

    ListDecoder decoder(fullValues());
    std::shared_ptr<Object> object = coding->decode(decoder);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->className(), "TableElement");
    ListCoder coder;
    coding->encode(*object, coder);
    EXPECT_EQ(coder.values, fullValues());

    std::vector<Value> bad = fullValues();
    bad[kUser] = Value::integer(1);
    ListDecoder badDecoder(bad);
    EXPECT_EQ(coding->decode(badDecoder), nullptr);
}

class OtherObject : public Object {
  public:
    std::string_view className() const override { return "Other"; }
};

TEST(TableElement, RecordAtGivesOnlyRecords) {
    auto record = std::make_shared<TableElement>();
    const Array list = {Value(std::shared_ptr<Object>(record)), Value("text"), Value(),
                        Value(std::shared_ptr<Object>(std::make_shared<OtherObject>()))};
    EXPECT_EQ(recordAt(list, 0), record);
    EXPECT_EQ(recordAt(list, 1), nullptr);
    EXPECT_EQ(recordAt(list, 2), nullptr);
    EXPECT_EQ(recordAt(list, 3), nullptr);
    EXPECT_EQ(recordAt(list, 4), nullptr);
    EXPECT_EQ(recordAt(list, static_cast<size_t>(-1)), nullptr);
}

}  // namespace
}  // namespace hv

namespace hv {
namespace {

// The 18 values as the record archives them.
std::vector<Value> archived(const TableElement& e) {
    ListCoder coder;
    e.encodeWithCoder(coder);
    return coder.values;
}

Array samplePolicy() {
    ListDecoder full(fullValues());
    auto limit = TableElement::initWithCoder(full);
    limit->setMmode("Limit");

    auto rangeStart = std::make_shared<TableElement>();  // defaults: integers, no strings
    ListDecoder absent(std::vector<Value>(18));
    auto bare = TableElement::initWithCoder(absent);  // every value absent, mode included
    auto app = std::make_shared<TableElement>();
    app->setUser("Safari.app");
    app->setMmode("App");
    app->setMonday(Value::real(30.0));
    app->setManset(1);
    app->setDate(Value(Date{1.0, false, std::nullopt, std::nullopt}));
    return {Value(std::shared_ptr<Object>(limit)), Value(std::shared_ptr<Object>(rangeStart)),
            Value(std::shared_ptr<Object>(bare)), Value(std::shared_ptr<Object>(app))};
}

void expectSameRecords(const Value& decoded, const Array& original) {
    ASSERT_NE(decoded.array(), nullptr);
    ASSERT_EQ(decoded.array()->size(), original.size());
    for (size_t i = 0; i < original.size(); ++i) {
        auto got = recordAt(*decoded.array(), i);
        ASSERT_NE(got, nullptr) << i;
        EXPECT_EQ(archived(*got), archived(*recordAt(original, i))) << "record " << i;
    }
}

class TableElementArchive : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { registerTableElement(); }
};

TEST_F(TableElementArchive, PolicyListRoundTripsThroughTheTypedstream) {
    const Array policy = samplePolicy();
    const auto stream = typedstreamArchive(Value(policy));
    ASSERT_TRUE(stream.has_value());
    const DecodeResult r = typedstreamUnarchive(*stream);
    ASSERT_TRUE(r.ok()) << r.error->message;
    expectSameRecords(r.value, policy);
    EXPECT_TRUE(recordAt(*r.value.array(), 2)->mmode().isNil());
    // Numbers keep their type through the stream.
    EXPECT_EQ(recordAt(*r.value.array(), 0)->quota().integerValue()->encoding, 'q');
    EXPECT_EQ(recordAt(*r.value.array(), 3)->monday(), Value::real(30.0));
}

TEST_F(TableElementArchive, PolicyListRoundTripsThroughTheKeyedArchive) {
    const Array policy = samplePolicy();
    const auto file = keyedArchive(Value(policy));
    ASSERT_TRUE(file.has_value());
    const DecodeResult r = keyedUnarchive(*file);
    ASSERT_TRUE(r.ok()) << r.error->message;
    expectSameRecords(r.value, policy);
    EXPECT_TRUE(recordAt(*r.value.array(), 2)->path().isNil());
}

// Writes any 18 values in the record's positional form, under a class name as long as
// "TableElement" so that the stream can be renamed to it byte for byte.
class RawRecord : public Object {
  public:
    std::string_view className() const override { return "RawRecord123"; }
    std::vector<Value> values;
};

std::string recordStream(std::vector<Value> values) {
    static const bool registered = [] {
        ClassCoding coding;
        coding.classChain = {"RawRecord123", "NSObject"};
        coding.encode = [](const Object& o, Coder& c) {
            for (const Value& v : static_cast<const RawRecord&>(o).values) c.encodeObject(v);
        };
        coding.decode = [](Decoder&) -> std::shared_ptr<Object> { return nullptr; };
        ClassRegistry::add(coding);
        return true;
    }();
    EXPECT_TRUE(registered);
    auto raw = std::make_shared<RawRecord>();
    raw->values = std::move(values);
    std::string stream = *typedstreamArchive(Value(Array{Value(std::shared_ptr<Object>(raw))}));
    const size_t at = stream.find("RawRecord123");
    stream.replace(at, 12, "TableElement");
    return stream;
}

TEST_F(TableElementArchive, InstallInputInAnyNumberFormComesOutAsIntegersAndBoolean) {
    struct Form {
        const char* name;
        Value range, manset;
        int32_t ranges;
        bool mansetOn;
    };
    const Form forms[] = {
        {"real", Value::real(3.0, 'f'), Value::real(0.5), 3, true},
        {"boolean", Value::boolean(true), Value::boolean(false), 1, false},
        {"string", Value("2"), Value("YES"), 2, true},
        {"char", Value::integer(4, 'c'), Value::integer(0, 'c'), 4, false},
        {"long long", Value::integer(5, 'q'), Value::integer(7, 'q'), 5, true},
    };
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        std::vector<Value> v = fullValues();
        v[kRange] = f.range;
        v[kNrange] = f.range;
        v[kManset] = f.manset;
        const DecodeResult in = typedstreamUnarchive(recordStream(v));
        ASSERT_TRUE(in.ok()) << in.error->message;
        auto e = recordAt(*in.value.array(), 0);
        ASSERT_NE(e, nullptr);

        // What horavelset then writes as the policy file.
        const DecodeResult out = keyedUnarchive(*keyedArchive(in.value));
        ASSERT_TRUE(out.ok()) << out.error->message;
        const std::vector<Value> written = archived(*recordAt(*out.value.array(), 0));
        EXPECT_EQ(written[kRange], Value::integer(f.ranges));
        EXPECT_EQ(written[kNrange], Value::integer(f.ranges));
        EXPECT_EQ(written[kManset], Value::boolean(f.mansetOn));
        EXPECT_EQ(written[kUser], Value("kid"));
        EXPECT_EQ(written[kPath], Value("/home/kid/.horavel"));
    }
}

TEST_F(TableElementArchive, RecordOfUnusableKindsFailsTheWholeDecode) {
    std::vector<Value> v = fullValues();
    v[kScript] = Value(Array{"rm", "-rf"});
    const DecodeResult r = typedstreamUnarchive(recordStream(v));
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error->message.find("TableElement"), std::string::npos) << r.error->message;

    v = fullValues();
    v[kUser] = Value::integer(501);
    const auto file = keyedArchive(Value(Array{Value(std::shared_ptr<Object>([&] {
        auto raw = std::make_shared<RawRecord>();
        raw->values = v;
        return raw;
    }()))}));
    ASSERT_TRUE(file.has_value());
    std::string renamed = *file;
    renamed.replace(renamed.find("RawRecord123"), 12, "TableElement");
    EXPECT_FALSE(keyedUnarchive(renamed).ok());
}

}  // namespace
}  // namespace hv
