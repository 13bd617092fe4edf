// NSKeyedUnarchiver for archives in binary or XML property-list form.
//
// The property list is read first (bounded); then objects are decoded from $objects on demand,
// starting at $top.root. Each entry is decoded once and the result shared; an entry met again
// while it is still being decoded is a cycle, which a value tree cannot hold, so it is refused.
// Nesting is measured as in the property-list readers: an entry remembers how deep its own
// contents go, so a shared entry cannot be used to build a value nested beyond the limit.

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/coder.h"
#include "foundation/concat.h"
#include "foundation/dictionary_builder.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "foundation/shared_objects.h"
#include "foundation/unicode.h"

namespace hv {

namespace {

constexpr int32_t kArchiveVersion = 100000;

// A reference as binary lists hold it, or as XML holds it: {CF$UID: n}.
std::optional<uint64_t> asUid(const Value& v) {
    if (const Uid* u = v.uid()) return u->value;
    const Dictionary* d = v.dictionary();
    if (!d || d->size() != 1) return std::nullopt;
    const auto& [key, value] = d->front();
    const Integer* n = value.integerValue();
    if (!key.string() || *key.string() != "CF$UID" || !n || n->isUnsigned64 || n->value < 0 ||
        n->value > 0xFFFFFFFFLL)
        return std::nullopt;
    return static_cast<uint64_t>(n->value);
}

bool isTypedstream(std::string_view bytes) {
    return bytes.size() >= 13 && bytes[1] == 0x0B &&
           (bytes.substr(2, 11) == "typedstream" || bytes.substr(2, 11) == "streamtyped");
}

// The Foundation classes the reader knows, by any of their archived names.
enum class Known { None, Array, Dictionary, String, Data, Date, CalendarDate, TimeZone, LocalTimeZone, Null };

Known knownClass(std::string_view name) {
    if (name == "NSArray" || name == "NSMutableArray") return Known::Array;
    if (name == "NSDictionary" || name == "NSMutableDictionary") return Known::Dictionary;
    if (name == "NSString" || name == "NSMutableString") return Known::String;
    if (name == "NSData" || name == "NSMutableData") return Known::Data;
    if (name == "NSDate") return Known::Date;
    if (name == "NSCalendarDate") return Known::CalendarDate;
    if (name == "NSTimeZone") return Known::TimeZone;
    if (name == "NSLocalTimeZone") return Known::LocalTimeZone;
    if (name == "NSNull") return Known::Null;
    return Known::None;
}

class KeyedUnarchiver {
public:
    explicit KeyedUnarchiver(const DecodeLimits& limits) : limits_(limits) {}

    DecodeResult unarchive(std::string_view bytes) {
        DecodeResult result;
        if (bytes.size() > limits_.maxBytes) {
            result.error = DecodeError{"archive larger than the size limit", limits_.maxBytes};
            return result;
        }
        if (isTypedstream(bytes)) {
            result.error = DecodeError{"non-keyed archive cannot be decoded by NSKeyedUnarchiver", 0};
            return result;
        }
        DecodeResult plist = readPropertyList(bytes, limits_);
        if (!plist.ok()) return plist;
        Value root = top(plist.value);
        if (failure_) {
            result.error = std::move(failure_);
            return result;
        }
        result.value = std::move(root);
        return result;
    }

private:
    Value fail(std::string message) {
        if (!failure_) failure_ = DecodeError{std::move(message), 0};
        return {};
    }

    Value top(const Value& archive) {
        if (!archive.dictionary()) return fail("archive is not a dictionary");
        const Value version = archive["$version"];
        if (!version.isNumber() || version.booleanValue() || version.intValue() != kArchiveVersion)
            return fail("incomprehensible archive version");
        const Value topDict = archive["$top"];
        const Value objects = archive["$objects"];
        if (!topDict.dictionary()) return fail("archive has no $top dictionary");
        if (!objects.array()) return fail("archive has no $objects array");
        objects_ = objects.array();
        if (objects_->empty() || !objects_->front().string() || *objects_->front().string() != "$null")
            return fail("$objects[0] is not $null");
        decoded_.resize(objects_->size());
        const Value root = topDict["root"];
        if (root.isNil()) return {};
        const auto uid = asUid(root);
        if (!uid) return fail("$top.root is not a reference");
        int height = 0;
        return decode(*uid, 0, height);
    }

    // The first slot holding the same property-list container as slot uid. A binary list may
    // share one container among many slots; treating them as one object keeps the work
    // proportional to the input.
    uint64_t canonical(uint64_t uid) {
        const void* id = (*objects_)[uid].identity();
        if (!id) return uid;
        return canonical_.try_emplace(id, uid).first->second;
    }

