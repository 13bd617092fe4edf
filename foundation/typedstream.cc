#include "foundation/typedstream.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "foundation/coder.h"
#include "foundation/typedstream_format.h"
#include "foundation/unicode.h"

namespace hv {

namespace {

using namespace typedstream;

using ClassChain = std::vector<std::pair<std::string, int64_t>>;

const ClassChain kStringChain = {{"NSString", 1}, {"NSObject", 0}};
const ClassChain kNumberChain = {{"NSNumber", 0}, {"NSValue", 0}, {"NSObject", 0}};
const ClassChain kArrayChain = {{"NSArray", 0}, {"NSObject", 0}};
const ClassChain kDictionaryChain = {{"NSDictionary", 0}, {"NSObject", 0}};
const ClassChain kDateChain = {{"NSDate", 0}, {"NSObject", 0}};
const ClassChain kCalendarDateChain = {{"NSCalendarDate", 0}, {"NSDate", 0}, {"NSObject", 0}};
const ClassChain kTimeZoneChain = {{"NSTimeZone", 0}, {"NSObject", 0}};
const ClassChain kLocalTimeZoneChain = {{"NSLocalTimeZone", 0}, {"NSTimeZone", 0}, {"NSObject", 0}};
const ClassChain kNullChain = {{"NSNull", 0}, {"NSObject", 0}};
const ClassChain kDataChain = {{"NSData", 0}, {"NSObject", 0}};

// Versions of the platform classes that a registered class may name as superclasses.
int64_t platformClassVersion(std::string_view name) {
    return name == "NSString" || name == "NSMutableString" ? 1 : 0;
}

template <class T>
bool fits(int64_t v) {
    return std::in_range<T>(v);
}

// The integer's own type when its value fits that type, else 'q', so that no value is cut short.
char integerType(const Integer& i) {
    if (i.isUnsigned64) return 'Q';
    const int64_t v = i.value;
    bool ok = false;
    switch (i.encoding) {
        case 'c':
            ok = fits<int8_t>(v);
            break;
        case 'C':
            ok = fits<uint8_t>(v);
            break;
        case 's':
            ok = fits<int16_t>(v);
            break;
        case 'S':
            ok = fits<uint16_t>(v);
            break;
        case 'i':
        case 'l':
            ok = fits<int32_t>(v);
            break;
        case 'I':
        case 'L':
            ok = fits<uint32_t>(v);
            break;
        case 'q':
            ok = true;
            break;
        case 'Q':
            ok = v >= 0;
            break;
        default:
            break;
    }
    return ok ? i.encoding : 'q';
}

// 'f' only when the value survives the trip through a float.
char realType(const Real& r) {
    if (r.encoding != 'f') return 'd';
    const auto f = static_cast<float>(r.value);
    return std::isnan(r.value) || static_cast<double>(f) == r.value ? 'f' : 'd';
}

class Writer {
  public:
    std::optional<std::string> run(const Value& root) {
        raw(static_cast<uint8_t>(kStreamerVersion));
        raw(static_cast<uint8_t>(kLittleEndianSignature.size()));
        out_.append(kLittleEndianSignature);
        writeInteger(kSystemVersion);
        writeSharedString("@");
        if (!writeObject(root, 1)) return std::nullopt;
        return std::move(out_);
    }

    void writeType(std::string_view type) { writeSharedString(type); }

    // Writes one "@" value. false when it holds something no typedstream can.
    bool writeObject(const Value& v, int depth) {
        if (v.isNil()) {
            raw(kNil);
            return true;
        }
        const void* identity = v.identity();
        if (identity) {
            if (inProgress_.count(identity)) return false;
            if (auto it = objectsByIdentity_.find(identity); it != objectsByIdentity_.end()) {
                writeReference(it->second);
                return true;
            }
        }
        if (depth > kMaxDepth) return false;
        raw(kNew);
        const size_t index = objectCount_++;
        if (identity) {
            objectsByIdentity_.emplace(identity, index);
            inProgress_.insert(identity);
        }
        const bool ok = writeContents(v, depth);
        if (identity) inProgress_.erase(identity);
        raw(kEndOfObject);
        return ok;
    }

  private:
    // Deeper values would be refused by any bounded reader, ours included.
    static constexpr int kMaxDepth = DecodeLimits{}.maxDepth;

    void raw(uint8_t b) { out_.push_back(static_cast<char>(b)); }

