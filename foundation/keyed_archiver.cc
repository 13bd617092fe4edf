// NSKeyedArchiver's layout. Objects are numbered as Apple numbers them: an object's dictionary
// takes its place in $objects before its contents are encoded (pre-order), and a class
// dictionary is appended once, after the first object of that class has finished encoding.
// Strings and numbers are stored directly and written once per distinct value, which is what
// Apple's constant strings and tagged numbers give; arrays, dictionaries, data and objects are
// written once per instance.

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "foundation/calendar_date.h"
#include "foundation/coder.h"
#include "foundation/concat.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"

namespace hv {

namespace {

constexpr uint64_t kNilUid = 0;

class KeyedArchiver {
public:
    std::optional<std::string> archive(const Value& root) {
        objects_.push_back(Value("$null"));
        const auto top = encode(root, 0);
        if (!top || failed_) return std::nullopt;
        Dictionary archive;
        archive.reserve(4);
        archive.emplace_back(Value("$archiver"), Value("NSKeyedArchiver"));
        archive.emplace_back(Value("$objects"), Value(std::move(objects_)));
        archive.emplace_back(Value("$top"), Value(Dictionary{{Value("root"), Value(Uid{*top})}}));
        archive.emplace_back(Value("$version"), Value::integer(100000));
        return writeBinaryPropertyList(Value(std::move(archive)));
    }

    // The UID of v in $objects, encoding it on first sight; nullopt when v cannot be archived.
    std::optional<uint64_t> encode(const Value& v, int depth) {
        if (failed_) return std::nullopt;
        // The reader's limits: an object stored as a dictionary is one more level of nesting.
        const int maxDepth = DecodeLimits{}.maxDepth;
        const bool isObject = !isDirect(v) && !v.isNil();
        if (depth > maxDepth || (isObject && depth + 1 > maxDepth)) return fail();
        if (isObject) deepest_ = std::max(deepest_, depth + 1);
        switch (v.kind()) {
            case Value::Kind::Nil:
                return kNilUid;
            case Value::Kind::String:
            case Value::Kind::Integer:
            case Value::Kind::Real:
            case Value::Kind::Boolean:
                return direct(v);
            case Value::Kind::Data:
                return once(v, depth, [&] { return add(v); });
            case Value::Kind::Date:
                return date(*v.date(), depth);
            case Value::Kind::Array:
                return once(v, depth, [&] { return array(*v.array(), depth); });
            case Value::Kind::Dictionary:
                return once(v, depth, [&] { return dictionary(*v.dictionary(), depth); });
            case Value::Kind::Null:
                // NSNull is a singleton: every null is the same instance.
                if (!null_) null_ = finish(reserve(), {}, {"NSNull", "NSObject"});
                return null_;
            case Value::Kind::Object:
                return once(v, depth, [&] { return object(**v.object(), depth); });
            case Value::Kind::Uid:
                return fail();
        }
        return fail();
    }

private:
    static bool isDirect(const Value& v) {
        return v.string() || v.isNumber() || v.data();
    }

    std::optional<uint64_t> fail() {
        failed_ = true;
        return std::nullopt;
    }

    uint64_t add(Value v) {
        objects_.push_back(std::move(v));
        return objects_.size() - 1;
    }

    uint64_t reserve() { return add(Value()); }

    // Encodes an instance the first time; later it is a reference to the same entry. Its
    // height (levels of objects from it down) still counts wherever it is met again.
    template <class Encode>
    std::optional<uint64_t> once(const Value& v, int depth, Encode encodeFirst) {
        if (auto it = instances_.find(v.identity()); it != instances_.end()) {
            if (depth + it->second.height > DecodeLimits{}.maxDepth) return fail();
            deepest_ = std::max(deepest_, depth + it->second.height);
            return it->second.uid;
        }
        held_.push_back(v);
        const int outer = deepest_;
        deepest_ = v.data() ? depth : depth + 1;
        const std::optional<uint64_t> uid = encodeFirst();
        if (uid) instances_.emplace(v.identity(), Instance{*uid, deepest_ - depth});
        deepest_ = std::max(outer, deepest_);
        return uid;
    }

    // Strings and numbers are merged by value; the key keeps kinds and number widths apart.
    using ScalarKey = std::tuple<int, std::string, uint64_t, char>;

    static ScalarKey scalarKey(const Value& v) {
        const int kind = static_cast<int>(v.kind());
        if (const Integer* i = v.integerValue())
            return {kind, "", static_cast<uint64_t>(i->value), i->isUnsigned64 ? 'u' : 's'};
        if (const Real* r = v.realValue()) {
            uint64_t bits;
            std::memcpy(&bits, &r->value, sizeof bits);
            return {kind, "", bits, r->encoding == 'f' ? 'f' : 'd'};
        }
        if (const Boolean* b = v.booleanValue()) return {kind, "", b->value, 0};
        return {kind, *v.string(), 0, 0};
    }

    uint64_t direct(const Value& v) {
        ScalarKey key = scalarKey(v);
        if (auto it = scalars_.find(key); it != scalars_.end()) return it->second;
        const uint64_t uid = add(v);
        scalars_.emplace(std::move(key), uid);
        return uid;
    }

    // Stores an object's dictionary in its reserved slot with "$class" last, appending the class
    // dictionary if this is the first object of its class.
    std::optional<uint64_t> finish(uint64_t uid, Dictionary entries, const std::vector<std::string>& chain) {
        entries.emplace_back(Value("$class"), Value(Uid{classUid(chain)}));
        objects_[uid] = Value(std::move(entries));
        return uid;
    }

