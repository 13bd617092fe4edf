#include <cstring>
#include <deque>
#include <limits>
#include <unordered_map>
#include <vector>

#include "foundation/coder.h"
#include "foundation/typedstream.h"
#include "foundation/typedstream_format.h"
#include "foundation/unicode.h"

namespace hv {

namespace {

using namespace typedstream;

constexpr size_t kNone = std::numeric_limits<size_t>::max();
// Copies of referenced texts may add up to this many times the input size limit.
constexpr size_t kCopyAllowance = 16;

// Raised inside the reader only; typedstreamUnarchive turns it into a DecodeError.
struct Failure {
    std::string message;
    size_t offset;
};

// Text for an error message, cut short: names and types come from the input.
std::string quoted(std::string_view s) {
    constexpr size_t kShown = 40;
    return "\"" + std::string(s.substr(0, kShown)) + (s.size() > kShown ? "...\"" : "\"");
}

bool isNumberType(char t) {
    return std::string_view("cCBsSiIlLqQfd").find(t) != std::string_view::npos;
}

// One entry of the object table: a literal object, class or C string, in order of appearance.
struct Entry {
    enum class Kind { Object, Class, CString } kind;
    bool inProgress = false;
    Value value;                        // Object: the decoded value, once complete
    const std::string* text = nullptr;  // Class: its name; CString: its text (string table)
    int64_t version = 0;                // Class
};

class Reader {
  public:
    Reader(std::string_view bytes, const DecodeLimits& limits) : in_(bytes), limits_(limits) {}

    Value run() {
        if (in_.size() > limits_.maxBytes) {
            fail("archive is larger than " + std::to_string(limits_.maxBytes) + " bytes", 0);
        }
        readHeader();
        expectType("@");
        // Bytes after the root are ignored, as NSUnarchiver only notes them.
        return readObject(1);
    }

  private:
    friend class ObjectDecoder;

    [[noreturn]] void fail(std::string message, size_t at) const {
        throw Failure{std::move(message), at};
    }
    [[noreturn]] void fail(std::string message) const { fail(std::move(message), pos_); }

    size_t remaining() const { return in_.size() - pos_; }

    void need(size_t n) const {
        if (remaining() < n) fail("unexpected end of data");
    }

    uint8_t byte() {
        need(1);
        return static_cast<uint8_t>(in_[pos_++]);
    }

    bool atEndOfObject() const {
        return pos_ < in_.size() && static_cast<uint8_t>(in_[pos_]) == kEndOfObject;
    }

    uint64_t fixed(size_t n) {
        need(n);
        uint64_t v = 0;
        for (size_t k = 0; k < n; ++k) {
            const uint64_t b = static_cast<uint8_t>(in_[pos_ + (bigEndian_ ? k : n - 1 - k)]);
            v = (v << 8) | b;
        }
        pos_ += n;
        return v;
    }

    int64_t integerAfter(uint8_t head, size_t at) {
        const auto s = static_cast<int8_t>(head);
        if (s >= kSmallestLiteral) return s;
        switch (head) {
            case kInt16:
                return static_cast<int16_t>(fixed(2));
            case kInt32:
                return static_cast<int32_t>(fixed(4));
            case kInt64:
                return static_cast<int64_t>(fixed(8));
            default:
                fail("unexpected tag " + std::to_string(head) + " where an integer belongs", at);
        }
    }

    int64_t readInteger() {
        const size_t at = pos_;
        return integerAfter(byte(), at);
    }

    // A count or length that must fit in what is left, each item taking at least itemSize bytes.
    size_t readCount(size_t itemSize) {
        const size_t at = pos_;
        const int64_t n = readInteger();
        if (n < 0) fail("negative count or length", at);
        if (static_cast<uint64_t>(n) > remaining() / itemSize) {
            fail("count or length " + std::to_string(n) + " exceeds the data", at);
        }
        return static_cast<size_t>(n);
    }