    void littleEndian(uint64_t v, size_t n) {
        for (size_t k = 0; k < n; ++k) raw(static_cast<uint8_t>(v >> (8 * k)));
    }

    // The shortest of the four integer forms.
    void writeInteger(int64_t v) {
        if (v >= kSmallestLiteral && v <= 127) {
            raw(static_cast<uint8_t>(static_cast<int8_t>(v)));
        } else if (fits<int16_t>(v)) {
            raw(kInt16);
            littleEndian(static_cast<uint64_t>(v), 2);
        } else if (fits<int32_t>(v)) {
            raw(kInt32);
            littleEndian(static_cast<uint64_t>(v), 4);
        } else {
            raw(kInt64);
            littleEndian(static_cast<uint64_t>(v), 8);
        }
    }

    void writeReference(size_t index) {
        writeInteger(static_cast<int64_t>(index) + kReferenceBase);
    }

    // Integral values within 32 bits go in integer form, as NSArchiver writes them; the rest
    // (fractions, -0.0, NaN, infinities, large values) as raw IEEE bytes.
    void writeReal(double v, char type) {
        const bool integral = std::trunc(v) == v && v >= std::numeric_limits<int32_t>::min() &&
                              v <= std::numeric_limits<int32_t>::max() &&
                              !(v == 0 && std::signbit(v));
        if (integral) {
            writeInteger(static_cast<int64_t>(v));
            return;
        }
        raw(kReal);
        if (type == 'f') {
            const auto f = static_cast<float>(v);
            uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            littleEndian(bits, 4);
        } else {
            uint64_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            littleEndian(bits, 8);
        }
    }

    void writeSharedString(std::string_view s) {
        if (auto it = strings_.find(s); it != strings_.end()) {
            writeReference(it->second);
            return;
        }
        strings_.emplace(std::string(s), strings_.size());
        raw(kNew);
        writeInteger(static_cast<int64_t>(s.size()));
        out_.append(s);
    }

    // C strings take an object-table index; the same text is written once and then referred to.
    void writeCString(std::string_view s) {
        if (auto it = cStrings_.find(s); it != cStrings_.end()) {
            writeReference(it->second);
            return;
        }
        raw(kNew);
        cStrings_.emplace(std::string(s), objectCount_++);
        writeSharedString(s);
    }

    // Writes classes up the chain until one already written, which is referred to.
    void writeClassChain(const ClassChain& chain) {
        for (const auto& [name, version] : chain) {
            if (auto it = classes_.find(name); it != classes_.end()) {
                writeReference(it->second);
                return;
            }
            raw(kNew);
            classes_.emplace(name, objectCount_++);
            writeSharedString(name);
            writeInteger(version);
        }
        raw(kNil);
    }

    void writeText(std::string_view s) {
        writeClassChain(kStringChain);
        writeType("+");
        writeInteger(static_cast<int64_t>(s.size()));
        out_.append(s);
    }

    void writeNumberType(char type) {
        const char t[2] = {type, 0};
        writeType("*");
        writeCString(t);
        writeType(t);
    }

    bool writeElement(const Value& v, int depth) {
        if (v.isNil()) return false;  // collections cannot hold nil
        writeType("@");
        return writeObject(v, depth + 1);
    }

    // A string inside an object (a zone name, a calendar format), written as its own object.
    void writeTextObject(std::string_view s) {
        writeType("@");
        raw(kNew);
        ++objectCount_;
        writeText(s);
        raw(kEndOfObject);
    }

    void writeTimeZone(const std::optional<std::string>& name) {
        if (!name) {
            writeClassChain(kLocalTimeZoneChain);
            return;
        }
        writeClassChain(kTimeZoneChain);
        writeTextObject(*name);
    }

