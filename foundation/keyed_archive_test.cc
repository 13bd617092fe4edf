#include "foundation/keyed_archive.h"

#include <gtest/gtest.h>

#include "foundation/coder.h"
#include "foundation/property_list.h"
#include "foundation/test_support.h"

namespace hv {
namespace {

// A record of a fixed number of positional values, registered under the given class name.
template <size_t N>
struct Record : Object {
    explicit Record(std::string name) : name(std::move(name)) {}
    std::string name;
    Value fields[N];
    std::string_view className() const override { return name; }

    static void registerAs(const std::string& name) {
        ClassRegistry::add(ClassCoding{
            {name, "NSObject"},
            0,
            [](const Object& o, Coder& c) {
                for (const Value& v : static_cast<const Record&>(o).fields) c.encodeObject(v);
            },
            [name](Decoder& d) -> std::shared_ptr<Object> {
                auto r = std::make_shared<Record>(name);
                for (Value& v : r->fields) v = d.decodeObject();
                // A record refuses a number as its first value, as real classes check kinds.
                if (r->fields[0].isNumber()) return nullptr;
                return r;
            }});
    }
};
using TableRecord = Record<7>;
using Pair = Record<2>;

class KeyedArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TableRecord::registerAs("TableElement");
        Pair::registerAs("Pair");
    }
};

std::shared_ptr<TableRecord> workedExampleRecord() {
    auto r = std::make_shared<TableRecord>("TableElement");
    const Value abc("abc");
    r->fields[0] = abc;
    r->fields[1] = Value::integer(42);
    r->fields[3] = Value::boolean(true);
    r->fields[4] = Value::real(1.5);
    r->fields[5] = Value(Date{700000000.5, true, "Europe/Berlin", "%Y-%m-%d %H:%M:%S %z"});
    r->fields[6] = abc;
    return r;
}

// Prints an archive's top level and $objects one per line, as an independent reader sees it.
const char* kDumpScript = R"(
import plistlib, sys
d = plistlib.load(open(sys.argv[1], "rb"))
def show(v):
    if isinstance(v, plistlib.UID): return "UID %d" % v.data
    if isinstance(v, dict): return "{" + ", ".join("%s: %s" % (k, show(x)) for k, x in v.items()) + "}"
    if isinstance(v, list): return "[" + ", ".join(show(x) for x in v) + "]"
    return repr(v)
print(d["$archiver"], d["$version"], show(d["$top"]))
for i, o in enumerate(d["$objects"]): print(i, show(o))
again = plistlib.dumps(d, fmt=plistlib.FMT_BINARY, sort_keys=False)
print("bytes match" if again == open(sys.argv[1], "rb").read() else "bytes differ")
)";

TEST_F(KeyedArchiveTest, WorkedExampleHasApplesLayout) {
    const Value root(Array{Value(std::shared_ptr<Object>(workedExampleRecord()))});
    const auto bytes = keyedArchive(root);
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(bytes->starts_with("bplist00"));
    const auto dump = testing::runPython(kDumpScript, *bytes);
    ASSERT_TRUE(dump);
    EXPECT_EQ(*dump,
              "NSKeyedArchiver 100000 {root: UID 1}\n"
              "0 '$null'\n"
              "1 {NS.objects: [UID 2], $class: UID 14}\n"
              "2 {$0: UID 3, $1: UID 4, $2: UID 0, $3: UID 5, $4: UID 6, $5: UID 7, $6: UID 3, $class: UID 13}\n"
              "3 'abc'\n"
              "4 42\n"
              "5 True\n"
              "6 1.5\n"
              "7 {NS.time: 700000000.5, NS.timezone: UID 8, NS.format: UID 11, $class: UID 12}\n"
              "8 {NS.name: UID 9, NS.data: UID 0, $class: UID 10}\n"
              "9 'Europe/Berlin'\n"
              "10 {$classname: 'NSTimeZone', $classes: ['NSTimeZone', 'NSObject']}\n"
              "11 '%Y-%m-%d %H:%M:%S %z'\n"
              "12 {$classname: 'NSCalendarDate', $classes: ['NSCalendarDate', 'NSDate', 'NSObject']}\n"
              "13 {$classname: 'TableElement', $classes: ['TableElement', 'NSObject']}\n"
              "14 {$classname: 'NSMutableArray', $classes: ['NSMutableArray', 'NSArray', 'NSObject']}\n"
              "bytes match\n");
}