    uint64_t classUid(const std::vector<std::string>& chain) {
        if (auto it = classes_.find(chain.front()); it != classes_.end()) return it->second;
        Array names;
        for (const std::string& name : chain) names.emplace_back(name);
        const uint64_t uid = add(Value(Dictionary{{Value("$classname"), Value(chain.front())},
                                                  {Value("$classes"), Value(std::move(names))}}));
        classes_.emplace(chain.front(), uid);
        return uid;
    }

    std::optional<Array> uids(const Array& items, int depth) {
        Array refs;
        refs.reserve(items.size());
        for (const Value& item : items) {
            const auto uid = encode(item, depth + 1);
            if (!uid) return std::nullopt;
            refs.emplace_back(Uid{*uid});
        }
        return refs;
    }

    std::optional<uint64_t> array(const Array& items, int depth) {
        const uint64_t uid = reserve();
        auto refs = uids(items, depth);
        if (!refs) return std::nullopt;
        return finish(uid, {{Value("NS.objects"), Value(std::move(*refs))}},
                      {"NSMutableArray", "NSArray", "NSObject"});
    }

    std::optional<uint64_t> dictionary(const Dictionary& entries, int depth) {
        const uint64_t uid = reserve();
        Array keys, values;
        keys.reserve(entries.size());
        values.reserve(entries.size());
        for (const auto& entry : entries) keys.push_back(entry.first);
        for (const auto& entry : entries) values.push_back(entry.second);
        auto keyRefs = uids(keys, depth);
        if (!keyRefs) return std::nullopt;
        auto valueRefs = uids(values, depth);
        if (!valueRefs) return std::nullopt;
        return finish(uid,
                      {{Value("NS.keys"), Value(std::move(*keyRefs))},
                       {Value("NS.objects"), Value(std::move(*valueRefs))}},
                      {"NSMutableDictionary", "NSDictionary", "NSObject"});
    }

    // NSCalendarDate encodes time, time zone and format, in that order; NSDate only its time.
    std::optional<uint64_t> date(const Date& d, int depth) {
        const uint64_t uid = reserve();
        Dictionary entries;
        entries.reserve(4);  // time, zone, format, class
        entries.emplace_back(Value("NS.time"), Value::real(d.time));
        if (!d.calendar) return finish(uid, std::move(entries), {"NSDate", "NSObject"});
        uint64_t zone = kNilUid;
        if (d.timeZone) {
            const auto z = timeZone(*d.timeZone);
            if (!z) return std::nullopt;
            zone = *z;
        }
        entries.emplace_back(Value("NS.timezone"), Value(Uid{zone}));
        uint64_t format = kNilUid;
        if (d.format) {
            const auto f = encode(Value(*d.format), depth + 1);
            if (!f) return std::nullopt;
            format = *f;
        }
        entries.emplace_back(Value("NS.format"), Value(Uid{format}));
        return finish(uid, std::move(entries), {"NSCalendarDate", "NSDate", "NSObject"});
    }

    // One NSTimeZone per name, as the shared default zone of a process is one instance. Its data
    // is left nil: the reader looks the zone up by name.
    std::optional<uint64_t> timeZone(const std::string& name) {
        if (auto it = timeZones_.find(name); it != timeZones_.end()) return it->second;
        const uint64_t uid = reserve();
        const uint64_t nameUid = direct(Value(name));
        finish(uid, {{Value("NS.name"), Value(Uid{nameUid})}, {Value("NS.data"), Value(Uid{kNilUid})}},
               {"NSTimeZone", "NSObject"});
        timeZones_.emplace(name, uid);
        return uid;
    }

    // Gives each key-less encodeObject() of one object the next key "$0", "$1", ...
    class ObjectCoder : public Coder {
    public:
        ObjectCoder(KeyedArchiver& archiver, int depth) : archiver_(archiver), depth_(depth) {}
        void encodeObject(const Value& value) override {
            const auto uid = archiver_.encode(value, depth_ + 1);
            if (!uid) return;
            entries_.emplace_back(Value(concat({"$", std::to_string(entries_.size())})), Value(Uid{*uid}));
        }
        Dictionary take() { return std::move(entries_); }

    private:
        KeyedArchiver& archiver_;
        int depth_;
        Dictionary entries_;
    };

    std::optional<uint64_t> object(const Object& o, int depth) {
        const ClassCoding* coding = ClassRegistry::find(o.className());
        if (!coding) return fail();
        const uint64_t uid = reserve();
        ObjectCoder coder(*this, depth);
        coding->encode(o, coder);
        if (failed_) return std::nullopt;
        return finish(uid, coder.take(), coding->classChain);
    }

    Array objects_;
    bool failed_ = false;
    // Every instance met, kept alive so that no address is reused by a later temporary value.
    std::vector<Value> held_;
    struct Instance {
        uint64_t uid;
        int height;
    };
    std::unordered_map<const void*, Instance> instances_;
    // The deepest level an object has taken so far (an object at depth d takes level d + 1).
    int deepest_ = 0;
    std::map<ScalarKey, uint64_t> scalars_;
    std::optional<uint64_t> null_;
    std::unordered_map<std::string, uint64_t> classes_;
    std::unordered_map<std::string, uint64_t> timeZones_;
};

}  // namespace

std::optional<std::string> keyedArchive(const Value& root) { return KeyedArchiver().archive(root); }

}  // namespace hv
