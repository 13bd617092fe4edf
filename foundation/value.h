#pragma once

// The value model shared by property lists, both archive formats, the policy record and the
// daemon: nil, string, integer, real, boolean, date, data, array, dictionary, null, or an object of
// a registered class. Strings, data, arrays, dictionaries and objects are held by shared pointer, so
// a decoder that meets the same reference twice shares one decoded value instead of copying it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace hv {

class Value;
class Object;

using Array = std::vector<Value>;
// Keys are values: property lists only use strings, but a typedstream NSDictionary may hold any.
using Dictionary = std::vector<std::pair<Value, Value>>;
using Data = std::vector<uint8_t>;

// A number remembers how it was stored so that archives write it back as it came.
// `encoding` is the Objective-C type character: 'c' 'C' 's' 'S' 'i' 'I' 'l' 'L' 'q' 'Q' for
// integers, 'f' 'd' for reals.
struct Integer {
    int64_t value = 0;
    char encoding = 'q';
    // Binary property lists can hold unsigned 64-bit values above INT64_MAX.
    bool isUnsigned64 = false;
};

struct Real {
    double value = 0.0;
    char encoding = 'd';
};

struct Boolean {
    bool value = false;
};

// A moment in time: seconds since 2001-01-01 00:00:00 UTC. A calendar date (NSCalendarDate)
// also carries the time zone name and format string it was archived with, written back as read.
struct Date {
    double time = 0.0;
    bool calendar = false;
    std::optional<std::string> timeZone;
    std::optional<std::string> format;
};

// A keyed archive's object reference (CF$UID), only seen inside binary property lists.
struct Uid {
    uint64_t value = 0;
};

// NSNull: a present object that stands for "nothing", distinct from an absent (nil) value.
struct Null {};

// Base of the objects of registered (custom) classes; see class_registry.h.
class Object {
public:
    virtual ~Object() = default;
    virtual std::string_view className() const = 0;
};

class Value {
public:
    enum class Kind {
        Nil, String, Integer, Real, Boolean, Date, Data, Array, Dictionary, Null, Object, Uid
    };

    Value() = default;
    Value(std::string s) : v_(std::make_shared<const std::string>(std::move(s))) {}
    // A null C string is nil, as a nil NSString is.
    Value(const char* s) {
        if (s) v_ = std::make_shared<const std::string>(s);
    }
    // A null handle stands for the empty container, so a kind always comes with its content.
    Value(std::shared_ptr<const std::string> s) : v_(orEmpty(std::move(s))) {}
    Value(Integer i) : v_(i) {}
    Value(Real r) : v_(r) {}
    Value(Boolean b) : v_(b) {}
    Value(Date d) : v_(std::move(d)) {}
    Value(Data d) : v_(std::make_shared<const hv::Data>(std::move(d))) {}
    Value(Array a) : v_(std::make_shared<const hv::Array>(std::move(a))) {}
    Value(Dictionary d) : v_(std::make_shared<const hv::Dictionary>(std::move(d))) {}
    Value(std::shared_ptr<const hv::Array> a) : v_(orEmpty(std::move(a))) {}
    Value(std::shared_ptr<const hv::Dictionary> d) : v_(orEmpty(std::move(d))) {}
    Value(Null n) : v_(n) {}
    // A null object is nil.
    Value(std::shared_ptr<Object> o) {
        if (o) v_ = std::move(o);
    }
    Value(Uid u) : v_(u) {}

    static Value integer(int64_t i, char encoding = 'q') { return Value(Integer{i, encoding, false}); }
    static Value real(double d, char encoding = 'd') { return Value(Real{d, encoding}); }
    static Value boolean(bool b) { return Value(Boolean{b}); }

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isNil() const { return kind() == Kind::Nil; }
    bool isNumber() const {
        return kind() == Kind::Integer || kind() == Kind::Real || kind() == Kind::Boolean;
    }

    // Typed access: nullptr when the value is of another kind.
    const std::string* string() const { return ptr<std::string>(); }
    const Integer* integerValue() const { return std::get_if<Integer>(&v_); }
    const Real* realValue() const { return std::get_if<Real>(&v_); }
    const Boolean* booleanValue() const { return std::get_if<Boolean>(&v_); }
    const Date* date() const { return std::get_if<Date>(&v_); }
    const hv::Data* data() const { return ptr<hv::Data>(); }
    const hv::Array* array() const { return ptr<hv::Array>(); }
    const hv::Dictionary* dictionary() const { return ptr<hv::Dictionary>(); }
    const std::shared_ptr<Object>* object() const { return std::get_if<std::shared_ptr<Object>>(&v_); }
    const Uid* uid() const { return std::get_if<Uid>(&v_); }

    // Shared handles, for encoders that must recognise the same array or dictionary met twice.
    const void* identity() const;

    // Foundation's numeric readings (see value.cc for the rules): integers truncate to the
    // width, reals truncate toward zero, booleans give 1 or 0, strings give their leading
    // decimal integer after optional blanks and sign (0 when none), everything else 0.
    int32_t intValue() const;
    int64_t longLongValue() const;
    bool boolValue() const;

    // Dictionary lookup by string key; nil when absent or when this is not a dictionary.
    Value operator[](std::string_view key) const;

    // Structural equality (objects compare by identity). Integer and real encodings are ignored.
    friend bool operator==(const Value& a, const Value& b);

private:
    template <class T>
    static std::shared_ptr<const T> orEmpty(std::shared_ptr<const T> p) {
        return p ? std::move(p) : std::make_shared<const T>();
    }
    template <class T>
    const T* ptr() const {
        auto p = std::get_if<std::shared_ptr<const T>>(&v_);
        return p ? p->get() : nullptr;
    }

    std::variant<std::monostate, std::shared_ptr<const std::string>, Integer, Real, Boolean, Date,
                 std::shared_ptr<const hv::Data>, std::shared_ptr<const hv::Array>,
                 std::shared_ptr<const hv::Dictionary>, Null, std::shared_ptr<Object>, Uid>
        v_;
};

}  // namespace hv
