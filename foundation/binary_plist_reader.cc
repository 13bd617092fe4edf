// Bounded reader for binary property lists ("bplist00").
//
// Layout: 8-byte header, the objects, an offset table (one big-endian offset per object) and a
// 32-byte trailer giving the offset and reference widths, the object count, the top object and
// where the offset table starts. Every object is decoded at most once and the result shared, so
// a file whose references fan out exponentially costs no more than its size. Recursion follows
// container nesting only, which is capped by DecodeLimits::maxDepth.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/dictionary_builder.h"
#include "foundation/property_list.h"
#include "foundation/shared_objects.h"
#include "foundation/unicode.h"

namespace hv {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kTrailerSize = 32;

uint64_t readBigEndian(const uint8_t* p, size_t width) {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
}

double readDouble(const uint8_t* p) {
    const uint64_t bits = readBigEndian(p, 8);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

float readFloat(const uint8_t* p) {
    const uint32_t bits = static_cast<uint32_t>(readBigEndian(p, 4));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

class BinaryReader {
public:
    BinaryReader(std::string_view bytes, const DecodeLimits& limits)
        : data_(reinterpret_cast<const uint8_t*>(bytes.data())), size_(bytes.size()), limits_(limits) {}

    DecodeResult read() {
        DecodeResult result;
        if (auto error = readTrailer()) {
            result.error = std::move(error);
            return result;
        }
        objects_.resize(objectCount_);
        int height = 0;
        Value top = object(topObject_, 0, size_ - kTrailerSize + 16, height);
        if (failure_) {
            result.error = std::move(failure_);
            return result;
        }
        result.value = std::move(top);
        return result;
    }

private:
    std::optional<DecodeError> readTrailer() {
        if (size_ > limits_.maxBytes) return DecodeError{"property list larger than the size limit", limits_.maxBytes};
        if (size_ < kHeaderSize + kTrailerSize + 1) return DecodeError{"binary property list truncated", size_};
        if (std::memcmp(data_, "bplist00", kHeaderSize) != 0) return DecodeError{"not a binary property list", 0};
        const size_t t = size_ - kTrailerSize;
        offsetSize_ = data_[t + 6];
        refSize_ = data_[t + 7];
        const uint64_t count = readBigEndian(data_ + t + 8, 8);
        const uint64_t top = readBigEndian(data_ + t + 16, 8);
        const uint64_t table = readBigEndian(data_ + t + 24, 8);
        const auto validWidth = [](size_t w) { return w == 1 || w == 2 || w == 4 || w == 8; };
        if (!validWidth(offsetSize_)) return DecodeError{"bad offset width in trailer", t + 6};
        if (!validWidth(refSize_)) return DecodeError{"bad reference width in trailer", t + 7};
        if (count == 0) return DecodeError{"no objects", t + 8};
        if (count > limits_.maxObjects) return DecodeError{"more objects than the limit", t + 8};
        if (top >= count) return DecodeError{"top object out of range", t + 16};
        // count is at most maxObjects here and the widths at most 8, so nothing below overflows.
        if (table < kHeaderSize + 1 || table > t || count * offsetSize_ > t - table)
            return DecodeError{"offset table out of range", t + 24};
        objectCount_ = count;
        topObject_ = top;
        offsetTable_ = table;
        return std::nullopt;
    }

    void fail(std::string message, size_t offset) {
        if (!failure_) failure_ = DecodeError{std::move(message), offset};
    }

    // The value of object index, met inside `depth` containers; height receives the number of
    // containers from it down to its deepest leaf (0 for a scalar).
    Value object(uint64_t index, int depth, size_t from, int& height) {
        if (failure_) return {};
        if (index >= objectCount_) {
            fail("object reference out of range", from);
            return {};
        }
        Value shared;
        switch (objects_.lookup(index, depth, limits_.maxDepth, shared, height)) {
            case SharedObjects::Lookup::Cycle:
                fail("reference cycle", from);
                return {};
            case SharedObjects::Lookup::TooDeep:
                fail("nesting deeper than the limit", from);
                return {};
            case SharedObjects::Lookup::Shared:
                return shared;
            case SharedObjects::Lookup::Unread:
                break;
        }
        const size_t at = readBigEndian(data_ + offsetTable_ + index * offsetSize_, offsetSize_);
        if (at < kHeaderSize || at >= offsetTable_) {
            fail("object offset out of range", offsetTable_ + index * offsetSize_);
            return {};
        }
        objects_.startDecoding(index);
        height = 0;
        Value v = parse(at, depth, height);
        objects_.finishDecoding(index, v, height);
        return v;
    }

    // Bytes from at to the start of the offset table.
    size_t room(size_t at) const { return offsetTable_ - at; }

    // The length that follows a marker whose low nibble is `nibble`: the nibble itself, or an
    // integer object after it when the nibble is 0xF. `at` moves past what was read.
    std::optional<uint64_t> length(uint8_t nibble, size_t& at) {
        if (nibble != 0x0F) return nibble;
        if (room(at) < 1) {
            fail("truncated length", at);
            return std::nullopt;
        }
        const uint8_t marker = data_[at];
        const size_t width = size_t{1} << (marker & 0x0F);
        if ((marker & 0xF0) != 0x10 || width > 8) {
            fail("bad length marker", at);
            return std::nullopt;
        }
        if (room(at + 1) < width) {
            fail("truncated length", at);
            return std::nullopt;
        }
        const uint64_t n = readBigEndian(data_ + at + 1, width);
        at += 1 + width;
        return n;
    }

    // Checks that count items of itemSize bytes fit before the offset table.
    bool fits(uint64_t count, size_t itemSize, size_t at) {
        if (count > room(at) / itemSize) {
            fail("length runs past the end of the objects", at);
            return false;
        }
        return true;
    }

    Value parse(size_t at, int depth, int& height) {
        const size_t start = at;
        const uint8_t marker = data_[at++];
        const uint8_t nibble = marker & 0x0F;
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x00) return Value(Null{});
                if (marker == 0x08) return Value::boolean(false);
                if (marker == 0x09) return Value::boolean(true);
                break;
            case 0x1:
                return integer(nibble, at, start);
            case 0x2:
                if (nibble == 2 && fits(4, 1, at)) return Value::real(readFloat(data_ + at), 'f');
                if (nibble == 3 && fits(8, 1, at)) return Value::real(readDouble(data_ + at), 'd');
                if (nibble == 2 || nibble == 3) return {};
                break;
            case 0x3:
                if (marker == 0x33 && fits(8, 1, at)) return Value(Date{readDouble(data_ + at)});
                if (marker == 0x33) return {};
                break;
            case 0x4: {
                const auto n = length(nibble, at);
                if (!n || !fits(*n, 1, at)) return {};
                return Value(Data(data_ + at, data_ + at + *n));
            }
            case 0x5: {
                const auto n = length(nibble, at);
                if (!n || !fits(*n, 1, at)) return {};
                // Bytes above 0x7F are not ASCII; they are read as Latin-1 rather than refused.
                return Value(latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(data_ + at), *n)));
            }
            case 0x6: {
                const auto n = length(nibble, at);
                if (!n || !fits(*n, 2, at)) return {};
                std::vector<uint16_t> units(*n);
                for (size_t i = 0; i < *n; ++i) units[i] = static_cast<uint16_t>(readBigEndian(data_ + at + 2 * i, 2));
                auto text = utf16ToUtf8(units);
                if (!text) {
                    fail("unpaired surrogate in string", start);
                    return {};
                }
                return Value(std::move(*text));
            }
            case 0x8: {
                const size_t width = nibble + 1u;
                if (width > 8 || !fits(width, 1, at)) {
                    if (width > 8) fail("UID wider than 8 bytes", start);
                    return {};
                }
                const uint64_t uid = readBigEndian(data_ + at, width);
                if (uid > 0xFFFFFFFFu) {
                    fail("UID above 2^32-1", start);
                    return {};
                }
                return Value(Uid{uid});
            }
            case 0xA:
                return array(nibble, at, depth, height);
            case 0xD:
                return dictionary(nibble, at, depth, height);
            default:
                break;
        }
        fail("unsupported object type", start);
        return {};
    }

    Value integer(uint8_t nibble, size_t at, size_t start) {
        if (nibble > 4) {
            fail("bad integer width", start);
            return {};
        }
        const size_t width = size_t{1} << nibble;
        if (!fits(width, 1, at)) return {};
        if (width < 8) return Value::integer(static_cast<int64_t>(readBigEndian(data_ + at, width)));
        if (width == 8) return Value::integer(static_cast<int64_t>(readBigEndian(data_ + at, 8)));
        // 16 bytes: an unsigned 64-bit value (high half zero) or a sign-extended negative one.
        const uint64_t high = readBigEndian(data_ + at, 8);
        const uint64_t low = readBigEndian(data_ + at + 8, 8);
        if (high == 0) return Value(Integer{static_cast<int64_t>(low), 'Q', low > uint64_t(INT64_MAX)});
        if (high == ~uint64_t{0} && low > uint64_t(INT64_MAX)) return Value::integer(static_cast<int64_t>(low));
        fail("integer beyond 64 bits", start);
        return {};
    }

    // Every entry of an array or dictionary becomes a value in memory; together with the objects
    // themselves they are held to the object limit, so memory stays proportional to it.
    bool count(uint64_t entries, size_t at) {
        if (entries > limits_.maxObjects - values_) {
            fail("more objects than the limit", at);
            return false;
        }
        values_ += entries;
        return true;
    }

    bool enter(int depth, size_t at) {
        if (depth + 1 > limits_.maxDepth) {
            fail("nesting deeper than the limit", at);
            return false;
        }
        return true;
    }

    Value array(uint8_t nibble, size_t at, int depth, int& height) {
        const size_t start = at - 1;
        if (!enter(depth, start)) return {};
        const auto n = length(nibble, at);
        if (!n || !fits(*n, refSize_, at) || !count(*n, start)) return {};
        Array items;
        items.reserve(*n);
        for (uint64_t i = 0; i < *n && !failure_; ++i) {
            const size_t refAt = at + i * refSize_;
            int childHeight = 0;
            items.push_back(object(readBigEndian(data_ + refAt, refSize_), depth + 1, refAt, childHeight));
            height = std::max(height, childHeight);
        }
        height += 1;
        return failure_ ? Value() : Value(std::move(items));
    }

    Value dictionary(uint8_t nibble, size_t at, int depth, int& height) {
        const size_t start = at - 1;
        if (!enter(depth, start)) return {};
        const auto n = length(nibble, at);
        if (!n || !fits(*n, 2 * refSize_, at) || !count(2 * *n, start)) return {};
        DictionaryBuilder entries;
        entries.reserve(*n);
        for (uint64_t i = 0; i < *n && !failure_; ++i) {
            const size_t keyAt = at + i * refSize_;
            const size_t valueAt = at + (*n + i) * refSize_;
            int childHeight = 0;
            Value key = object(readBigEndian(data_ + keyAt, refSize_), depth + 1, keyAt, childHeight);
            if (!failure_ && !key.string()) fail("dictionary key is not a string", keyAt);
            Value value = object(readBigEndian(data_ + valueAt, refSize_), depth + 1, valueAt, childHeight);
            height = std::max(height, childHeight);
            entries.set(std::move(key), std::move(value));
        }
        height += 1;
        return failure_ ? Value() : Value(entries.take());
    }

    const uint8_t* data_;
    size_t size_;
    DecodeLimits limits_;
    size_t offsetSize_ = 0, refSize_ = 0;
    uint64_t objectCount_ = 0, topObject_ = 0, offsetTable_ = 0;
    SharedObjects objects_;
    size_t values_ = 0;
    std::optional<DecodeError> failure_;
};

}  // namespace

DecodeResult readBinaryPropertyList(std::string_view bytes, const DecodeLimits& limits) {
    return BinaryReader(bytes, limits).read();
}

}  // namespace hv