    bool writeContents(const Value& v, int depth) {
        switch (v.kind()) {
            case Value::Kind::String:
                if (!isValidUtf8(*v.string())) return false;
                writeText(*v.string());
                return true;
            case Value::Kind::Integer: {
                const Integer& i = *v.integerValue();
                const char type = integerType(i);
                writeClassChain(kNumberChain);
                writeNumberType(type);
                if (type == 'c' || type == 'C') {
                    raw(static_cast<uint8_t>(i.value));
                } else {
                    writeInteger(i.value);
                }
                return true;
            }
            case Value::Kind::Real: {
                const char type = realType(*v.realValue());
                writeClassChain(kNumberChain);
                writeNumberType(type);
                writeReal(v.realValue()->value, type);
                return true;
            }
            case Value::Kind::Boolean:
                writeClassChain(kNumberChain);
                writeNumberType('c');
                raw(v.booleanValue()->value ? 1 : 0);
                return true;
            case Value::Kind::Date:
                return writeDate(*v.date(), depth);
            case Value::Kind::Data: {
                const hv::Data& d = *v.data();
                if (d.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
                    return false;
                writeClassChain(kDataChain);
                writeType("i");
                writeInteger(static_cast<int64_t>(d.size()));
                writeType("[" + std::to_string(d.size()) + "c]");
                out_.append(d.begin(), d.end());
                return true;
            }
            case Value::Kind::Array: {
                const Array& a = *v.array();
                writeClassChain(kArrayChain);
                writeType("i");
                writeInteger(static_cast<int64_t>(a.size()));
                for (const Value& e : a) {
                    if (!writeElement(e, depth)) return false;
                }
                return true;
            }
            case Value::Kind::Dictionary: {
                const hv::Dictionary& d = *v.dictionary();
                writeClassChain(kDictionaryChain);
                writeType("i");
                writeInteger(static_cast<int64_t>(d.size()));
                for (const auto& [key, value] : d) {
                    if (!writeElement(key, depth) || !writeElement(value, depth)) return false;
                }
                return true;
            }
            case Value::Kind::Null:
                writeClassChain(kNullChain);
                return true;
            case Value::Kind::Object:
                return writeCustom(**v.object(), depth);
            case Value::Kind::Nil:
            case Value::Kind::Uid:
                break;
        }
        return false;
    }

    bool writeDate(const Date& date, int depth) {
        if (!date.calendar) {
            writeClassChain(kDateChain);
            writeType("d");
            writeReal(date.time, 'd');
            return true;
        }
        // The zone and its name nest two levels below the date.
        if (depth + 2 > kMaxDepth) return false;
        if ((date.timeZone && !isValidUtf8(*date.timeZone)) ||
            (date.format && !isValidUtf8(*date.format))) {
            return false;
        }
        writeClassChain(kCalendarDateChain);
        writeType("d");
        writeReal(date.time, 'd');
        writeType("@");
        if (date.timeZone) {
            raw(kNew);
            ++objectCount_;
            writeTimeZone(date.timeZone);
            raw(kEndOfObject);
        } else {
            raw(kNil);
        }
        if (date.format) {
            writeTextObject(*date.format);
        } else {
            writeType("@");
            raw(kNil);
        }
        return true;
    }

    bool writeCustom(const Object& object, int depth);

    std::string out_;
    size_t objectCount_ = 0;
    std::map<std::string, size_t, std::less<>> strings_;
    std::map<std::string, size_t, std::less<>> cStrings_;
    std::map<std::string, size_t, std::less<>> classes_;
    std::unordered_map<const void*, size_t> objectsByIdentity_;
    std::set<const void*> inProgress_;
};

// The positional coder handed to a registered class: each value becomes one "@" group.
class ObjectCoder : public Coder {
  public:
    ObjectCoder(Writer& writer, int depth) : writer_(writer), depth_(depth) {}

    void encodeObject(const Value& value) override {
        if (!ok_) return;
        writer_.writeType("@");
        ok_ = writer_.writeObject(value, depth_ + 1);
    }

    bool ok() const { return ok_; }

  private:
    Writer& writer_;
    int depth_;
    bool ok_ = true;
};

bool Writer::writeCustom(const Object& object, int depth) {
    if (const auto* zone = dynamic_cast<const TimeZoneObject*>(&object)) {
        if (depth + 1 > kMaxDepth || (zone->name() && !isValidUtf8(*zone->name()))) return false;
        writeTimeZone(zone->name());
        return true;
    }
    const ClassCoding* coding = ClassRegistry::find(object.className());
    if (!coding) return false;
    ClassChain chain;
    for (const std::string& name : coding->classChain) {
        chain.emplace_back(name, chain.empty() ? coding->version : platformClassVersion(name));
    }
    writeClassChain(chain);
    ObjectCoder coder(*this, depth);
    coding->encode(object, coder);
    return coder.ok();
}

}  // namespace

std::optional<std::string> typedstreamArchive(const Value& root) { return Writer().run(root); }

}  // namespace hv