TEST_F(KeyedArchiveTest, WorkedExampleReadsBack) {
    const auto bytes = keyedArchive(Value(Array{Value(std::shared_ptr<Object>(workedExampleRecord()))}));
    ASSERT_TRUE(bytes);
    const DecodeResult r = keyedUnarchive(*bytes);
    ASSERT_TRUE(r.ok()) << r.error->message;
    ASSERT_EQ(r.value.array()->size(), 1u);
    const auto* object = (*r.value.array())[0].object();
    ASSERT_NE(object, nullptr);
    const auto& record = static_cast<const TableRecord&>(**object);
    const TableRecord expected = *workedExampleRecord();
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(record.fields[i], expected.fields[i]) << "field " << i;
    EXPECT_EQ(record.fields[1].integerValue()->value, 42);
    EXPECT_TRUE(record.fields[2].isNil());
}

TEST_F(KeyedArchiveTest, PlainValuesRoundTrip) {
    const Value shared(Array{Value("s")});
    const Value root(Dictionary{
        {Value("text"), Value("h\xC3\xA9llo")},
        {Value("numbers"), Value(Array{Value::integer(-3), Value::integer(5000000000LL), Value::real(0.5, 'f'),
                                       Value::boolean(false), Value(Integer{-1, 'Q', true})})},
        {Value("data"), Value(Data{9, 8, 7})},
        {Value("date"), Value(Date{12.5})},
        {Value("calendar"), Value(Date{99.0, true, std::nullopt, std::nullopt})},
        {Value("null"), Value(Null{})},
        {Value("empty"), Value(Dictionary{})},
        {Value("a"), shared},
        {Value("b"), shared},
        {Value::integer(7), Value("a number as key")},
    });
    const auto bytes = keyedArchive(root);
    ASSERT_TRUE(bytes);
    const DecodeResult r = keyedUnarchive(*bytes);
    ASSERT_TRUE(r.ok()) << r.error->message;
    EXPECT_EQ(r.value, root);
    // One instance archived once stays one instance.
    EXPECT_EQ(r.value["a"].identity(), r.value["b"].identity());
    EXPECT_EQ(r.value["numbers"].array()->at(2).realValue()->encoding, 'f');
}

TEST_F(KeyedArchiveTest, NilRootAndUnarchivableValues) {
    const auto nilRoot = keyedArchive(Value());
    ASSERT_TRUE(nilRoot);
    const DecodeResult r = keyedUnarchive(*nilRoot);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.value.isNil());

    struct Unregistered : Object {
        std::string_view className() const override { return "Unregistered"; }
    };
    EXPECT_FALSE(keyedArchive(Value(Array{Value(std::make_shared<Unregistered>())})));
    EXPECT_FALSE(keyedArchive(Value(Array{Value(Uid{1})})));
}

// Each object numbers its key-less values from $0; the outer count resumes after a nested one.
TEST_F(KeyedArchiveTest, GenericKeysCountPerObject) {
    auto inner = std::make_shared<Pair>("Pair");
    inner->fields[0] = Value("inner0");
    inner->fields[1] = Value("inner1");
    auto outer = std::make_shared<Pair>("Pair");
    outer->fields[0] = Value(std::shared_ptr<Object>(inner));
    outer->fields[1] = Value("outer1");
    const auto bytes = keyedArchive(Value(std::shared_ptr<Object>(outer)));
    ASSERT_TRUE(bytes);
    const auto dump = testing::runPython(kDumpScript, *bytes);
    ASSERT_TRUE(dump);
    EXPECT_NE(dump->find("1 {$0: UID 2, $1: UID 6, $class: UID 5}\n"), std::string::npos) << *dump;
    EXPECT_NE(dump->find("2 {$0: UID 3, $1: UID 4, $class: UID 5}\n"), std::string::npos) << *dump;
    const DecodeResult r = keyedUnarchive(*bytes);
    ASSERT_TRUE(r.ok()) << r.error->message;
    const auto& back = static_cast<const Pair&>(**r.value.object());
    EXPECT_EQ(back.fields[1], Value("outer1"));
    EXPECT_EQ(static_cast<const Pair&>(**back.fields[0].object()).fields[1], Value("inner1"));
}