    double readReal(char type) {
        const size_t at = pos_;
        const uint8_t head = byte();
        if (head != kReal) return static_cast<double>(integerAfter(head, at));
        if (type == 'f') {
            const auto bits = static_cast<uint32_t>(fixed(4));
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        const uint64_t bits = fixed(8);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    size_t referenceIndex(uint8_t head, size_t at, size_t tableSize) {
        const int64_t v = integerAfter(head, at);
        const int64_t index = v - kReferenceBase;
        if (index < 0 || static_cast<uint64_t>(index) >= tableSize)
            fail("reference out of range", at);
        return static_cast<size_t>(index);
    }

    // Texts are values, not shared handles, so each reference to a string object copies it. The
    // copies are counted so that a small stream naming one large string many times cannot
    // expand without bound.
    static size_t copiedBytes(const Value& v) {
        if (const std::string* s = v.string()) return s->size();
        if (const Date* d = v.date()) {
            return (d->timeZone ? d->timeZone->size() : 0) + (d->format ? d->format->size() : 0);
        }
        return 0;
    }

    void chargeCopy(size_t n, size_t at) {
        copied_ += n;
        if (copied_ > limits_.maxBytes * kCopyAllowance) fail("shared texts copied too often", at);
    }

    void checkTableSize(size_t size, size_t at) const {
        if (size >= limits_.maxObjects) {
            fail("more than " + std::to_string(limits_.maxObjects) + " objects", at);
        }
    }

    // A shared string, held once in the string table however often it is referred to;
    // nullptr for nil.
    const std::string* readSharedString() {
        const size_t at = pos_;
        const uint8_t head = byte();
        if (head == kNil) return nullptr;
        if (head == kNew) {
            checkTableSize(strings_.size(), at);
            const size_t n = readCount(1);
            strings_.emplace_back(in_.substr(pos_, n));
            pos_ += n;
            return &strings_.back();
        }
        return &strings_[referenceIndex(head, at, strings_.size())];
    }

    const std::string& readTypeString() {
        const size_t at = pos_;
        const std::string* s = readSharedString();
        if (!s || s->empty()) fail("missing type string", at);
        return *s;
    }

    void expectType(std::string_view type) {
        const size_t at = pos_;
        const std::string& found = readTypeString();
        if (found != type) {
            fail("type " + quoted(found) + " where " + quoted(type) + " belongs", at);
        }
    }

    size_t addEntry(Entry::Kind kind, size_t at) {
        checkTableSize(objects_.size(), at);
        objects_.push_back(Entry{kind});
        return objects_.size() - 1;
    }

    // The table index of a reference whose head byte has been read; the entry must be of kind.
    size_t referenced(uint8_t head, size_t at, Entry::Kind kind, const char* what) {
        const size_t index = referenceIndex(head, at, objects_.size());
        if (objects_[index].kind != kind) {
            fail(std::string("reference to something that is not ") + what, at);
        }
        return index;
    }

    // nullptr for NULL.
    const std::string* readCString() {
        const size_t at = pos_;
        const uint8_t head = byte();
        if (head == kNil) return nullptr;
        if (head == kNew) {
            const size_t index = addEntry(Entry::Kind::CString, at);
            const size_t textAt = pos_;
            const std::string* text = readSharedString();
            if (!text) fail("C string without text", textAt);
            objects_[index].text = text;
            return text;
        }
        return objects_[referenced(head, at, Entry::Kind::CString, "a C string")].text;
    }

    std::string readByteString() {
        const size_t n = readCount(1);
        std::string s(in_.substr(pos_, n));
        pos_ += n;
        return s;
    }

    // A class chain; the index of its first class, or kNone for Nil. Only the first class
    // decides how an object is read; its superclasses are table entries for later references.
    size_t readClass() {
        size_t first = kNone;
        for (;;) {
            const size_t at = pos_;
            const uint8_t head = byte();
            if (head == kNil) return first;
            if (head != kNew) {
                const size_t index = referenced(head, at, Entry::Kind::Class, "a class");
                return first == kNone ? index : first;
            }
            const size_t index = addEntry(Entry::Kind::Class, at);
            const size_t nameAt = pos_;
            const std::string* name = readSharedString();
            if (!name) fail("class without a name", nameAt);
            objects_[index].text = name;
            objects_[index].version = readInteger();
            if (first == kNone) first = index;
        }
    }

    Value readObject(int depth) {
        const size_t at = pos_;
        const uint8_t head = byte();
        if (head == kNil) return {};
        if (head != kNew) {
            const Entry& e = objects_[referenced(head, at, Entry::Kind::Object, "an object")];
            if (e.inProgress) fail("reference to an object that contains it (a cycle)", at);
            chargeCopy(copiedBytes(e.value), at);
            return e.value;
        }
        if (depth > limits_.maxDepth) {
            fail("objects nested deeper than " + std::to_string(limits_.maxDepth), at);
        }
        // The object's index is taken before its class is read.
        const size_t index = addEntry(Entry::Kind::Object, at);
        objects_[index].inProgress = true;
        const size_t classAt = pos_;
        const size_t cls = readClass();
        if (cls == kNone) fail("object without a class", classAt);
        Value v = readContents(objects_[cls], at, depth);
        if (byte() != kEndOfObject) fail("expected the end of the object", pos_ - 1);
        objects_[index].value = v;
        objects_[index].inProgress = false;
        return v;
    }

    Value readElement(int depth, const char* what) {
        expectType("@");
        const size_t at = pos_;
        Value v = readObject(depth + 1);
        if (v.isNil()) fail(std::string("nil ") + what, at);
        return v;
    }

    std::string readText(int depth, bool allowNil, const char* what) {
        expectType("@");
        const size_t at = pos_;
        Value v = readObject(depth + 1);
        if (const std::string* s = v.string()) return *s;
        if (!(allowNil && v.isNil())) fail(std::string(what) + " is not a string", at);
        return {};
    }

    Value readNumber() {
        expectType("*");
        const size_t typeAt = pos_;
        const auto type = readCString();
        if (!type || type->size() != 1 || !isNumberType((*type)[0])) {
            fail("unsupported number type", typeAt);
        }
        const char t = (*type)[0];
        expectType(*type);
        switch (t) {
            case 'c': {
                const auto c = static_cast<int8_t>(byte());
                // BOOL is archived as a char holding 0 or 1.
                if (c == 0 || c == 1) return Value::boolean(c == 1);
                return Value::integer(c, 'c');
            }
            case 'B':
                return Value::boolean(byte() != 0);
            case 'C':
                return Value::integer(byte(), 'C');
            case 'f':
            case 'd':
                return Value::real(readReal(t), t);
            default:
                break;
        }
        const int64_t v = readInteger();
        switch (t) {
            case 's':
                return Value::integer(static_cast<int16_t>(v), t);
            case 'S':
                return Value::integer(static_cast<uint16_t>(v), t);
            case 'i':
            case 'l':
                return Value::integer(static_cast<int32_t>(v), t);
            case 'I':
            case 'L':
                return Value::integer(static_cast<uint32_t>(v), t);
            case 'Q':
                return Value(Integer{v, 'Q', v < 0});
            default:
                return Value::integer(v, 'q');
        }
    }

    Value readArray(int depth) {
        expectType("i");
        // Each element takes at least a type reference and a nil.
        const size_t n = readCount(2);
        Array a;
        a.reserve(n);
        for (size_t k = 0; k < n; ++k) a.push_back(readElement(depth, "array element"));
        return Value(std::move(a));
    }

    Value readDictionary(int depth) {
        expectType("i");
        const size_t n = readCount(4);
        Dictionary d;
        d.reserve(n);
        // A repeated text key keeps its last value, as building an NSDictionary does.
        std::unordered_map<std::string, size_t> textKeys;
        for (size_t k = 0; k < n; ++k) {
            Value key = readElement(depth, "dictionary key");
            Value value = readElement(depth, "dictionary value");
            if (const std::string* s = key.string()) {
                auto [it, added] = textKeys.emplace(*s, d.size());
                if (!added) {
                    d[it->second].second = std::move(value);
                    continue;
                }
            }
            d.emplace_back(std::move(key), std::move(value));
        }
        return Value(std::move(d));
    }

    Value readCalendarDate(int depth) {
        expectType("d");
        Date date{readReal('d'), true, std::nullopt, std::nullopt};
        expectType("@");
        const size_t zoneAt = pos_;
        Value zone = readObject(depth + 1);
        if (!zone.isNil()) {
            const auto* object = zone.object();
            const auto* tz = object ? dynamic_cast<const TimeZoneObject*>(object->get()) : nullptr;
            if (!tz) fail("calendar date zone is not a time zone", zoneAt);
            if (tz->name()) chargeCopy(tz->name()->size(), zoneAt);
            date.timeZone = tz->name();
        }
        expectType("@");
        const size_t formatAt = pos_;
        Value format = readObject(depth + 1);
        if (const std::string* s = format.string()) {
            date.format = *s;
        } else if (!format.isNil()) {
            fail("calendar date format is not a string", formatAt);
        }
        return Value(std::move(date));
    }

    Value readTimeZone(const Entry& cls, int depth) {
        std::string name = readText(depth, false, "time zone name");
        // Zones archived with a class version other than 0 carry their data after the name.
        if (cls.version != 0) {
            expectType("@");
            readObject(depth + 1);
        }
        return Value(std::shared_ptr<Object>(std::make_shared<TimeZoneObject>(std::move(name))));
    }

    Value readData() {
        expectType("i");
        const size_t n = readCount(1);
        expectType("[" + std::to_string(n) + "c]");
        need(n);
        const auto* p = reinterpret_cast<const uint8_t*>(in_.data() + pos_);
        pos_ += n;
        return Value(hv::Data(p, p + n));
    }

    Value readContents(const Entry& cls, size_t at, int depth) {
        // A copy: reading the contents may grow the table and move its entries.
        const Entry c = cls;
        const std::string& name = *c.text;
        if (name == "NSString" || name == "NSMutableString") {
            expectType("+");
            const size_t textAt = pos_;
            std::string s = readByteString();
            if (!isValidUtf8(s)) fail("string is not valid UTF-8", textAt);
            return Value(std::move(s));
        }
        if (name == "NSNumber") return readNumber();
        if (name == "NSArray" || name == "NSMutableArray") return readArray(depth);
        if (name == "NSDictionary" || name == "NSMutableDictionary") return readDictionary(depth);
        if (name == "NSDate") {
            expectType("d");
            return Value(Date{readReal('d'), false, std::nullopt, std::nullopt});
        }
        if (name == "NSCalendarDate") return readCalendarDate(depth);
        if (name == "NSTimeZone") return readTimeZone(c, depth);
        if (name == "NSLocalTimeZone") {
            // Its contents are private to the platform; it stands for the local zone whatever
            // they are.
            skipGroups(depth);
            return Value(std::shared_ptr<Object>(std::make_shared<TimeZoneObject>(std::nullopt)));
        }
        if (name == "NSNull") return Value(Null{});
        if (name == "NSData" || name == "NSMutableData") return readData();
        if (const ClassCoding* coding = ClassRegistry::find(name))
            return readCustom(*coding, at, depth);
        fail("unknown class " + quoted(name), at);
    }

    Value readCustom(const ClassCoding& coding, size_t at, int depth);

    // Reads and drops type-prefixed groups up to the end of the current object. Objects inside
    // are decoded all the same, since later references may point at them.
    void skipGroups(int depth) {
        while (!atEndOfObject()) {
            const size_t at = pos_;
            const TypeText type{at, readTypeString()};
            size_t i = 0;
            while (i < type.text.size()) skipValue(type, i, depth, 0);
        }
    }

    // A type string and where it stands, for errors in its structure.
    struct TypeText {
        size_t at;
        const std::string& text;
    };

    // Index just past the one type that starts at i, without reading data.
    size_t typeEnd(const TypeText& type, size_t i, int nesting) const {
        const std::string& t = type.text;
        if (nesting > limits_.maxDepth) fail("type string nested too deeply", type.at);
        if (i >= t.size()) fail("malformed type string", type.at);
        const char c = t[i++];
        if (c == '[') {
            while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
            i = typeEnd(type, i, nesting + 1);
            if (i >= t.size() || t[i] != ']') fail("malformed type string", type.at);
            return i + 1;
        }
        if (c == '{') {
            while (i < t.size() && t[i] != '=' && t[i] != '}') ++i;
            if (i < t.size() && t[i] == '=') ++i;
            while (i < t.size() && t[i] != '}') i = typeEnd(type, i, nesting + 1);
            if (i >= t.size()) fail("malformed type string", type.at);
            return i + 1;
        }
        return i;
    }

    void skipValue(const TypeText& type, size_t& i, int depth, int nesting) {
        const std::string& t = type.text;
        if (nesting > limits_.maxDepth) fail("type string nested too deeply", type.at);
        // Zero-width types ('!', empty structs) inside large array counts could otherwise spin.
        if (++skippedValues_ > limits_.maxBytes) fail("too many values");
        if (i >= t.size()) fail("malformed type string", type.at);
        const char c = t[i];
        switch (c) {
            case 'c':
            case 'C':
            case 'B':
                byte();
                ++i;
                return;
            case 's':
            case 'S':
            case 'i':
            case 'I':
            case 'l':
            case 'L':
            case 'q':
            case 'Q':
                readInteger();
                ++i;
                return;
            case 'f':
            case 'd':
                readReal(c);
                ++i;
                return;
            case '*':
                readCString();
                ++i;
                return;
            case '+':
                readByteString();
                ++i;
                return;
            case '%':
            case ':':
                readSharedString();
                ++i;
                return;
            case '#':
                readClass();
                ++i;
                return;
            case '@':
                readObject(depth + 1);
                ++i;
                return;
            case '!':
                ++i;
                return;
            case '[': {
                size_t j = i + 1;
                uint64_t n = 0;
                while (j < t.size() && t[j] >= '0' && t[j] <= '9') {
                    n = n * 10 + static_cast<uint64_t>(t[j++] - '0');
                    if (n > limits_.maxBytes) fail("array type too long", type.at);
                }
                const size_t end = typeEnd(type, j, nesting + 1);
                if (end >= t.size() || t[end] != ']') fail("malformed type string", type.at);
                if (end == j + 1 && (t[j] == 'c' || t[j] == 'C')) {
                    need(n);
                    pos_ += n;
                } else {
                    for (uint64_t k = 0; k < n; ++k) {
                        size_t e = j;
                        skipValue(type, e, depth, nesting + 1);
                    }
                }
                i = end + 1;
                return;
            }
            case '{': {
                const size_t end = typeEnd(type, i, nesting);
                size_t j = i + 1;
                while (t[j] != '=' && t[j] != '}') ++j;
                if (t[j] == '=') ++j;
                while (j < end - 1) skipValue(type, j, depth, nesting + 1);
                i = end;
                return;
            }
            default:
                fail(std::string("unsupported type '") + c + "'", type.at);
        }
    }

    void readHeader() {
        const uint8_t version = byte();
        if (version != 3 && version != 4) fail("unsupported streamer version", 0);
        if (byte() != kLittleEndianSignature.size()) fail("bad signature length", 1);
        need(kLittleEndianSignature.size());
        const std::string_view signature = in_.substr(pos_, kLittleEndianSignature.size());
        if (signature == kBigEndianSignature) {
            bigEndian_ = true;
        } else if (signature != kLittleEndianSignature) {
            fail("not a typedstream", pos_);
        }
        pos_ += signature.size();
        readInteger();  // system version: any is accepted
    }

    std::string_view in_;
    DecodeLimits limits_;
    size_t pos_ = 0;
    bool bigEndian_ = false;
    std::deque<std::string> strings_;  // a deque: entries keep pointers into it
    std::vector<Entry> objects_;
    size_t skippedValues_ = 0;
    size_t copied_ = 0;
};

// The positional decoder handed to a registered class: each value is one "@" group. A failure
// is kept here and raised again once the class has returned, so it never crosses the class's
// code; from then on every value reads as nil.
class ObjectDecoder : public Decoder {
  public:
    ObjectDecoder(Reader& reader, int depth) : reader_(reader), depth_(depth) {}

    Value decodeObject() override {
        if (failure_ || reader_.atEndOfObject()) return {};
        try {
            reader_.expectType("@");
            return reader_.readObject(depth_ + 1);
        } catch (Failure& f) {
            failure_ = std::move(f);
            return {};
        }
    }

    const std::optional<Failure>& failure() const { return failure_; }

  private:
    Reader& reader_;
    int depth_;
    std::optional<Failure> failure_;
};

Value Reader::readCustom(const ClassCoding& coding, size_t at, int depth) {
    ObjectDecoder decoder(*this, depth);
    std::shared_ptr<Object> object = coding.decode(decoder);
    if (decoder.failure()) throw *decoder.failure();
    if (!object) fail("values of " + coding.classChain.front() + " rejected", at);
    // Values the class did not ask for (a newer writer's) are read and dropped.
    skipGroups(depth);
    return Value(std::move(object));
}

}  // namespace

DecodeResult typedstreamUnarchive(std::string_view bytes, const DecodeLimits& limits) {
    try {
        Reader reader(bytes, limits);
        return DecodeResult{reader.run(), std::nullopt};
    } catch (Failure& f) {
        return DecodeResult{Value(), DecodeError{std::move(f.message), f.offset}};
    }
}

}  // namespace hv