    // The object at uid, met inside `depth` objects; height receives how deep its contents go.
    Value decode(uint64_t uid, int depth, int& height) {
        height = 0;
        if (failure_ || uid == 0) return {};
        if (uid >= objects_->size()) return fail(concat({"reference $objects[", std::to_string(uid), "] out of range"}));
        uid = canonical(uid);
        Value shared;
        switch (decoded_.lookup(uid, depth, limits_.maxDepth, shared, height)) {
            case SharedObjects::Lookup::Cycle:
                return fail(concat({"reference cycle at $objects[", std::to_string(uid), "]"}));
            case SharedObjects::Lookup::TooDeep:
                return fail("nesting deeper than the limit");
            case SharedObjects::Lookup::Shared:
                return shared;
            case SharedObjects::Lookup::Unread:
                break;
        }
        decoded_.startDecoding(uid);
        Value v = entry(uid, depth, height);
        decoded_.finishDecoding(uid, v, height);
        return v;
    }

    // A reference held under key in an object's dictionary; a missing key is nil.
    Value member(const Value& dict, std::string_view key, int depth, int& height) {
        const Value ref = dict[key];
        if (ref.isNil()) return {};
        const auto uid = asUid(ref);
        if (!uid) return fail(concat({key, " is not a reference"}));
        int h = 0;
        Value v = decode(*uid, depth, h);
        height = std::max(height, h);
        return v;
    }

    Value entry(uint64_t uid, int depth, int& height) {
        const Value& e = (*objects_)[uid];
        switch (e.kind()) {
            case Value::Kind::String:
            case Value::Kind::Integer:
            case Value::Kind::Real:
            case Value::Kind::Boolean:
            case Value::Kind::Data:
            case Value::Kind::Date:
                return e;
            case Value::Kind::Dictionary:
                break;
            default:
                return fail(concat({"$objects[", std::to_string(uid), "] is not an object"}));
        }
        if (depth + 1 > limits_.maxDepth) return fail("nesting deeper than the limit");
        const auto classRef = asUid(e["$class"]);
        if (!classRef || *classRef == 0 || *classRef >= objects_->size())
            return fail(concat({"$objects[", std::to_string(uid), "] has no valid $class"}));
        const Resolved* resolved = resolve(canonical(*classRef));
        if (!resolved) return {};
        int inner = 0;
        Value v = instance(e, *resolved, depth + 1, inner);
        height = inner + 1;
        return v;
    }

    // How objects of one class entry are decoded: the first name of $classname, then $classes,
    // that is a Foundation class this reader knows or a registered class, as Apple falls back
    // along $classes.
    struct Resolved {
        std::string name;
        Known known = Known::None;
        const ClassCoding* coding = nullptr;
    };

    // Resolved once per class entry, since many objects share one.
    const Resolved* resolve(uint64_t classUid) {
        if (auto it = classes_.find(classUid); it != classes_.end()) return &it->second;
        const Value& classDict = (*objects_)[classUid];
        const Value className = classDict["$classname"];
        if (!className.string()) {
            fail("class entry without a $classname");
            return nullptr;
        }
        Resolved r;
        const auto consider = [&](const std::string& name) {
            if (r.known != Known::None || r.coding) return;
            r.name = name;
            r.known = knownClass(name);
            if (r.known == Known::None) r.coding = ClassRegistry::find(name);
        };
        consider(*className.string());
        if (const Array* chain = classDict["$classes"].array())
            for (const Value& n : *chain)
                if (const std::string* s = n.string()) consider(*s);
        if (r.known == Known::None && !r.coding) {
            fail(concat({"unknown class ", *className.string()}));
            return nullptr;
        }
        return &classes_.emplace(classUid, std::move(r)).first->second;
    }

    Value instance(const Value& dict, const Resolved& cls, int depth, int& height) {
        switch (cls.known) {
            case Known::Array: return array(dict, "NS.objects", depth, height);
            case Known::Dictionary: return dictionary(dict, depth, height);
            case Known::String: return string(dict, depth, height);
            case Known::Data: return data(dict, depth, height);
            case Known::Date: return Value(Date{time(dict)});
            case Known::CalendarDate: return calendarDate(dict, depth, height);
            case Known::TimeZone:
            case Known::LocalTimeZone: return fail("time zone outside a calendar date");
            case Known::Null: return Value(Null{});
            case Known::None: break;
        }
        return custom(dict, cls.name, *cls.coding, depth, height);
    }

    std::optional<Array> references(const Value& dict, std::string_view key, int depth, int& height) {
        const Value list = dict[key];
        if (list.isNil()) return Array{};
        const Array* refs = list.array();
        if (!refs) {
            fail(concat({key, " is not an array"}));
            return std::nullopt;
        }
        Array items;
        items.reserve(refs->size());
        for (const Value& ref : *refs) {
            const auto uid = asUid(ref);
            if (!uid) {
                fail(concat({key, " holds something other than references"}));
                return std::nullopt;
            }
            int h = 0;
            items.push_back(decode(*uid, depth, h));
            if (failure_) return std::nullopt;
            height = std::max(height, h);
        }
        return items;
    }

    Value array(const Value& dict, std::string_view key, int depth, int& height) {
        auto items = references(dict, key, depth, height);
        return items ? Value(std::move(*items)) : Value();
    }

    Value dictionary(const Value& dict, int depth, int& height) {
        auto keys = references(dict, "NS.keys", depth, height);
        if (!keys) return {};
        auto values = references(dict, "NS.objects", depth, height);
        if (!values) return {};
        if (keys->size() != values->size()) return fail("NS.keys and NS.objects differ in length");
        DictionaryBuilder entries;
        entries.reserve(keys->size());
        for (size_t i = 0; i < keys->size(); ++i) entries.set(std::move((*keys)[i]), std::move((*values)[i]));
        return Value(entries.take());
    }