// Builds an archive around hand-made $objects.
std::string archiveOf(Array objects, Value root = Value(Uid{1}), Value version = Value::integer(100000)) {
    const Value archive(Dictionary{
        {Value("$archiver"), Value("NSKeyedArchiver")},
        {Value("$version"), std::move(version)},
        {Value("$top"), Value(Dictionary{{Value("root"), std::move(root)}})},
        {Value("$objects"), Value(std::move(objects))},
    });
    return *writeBinaryPropertyList(archive);
}

Value classEntry(std::vector<std::string> chain) {
    Array names;
    for (const auto& n : chain) names.emplace_back(n);
    return Value(Dictionary{{Value("$classname"), Value(chain.front())}, {Value("$classes"), Value(std::move(names))}});
}

Value object(Dictionary entries, uint64_t classUid) {
    entries.emplace_back(Value("$class"), Value(Uid{classUid}));
    return Value(std::move(entries));
}

Value uids(std::initializer_list<uint64_t> list) {
    Array a;
    for (uint64_t u : list) a.emplace_back(Uid{u});
    return Value(std::move(a));
}

// Shapes other archivers produce: immutable classes, inline and referenced data, local zones,
// private class names with a public fallback, and missing keys.
TEST_F(KeyedArchiveTest, ReadsOtherArchiversShapes) {
    const std::string bytes = archiveOf({
        Value("$null"),
        object({{Value("NS.objects"), uids({3, 4, 6, 8, 11, 13, 17})}}, 2),                  // 1
        classEntry({"__NSArrayI", "NSArray", "NSObject"}),                                // 2
        object({{Value("NS.string"), Value("mutable")}}, 5),                               // 3
        object({{Value("NS.data"), Value(Data{1, 2})}}, 7),                                // 4
        classEntry({"NSMutableString", "NSString", "NSObject"}),                           // 5
        object({{Value("NS.time"), Value::integer(60)}}, 14),                               // 6
        classEntry({"NSMutableData", "NSData", "NSObject"}),                               // 7
        object({{Value("NS.time"), Value::real(3.5)}, {Value("NS.timezone"), Value(Uid{9})}}, 10),  // 8
        object({}, 12),                                                                    // 9: local zone
        classEntry({"NSCalendarDate", "NSDate", "NSObject"}),                              // 10
        object({{Value("NS.keys"), uids({15})}, {Value("NS.objects"), uids({0})}}, 16),     // 11
        classEntry({"NSLocalTimeZone", "NSTimeZone", "NSObject"}),                         // 12
        object({{Value("NS.bytes"), Value(Data{'u', 't', 'f'})}}, 5),                      // 13
        classEntry({"NSDate", "NSObject"}),                                                // 14
        Value("key"),                                                                      // 15
        classEntry({"NSDictionary", "NSObject"}),                                          // 16
        object({{Value("NS.time"), Value::real(1.0)}, {Value("NS.timezone"), Value(Uid{18})},
                {Value("NS.format"), Value(Uid{20})}}, 10),                                // 17
        object({{Value("NS.name"), Value(Uid{21})}, {Value("NS.data"), Value(Uid{4})}}, 19),  // 18
        classEntry({"NSTimeZone", "NSObject"}),                                            // 19
        Value("%d"),                                                                       // 20
        Value("GMT+0100"),                                                                 // 21
    });
    const DecodeResult r = keyedUnarchive(bytes);
    ASSERT_TRUE(r.ok()) << r.error->message;
    const Array& a = *r.value.array();
    ASSERT_EQ(a.size(), 7u);
    EXPECT_EQ(a[0], Value("mutable"));
    EXPECT_EQ(a[1], Value(Data{1, 2}));
    EXPECT_EQ(a[2], Value(Date{60.0}));
    EXPECT_EQ(a[3], Value(Date{3.5, true, std::nullopt, std::nullopt}));
    ASSERT_NE(a[4].dictionary(), nullptr);
    EXPECT_EQ(a[4].dictionary()->size(), 1u);
    EXPECT_TRUE(a[4]["key"].isNil());
    EXPECT_EQ(a[5], Value("utf"));
    EXPECT_EQ(a[6], Value(Date{1.0, true, "GMT+0100", "%d"}));
}

