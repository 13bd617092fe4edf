// Binary property list writer in the layout CoreFoundation produces: objects in pre-order (a
// dictionary's keys, then its values), equal strings, numbers, dates, data and UIDs written once,
// a shared array or dictionary written once, and the narrowest reference and offset widths.

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/decode.h"
#include "foundation/property_list.h"
#include "foundation/unicode.h"

namespace hv {

namespace {

size_t widthFor(uint64_t maximum) {
    if (maximum <= 0xFF) return 1;
    if (maximum <= 0xFFFF) return 2;
    if (maximum <= 0xFFFFFFFFu) return 4;
    return 8;
}

void putBigEndian(std::string& out, uint64_t v, size_t width) {
    for (size_t i = width; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putDouble(std::string& out, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    putBigEndian(out, bits, 8);
}

class BinaryWriter {
public:
    std::optional<std::string> write(const Value& root) {
        if (!flatten(root, 0)) return std::nullopt;
        refSize_ = widthFor(objects_.size() - 1);
        std::string out = "bplist00";
        std::vector<uint64_t> offsets;
        offsets.reserve(objects_.size());
        for (size_t i = 0; i < objects_.size(); ++i) {
            offsets.push_back(out.size());
            if (!encode(out, *objects_[i], i)) return std::nullopt;
        }
        const uint64_t tableOffset = out.size();
        const size_t offsetSize = widthFor(tableOffset);
        for (uint64_t o : offsets) putBigEndian(out, o, offsetSize);
        out.append(6, '\0');
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(refSize_);
        putBigEndian(out, objects_.size(), 8);
        putBigEndian(out, 0, 8);
        putBigEndian(out, tableOffset, 8);
        return out;
    }

private:
    // Scalars are merged by content; the key tells apart kinds and the stored width of numbers.
    // Its bytes point into the value being written, which outlives the writer.
    struct ScalarKey {
        int kind = 0;
        uint64_t bits = 0;
        std::string_view bytes;
        char width = 0;
        bool operator==(const ScalarKey&) const = default;
    };
    struct ScalarHash {
        size_t operator()(const ScalarKey& k) const {
            size_t h = std::hash<std::string_view>{}(k.bytes);
            h ^= std::hash<uint64_t>{}(k.bits) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
            return h ^ (static_cast<size_t>(k.kind) << 8) ^ static_cast<size_t>(k.width);
        }
    };

    static std::optional<ScalarKey> scalarKey(const Value& v) {
        const int kind = static_cast<int>(v.kind());
        switch (v.kind()) {
            case Value::Kind::String: return ScalarKey{kind, 0, *v.string(), '\0'};
            case Value::Kind::Integer:
                return ScalarKey{kind, static_cast<uint64_t>(v.integerValue()->value), {},
                                 v.integerValue()->isUnsigned64 ? 'u' : '\0'};
            case Value::Kind::Real: {
                uint64_t bits;
                std::memcpy(&bits, &v.realValue()->value, sizeof bits);
                return ScalarKey{kind, bits, {}, v.realValue()->encoding == 'f' ? 'f' : 'd'};
            }
            case Value::Kind::Boolean: return ScalarKey{kind, v.booleanValue()->value, {}, '\0'};
            case Value::Kind::Date: {
                uint64_t bits;
                std::memcpy(&bits, &v.date()->time, sizeof bits);
                return ScalarKey{kind, bits, {}, '\0'};
            }
            case Value::Kind::Data: {
                const hv::Data& data = *v.data();
                return ScalarKey{kind, 0, {reinterpret_cast<const char*>(data.data()), data.size()}, '\0'};
            }
            case Value::Kind::Uid: return ScalarKey{kind, v.uid()->value, {}, '\0'};
            default: return std::nullopt;
        }
    }

    // What flatten found of a value: its object number, and the number of containers from it
    // down to its deepest leaf.
    struct Flat {
        uint64_t number = 0;
        int height = 0;
    };

    // Gives v an object number (pre-order); nullopt when v cannot be written. A container met
    // again is not walked again, but its recorded height still counts where it is met. The
    // object numbers of a container's entries are noted in `refs_` (keys first, then values), in
    // the order encoding writes them, so that encoding looks nothing up again.
    std::optional<Flat> flatten(const Value& v, int depth) {
        if (auto key = scalarKey(v)) {
            const auto [it, added] = scalars_.try_emplace(*key, objects_.size());
            if (added && !add(v)) return std::nullopt;
            return Flat{it->second, 0};
        }
        if (v.kind() != Value::Kind::Array && v.kind() != Value::Kind::Dictionary) return std::nullopt;
        // The writer keeps to the limits its reader enforces.
        const int maxDepth = DecodeLimits{}.maxDepth;
        if (auto it = containers_.find(v.identity()); it != containers_.end()) {
            if (depth + it->second.height > maxDepth) return std::nullopt;
            return Flat{it->second.number, it->second.height};
        }
        if (depth + 1 > maxDepth) return std::nullopt;
        const uint64_t index = objects_.size();
        if (!add(v)) return std::nullopt;
        // The reader holds the entries of all containers to the object limit as well.
        const size_t count = v.array() ? v.array()->size() : 2 * v.dictionary()->size();
        entries_ += count;
        if (entries_ > DecodeLimits{}.maxObjects) return std::nullopt;
        size_t slot = refs_.size();
        firstRef_[index] = slot;
        refs_.resize(slot + count);
        int height = 0;
        const auto child = [&](const Value& c) {
            const auto flat = flatten(c, depth + 1);
            if (!flat) return false;
            height = std::max(height, flat->height);
            refs_[slot++] = flat->number;
            return true;
        };
        if (const Array* a = v.array()) {
            for (const Value& item : *a)
                if (!child(item)) return std::nullopt;
        } else {
            const Dictionary& d = *v.dictionary();
            for (const auto& entry : d)
                if (!entry.first.string() || !child(entry.first)) return std::nullopt;
            for (const auto& entry : d)
                if (!child(entry.second)) return std::nullopt;
        }
        containers_.emplace(v.identity(), Flat{index, height + 1});
        return Flat{index, height + 1};
    }

    bool add(const Value& v) {
        if (objects_.size() >= DecodeLimits{}.maxObjects) return false;
        objects_.push_back(&v);
        firstRef_.push_back(0);
        return true;
    }


    // The references to the `count` entries of container `index`, as flatten noted them.
    void putRefs(std::string& out, size_t index, size_t count) const {
        const size_t first = firstRef_[index];
        for (size_t i = first; i < first + count; ++i) putBigEndian(out, refs_[i], refSize_);
    }

    static void marker(std::string& out, uint8_t type, uint64_t count) {
        if (count < 0x0F) {
            out += static_cast<char>((type << 4) | count);
            return;
        }
        out += static_cast<char>((type << 4) | 0x0F);
        const size_t width = widthFor(count);
        out += static_cast<char>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3));
        putBigEndian(out, count, width);
    }

    // Writes object `index`, which is v.
    bool encode(std::string& out, const Value& v, size_t index) {
        switch (v.kind()) {
            case Value::Kind::Boolean:
                out += static_cast<char>(v.booleanValue()->value ? 0x09 : 0x08);
                return true;
            case Value::Kind::Integer: {
                const Integer& i = *v.integerValue();
                const uint64_t bits = static_cast<uint64_t>(i.value);
                if (i.isUnsigned64) {
                    out += '\x14';
                    putBigEndian(out, 0, 8);
                    putBigEndian(out, bits, 8);
                } else if (i.value < 0) {
                    out += '\x13';
                    putBigEndian(out, bits, 8);
                } else {
                    const size_t width = widthFor(bits);
                    out += static_cast<char>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3));
                    putBigEndian(out, bits, width);
                }
                return true;
            }
            case Value::Kind::Real: {
                const Real& r = *v.realValue();
                if (r.encoding == 'f') {
                    const float f = static_cast<float>(r.value);
                    uint32_t bits;
                    std::memcpy(&bits, &f, sizeof bits);
                    out += '\x22';
                    putBigEndian(out, bits, 4);
                } else {
                    out += '\x23';
                    putDouble(out, r.value);
                }
                return true;
            }
            case Value::Kind::Date:
                out += '\x33';
                putDouble(out, v.date()->time);
                return true;
            case Value::Kind::Data:
                marker(out, 0x4, v.data()->size());
                out.append(v.data()->begin(), v.data()->end());
                return true;
            case Value::Kind::String:
                return encodeString(out, *v.string());
            case Value::Kind::Uid: {
                const uint64_t uid = v.uid()->value;
                if (uid > 0xFFFFFFFFu) return false;
                const size_t width = widthFor(uid);
                out += static_cast<char>(0x80 | (width - 1));
                putBigEndian(out, uid, width);
                return true;
            }
            case Value::Kind::Array:
                marker(out, 0xA, v.array()->size());
                putRefs(out, index, v.array()->size());
                return true;
            case Value::Kind::Dictionary:
                marker(out, 0xD, v.dictionary()->size());
                putRefs(out, index, 2 * v.dictionary()->size());
                return true;
            default:
                return false;
        }
    }

    static bool encodeString(std::string& out, const std::string& s) {
        bool ascii = true;
        for (char c : s) ascii = ascii && static_cast<uint8_t>(c) < 0x80;
        if (ascii) {
            marker(out, 0x5, s.size());
            out += s;
            return true;
        }
        const auto units = utf8ToUtf16(s);
        if (!units) return false;
        marker(out, 0x6, units->size());
        for (uint16_t u : *units) putBigEndian(out, u, 2);
        return true;
    }

    std::vector<const Value*> objects_;
    std::unordered_map<ScalarKey, uint64_t, ScalarHash> scalars_;
    std::unordered_map<const void*, Flat> containers_;
    // The entries' object numbers of every container, and where each container's begin.
    std::vector<uint64_t> refs_;
    std::vector<size_t> firstRef_;  // by object number; containers' only are used
    size_t entries_ = 0;
    size_t refSize_ = 1;
};

}  // namespace

std::optional<std::string> writeBinaryPropertyList(const Value& root) { return BinaryWriter().write(root); }

}  // namespace hv