    // NSMutableString: the text inline under NS.string (or referenced), else UTF-8 in NS.bytes.
    Value string(const Value& dict, int depth, int& height) {
        const Value inline_ = dict["NS.string"];
        if (inline_.string()) return inline_;
        if (!inline_.isNil()) {
            Value v = member(dict, "NS.string", depth, height);
            if (failure_) return {};
            if (v.string()) return v;
            return fail("NS.string is not a string");
        }
        if (const Data* bytes = dict["NS.bytes"].data()) {
            std::string text(bytes->begin(), bytes->end());
            if (!isValidUtf8(text)) return fail("NS.bytes is not UTF-8");
            return Value(std::move(text));
        }
        return fail("string object without its text");
    }

    Value data(const Value& dict, int depth, int& height) {
        const Value inline_ = dict["NS.data"];
        if (inline_.data()) return inline_;
        Value v = member(dict, "NS.data", depth, height);
        if (failure_) return {};
        if (v.data()) return v;
        return fail("NS.data is not data");
    }

    static double time(const Value& dict) {
        const Value t = dict["NS.time"];
        if (const Real* r = t.realValue()) return r->value;
        if (const Integer* i = t.integerValue()) return static_cast<double>(i->value);
        return 0.0;
    }

    Value calendarDate(const Value& dict, int depth, int& height) {
        Date d{time(dict), true, std::nullopt, std::nullopt};
        if (const Value zoneRef = dict["NS.timezone"]; !zoneRef.isNil()) {
            const auto uid = asUid(zoneRef);
            if (!uid) return fail("NS.timezone is not a reference");
            d.timeZone = timeZone(*uid, depth, height);
            if (failure_) return {};
        }
        const Value format = member(dict, "NS.format", depth, height);
        if (failure_) return {};
        if (!format.isNil() && !format.string()) return fail("NS.format is not a string");
        if (format.string()) d.format = *format.string();
        return Value(std::move(d));
    }

    // The zone's name; nullopt for nil and for the local zone, which both mean the default zone.
    std::optional<std::string> timeZone(uint64_t uid, int depth, int& height) {
        if (uid == 0) return std::nullopt;
        if (uid >= objects_->size()) {
            fail(concat({"reference $objects[", std::to_string(uid), "] out of range"}));
            return std::nullopt;
        }
        uid = canonical(uid);
        if (auto it = zones_.find(uid); it != zones_.end()) return it->second;
        const Value& zone = (*objects_)[uid];
        const auto classRef = asUid(zone["$class"]);
        const Value className =
            classRef && *classRef < objects_->size() ? (*objects_)[*classRef]["$classname"] : Value();
        if (!zone.dictionary() || !className.string()) {
            fail("NS.timezone is not a time zone");
            return std::nullopt;
        }
        std::optional<std::string> name;
        const Known kind = knownClass(*className.string());
        if (kind == Known::TimeZone) {
            const Value n = member(zone, "NS.name", depth + 1, height);
            if (!n.string()) {
                fail("time zone without a name");
                return std::nullopt;
            }
            name = *n.string();
        } else if (kind != Known::LocalTimeZone) {
            fail("NS.timezone is not a time zone");
            return std::nullopt;
        }
        zones_.emplace(uid, name);
        return name;
    }

    // Hands a registered class the values of "$0", "$1", ... in turn.
    class ObjectDecoder : public Decoder {
    public:
        ObjectDecoder(KeyedUnarchiver& owner, const Value& dict, int depth)
            : owner_(owner), dict_(dict), depth_(depth) {}
        Value decodeObject() override {
            if (owner_.failure_) return {};
            const std::string key = concat({"$", std::to_string(next_++)});
            return owner_.member(dict_, key, depth_, height_);
        }
        int height() const { return height_; }

    private:
        KeyedUnarchiver& owner_;
        const Value& dict_;
        int depth_;
        size_t next_ = 0;
        int height_ = 0;
    };

    Value custom(const Value& dict, const std::string& name, const ClassCoding& coding, int depth, int& height) {
        ObjectDecoder decoder(*this, dict, depth);
        std::shared_ptr<Object> object = coding.decode(decoder);
        height = std::max(height, decoder.height());
        if (failure_) return {};
        if (!object) return fail(concat({"object of class ", name, " could not be decoded"}));
        return Value(std::move(object));
    }

    DecodeLimits limits_;
    const Array* objects_ = nullptr;
    SharedObjects decoded_;
    std::unordered_map<uint64_t, std::optional<std::string>> zones_;
    std::unordered_map<uint64_t, Resolved> classes_;
    std::unordered_map<const void*, uint64_t> canonical_;
    std::optional<DecodeError> failure_;
};

}  // namespace

DecodeResult keyedUnarchive(std::string_view bytes, const DecodeLimits& limits) {
    return KeyedUnarchiver(limits).unarchive(bytes);
}

}  // namespace hv