TEST_F(KeyedArchiveTest, ReadsTheXmlForm) {
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>$archiver</key>
	<string>NSKeyedArchiver</string>
	<key>$objects</key>
	<array>
		<string>$null</string>
		<dict>
			<key>$class</key>
			<dict><key>CF$UID</key><integer>3</integer></dict>
			<key>NS.objects</key>
			<array>
				<dict><key>CF$UID</key><integer>2</integer></dict>
				<dict><key>CF$UID</key><integer>0</integer></dict>
			</array>
		</dict>
		<string>kid</string>
		<dict>
			<key>$classes</key>
			<array><string>NSMutableArray</string><string>NSArray</string><string>NSObject</string></array>
			<key>$classname</key>
			<string>NSMutableArray</string>
		</dict>
	</array>
	<key>$top</key>
	<dict><key>root</key><dict><key>CF$UID</key><integer>1</integer></dict></dict>
	<key>$version</key>
	<integer>100000</integer>
</dict>
</plist>
)";
    const DecodeResult r = keyedUnarchive(xml);
    ASSERT_TRUE(r.ok()) << r.error->message;
    EXPECT_EQ(r.value, Value(Array{Value("kid"), Value()}));
}

// Python's plistlib writes UIDs in their narrowest width; an archive with more than 255 objects
// needs two-byte references.
TEST_F(KeyedArchiveTest, ReadsAnArchiveWrittenByPlistlib) {
    const std::string script = R"(
import plistlib, sys
objects = ["$null", {"NS.objects": [plistlib.UID(3 + i) for i in range(300)], "$class": plistlib.UID(2)},
           {"$classname": "NSArray", "$classes": ["NSArray", "NSObject"]}]
objects += ["item %d" % i for i in range(300)]
archive = {"$archiver": "NSKeyedArchiver", "$version": 100000, "$top": {"root": plistlib.UID(1)},
           "$objects": objects}
sys.stdout.buffer.write(plistlib.dumps(archive, fmt=plistlib.FMT_BINARY))
)";
    const auto bytes = testing::runPython(script, "");
    ASSERT_TRUE(bytes);
    const DecodeResult r = keyedUnarchive(*bytes);
    ASSERT_TRUE(r.ok()) << r.error->message;
    ASSERT_EQ(r.value.array()->size(), 300u);
    EXPECT_EQ(r.value.array()->at(299), Value("item 299"));
}

TEST_F(KeyedArchiveTest, SharedEntriesAreDecodedOnceAndShared) {
    // Each array holds the previous one twice.
    Array objects{Value("$null"), classEntry({"NSArray", "NSObject"}), Value("leaf")};
    uint64_t previous = 2;
    for (int i = 0; i < 60; ++i) {
        objects.push_back(object({{Value("NS.objects"), uids({previous, previous})}}, 1));
        previous = objects.size() - 1;
    }
    const DecodeResult r = keyedUnarchive(archiveOf(std::move(objects), Value(Uid{previous})));
    ASSERT_TRUE(r.ok()) << r.error->message;
    const Value* v = &r.value;
    for (int i = 0; i < 60; ++i) {
        ASSERT_EQ(v->array()->at(0).identity(), v->array()->at(1).identity());
        v = &v->array()->at(0);
    }
    EXPECT_EQ(*v, Value("leaf"));
}

Array nestedArrayObjects(int levels) {
    Array objects{Value("$null"), classEntry({"NSArray", "NSObject"})};
    for (int i = 0; i < levels; ++i) {
        const uint64_t next = i + 1 == levels ? 0 : objects.size() + 1;
        objects.push_back(object({{Value("NS.objects"), uids({next})}}, 1));
    }
    return objects;
}

struct BadArchive {
    const char* name;
    std::string bytes;
    const char* message;
};

std::vector<BadArchive> badArchives() {
    const Value arrayClass = classEntry({"NSArray", "NSObject"});
    std::vector<BadArchive> cases;
    cases.push_back({"notAPlist", "garbage that is no property list", "expected an element"});
    cases.push_back({"typedstream", std::string("\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@", 18), "non-keyed"});
    cases.push_back({"rootNotDictionary", *writeBinaryPropertyList(Value(Array{})), "not a dictionary"});
    cases.push_back({"wrongVersion", archiveOf({Value("$null")}, Value(Uid{0}), Value::integer(100001)), "version"});
    cases.push_back({"versionAsString", archiveOf({Value("$null")}, Value(Uid{0}), Value("100000")), "version"});
    cases.push_back({"noObjects", *writeBinaryPropertyList(Value(Dictionary{
                                      {Value("$version"), Value::integer(100000)},
                                      {Value("$top"), Value(Dictionary{})}})),
                     "$objects"});
    cases.push_back({"noTop", *writeBinaryPropertyList(Value(Dictionary{
                                  {Value("$version"), Value::integer(100000)},
                                  {Value("$objects"), Value(Array{Value("$null")})}})),
                     "$top"});
    cases.push_back({"objectsNotArray", *writeBinaryPropertyList(Value(Dictionary{
                                            {Value("$version"), Value::integer(100000)},
                                            {Value("$top"), Value(Dictionary{})},
                                            {Value("$objects"), Value("x")}})),
                     "$objects"});
    cases.push_back({"firstNotNull", archiveOf({Value("x"), Value("y")}), "$null"});
    cases.push_back({"rootNotReference", archiveOf({Value("$null"), Value("y")}, Value::integer(1)), "root"});
    cases.push_back({"rootOutOfRange", archiveOf({Value("$null")}, Value(Uid{5})), "out of range"});
    cases.push_back({"elementOutOfRange", archiveOf({Value("$null"), object({{Value("NS.objects"), uids({9})}}, 2),
                                                     arrayClass}),
                     "out of range"});
    cases.push_back({"cycle", archiveOf({Value("$null"), object({{Value("NS.objects"), uids({1})}}, 2), arrayClass}),
                     "cycle"});
    cases.push_back({"noClass", archiveOf({Value("$null"), Value(Dictionary{{Value("NS.objects"), uids({})}})}),
                     "$class"});
    cases.push_back({"classIsNull", archiveOf({Value("$null"), object({}, 0)}), "$class"});
    cases.push_back({"classNotDictionary", archiveOf({Value("$null"), object({}, 2), Value("NSArray")}),
                     "$classname"});
    cases.push_back({"unknownClass", archiveOf({Value("$null"), object({}, 2), classEntry({"NSWindow", "NSObject"})}),
                     "unknown class NSWindow"});
    cases.push_back({"registeredClassRefuses",
                     archiveOf({Value("$null"), object({{Value("$0"), Value(Uid{3})}}, 2),
                                classEntry({"TableElement", "NSObject"}), Value::integer(5)}),
                     "could not be decoded"});
    cases.push_back({"keysAndObjectsDiffer",
                     archiveOf({Value("$null"), object({{Value("NS.keys"), uids({3})}, {Value("NS.objects"), uids({})}}, 2),
                                classEntry({"NSDictionary", "NSObject"}), Value("k")}),
                     "differ in length"});
    cases.push_back({"objectsNotReferences",
                     archiveOf({Value("$null"), object({{Value("NS.objects"), Value(Array{Value("x")})}}, 2), arrayClass}),
                     "references"});
    cases.push_back({"arrayAsEntry", archiveOf({Value("$null"), Value(Array{})}), "not an object"});
    cases.push_back({"uidAsEntry", archiveOf({Value("$null"), Value(Uid{0})}), "not an object"});
    cases.push_back({"zoneWithoutName",
                     archiveOf({Value("$null"), object({{Value("NS.timezone"), Value(Uid{3})}}, 2),
                                classEntry({"NSCalendarDate", "NSDate", "NSObject"}), object({}, 4),
                                classEntry({"NSTimeZone", "NSObject"})}),
                     "without a name"});
    cases.push_back({"zoneOfWrongClass",
                     archiveOf({Value("$null"), object({{Value("NS.timezone"), Value(Uid{3})}}, 2),
                                classEntry({"NSCalendarDate", "NSDate", "NSObject"}), Value("Europe/Berlin")}),
                     "not a time zone"});
    cases.push_back({"stringBytesNotUtf8",
                     archiveOf({Value("$null"), object({{Value("NS.bytes"), Value(Data{0xC3})}}, 2),
                                classEntry({"NSMutableString", "NSString", "NSObject"})}),
                     "not UTF-8"});
    cases.push_back({"depth10000", archiveOf(nestedArrayObjects(10000), Value(Uid{2})), "nesting"});
    cases.push_back({"depth65", archiveOf(nestedArrayObjects(65), Value(Uid{2})), "nesting"});
    return cases;
}

TEST_F(KeyedArchiveTest, MalformedArchivesFailCleanly) {
    for (const BadArchive& c : badArchives()) {
        SCOPED_TRACE(c.name);
        const DecodeResult r = keyedUnarchive(c.bytes);
        ASSERT_FALSE(r.ok());
        EXPECT_NE(r.error->message.find(c.message), std::string::npos) << r.error->message;
    }
    EXPECT_TRUE(keyedUnarchive(archiveOf(nestedArrayObjects(64), Value(Uid{2}))).ok());
}

// Whatever the archiver accepts, the unarchiver reads back: the two agree on the nesting limit.
TEST_F(KeyedArchiveTest, ArchiverKeepsToTheReadersNestingLimit) {
    const auto nest = [](Value inner, int levels) {
        for (int i = 0; i < levels; ++i) inner = Value(Array{inner});
        return inner;
    };
    // A string is stored directly; a date or a null is an object, one level of its own.
    const std::pair<Value, int> cases[] = {
        {Value("leaf"), 64}, {Value(Date{1.0, true, "GMT", "%d"}), 63}, {Value(Null{}), 63}};
    for (const auto& [leaf, levels] : cases) {
        const auto fits = keyedArchive(nest(leaf, levels));
        ASSERT_TRUE(fits) << levels;
        EXPECT_TRUE(keyedUnarchive(*fits).ok());
        EXPECT_FALSE(keyedArchive(nest(leaf, levels + 1)));
    }
}

TEST_F(KeyedArchiveTest, SharedInstanceCountsItsDepthWhereverItIsMet) {
    Value chain = Value("leaf");
    for (int i = 0; i < 60; ++i) chain = Value(Array{chain});
    Value wrapped = chain;
    for (int i = 0; i < 3; ++i) wrapped = Value(Array{wrapped});  // 1 + 3 + 60 = 64 levels
    const auto fits = keyedArchive(Value(Array{chain, wrapped}));
    ASSERT_TRUE(fits);
    EXPECT_TRUE(keyedUnarchive(*fits).ok());
    EXPECT_FALSE(keyedArchive(Value(Array{chain, Value(Array{wrapped})})));

    // An empty array is a level of its own too.
    const Value empty(Array{});
    const auto nest = [&](int levels) {
        Value v = empty;
        for (int i = 0; i < levels; ++i) v = Value(Array{v});
        return Value(Array{empty, v});
    };
    const auto deepest = keyedArchive(nest(62));
    ASSERT_TRUE(deepest);
    EXPECT_TRUE(keyedUnarchive(*deepest).ok());
    EXPECT_FALSE(keyedArchive(nest(63)));
}

TEST_F(KeyedArchiveTest, CorruptedArchivesNeverCrash) {
    const auto bytes = keyedArchive(Value(Array{Value(std::shared_ptr<Object>(workedExampleRecord())),
                                                Value(Dictionary{{Value("k"), Value(Data{1})}})}));
    ASSERT_TRUE(bytes);
    size_t failures = 0;
    for (size_t i = 0; i < bytes->size(); ++i) {
        for (uint8_t x : {0x01, 0x02, 0x10, 0x80}) {
            std::string copy = *bytes;
            copy[i] = static_cast<char>(copy[i] ^ x);
            const DecodeResult r = keyedUnarchive(copy);
            if (!r.ok()) {
                ++failures;
                ASSERT_FALSE(r.error->message.empty());
            }
        }
    }
    EXPECT_GT(failures, bytes->size());
}

}  // namespace
}  // namespace hv
