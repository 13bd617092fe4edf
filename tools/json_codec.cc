#include "tools/json_codec.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <utility>

#include "common/table_element.h"
#include "foundation/unicode.h"
#include "tools/iso_date.h"

namespace hv {
namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kMaxValues = 100000;

const char* const kDayKeys[7] = {"d_sun", "d_mon", "d_tue", "d_wed", "d_thu", "d_fri", "d_sat"};

// ---- base64 ----

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const Data& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t n = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        for (int shift : {18, 12, 6, 0}) out += kBase64[(n >> shift) & 63];
    }
    if (i < data.size()) {
        uint32_t n = data[i] << 16;
        if (i + 1 < data.size()) n |= data[i + 1] << 8;
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += i + 1 < data.size() ? kBase64[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<Data> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    Data out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t n = 0;
        int pad = 0;
        for (size_t j = 0; j < 4; ++j) {
            char c = text[i + j];
            int v;
            if (c == '=' && i + 4 == text.size() && j >= 2) {
                ++pad;
                v = 0;
            } else if (pad > 0) {
                return std::nullopt;
            } else if (const char* p = std::char_traits<char>::find(kBase64, 64, c)) {
                v = static_cast<int>(p - kBase64);
            } else {
                return std::nullopt;
            }
            n = (n << 6) | static_cast<uint32_t>(v);
        }
        out.push_back(static_cast<uint8_t>(n >> 16));
        if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
        if (pad < 1) out.push_back(static_cast<uint8_t>(n));
    }
    return out;
}

bool validUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        uint32_t cp = len == 1 ? c : c & (0x7f >> len);
        for (size_t j = 1; j < len; ++j) {
            unsigned char cc = static_cast<unsigned char>(s[i + j]);
            if ((cc >> 6) != 2) return false;
            cp = (cp << 6) | (cc & 0x3f);
        }
        static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
        i += len;
    }
    return true;
}

std::string escapeKey(const std::string& key) { return !key.empty() && key[0] == '$' ? "$" + key : key; }

std::string where(const std::string& path) { return " at " + (path.empty() ? std::string("/") : path); }

// ---- Value -> JSON ----

class ToJson {
public:
    std::optional<JsonError> error;

    Json convert(const Value& v, const std::string& path, int depth) {
        if (error) return nullptr;
        if (depth > kMaxDepth) return fail("nesting deeper than 64 levels", path);
        if (++count_ > kMaxValues) return fail("more than 100000 values to print", path);
        switch (v.kind()) {
            case Value::Kind::Nil: return nullptr;
            case Value::Kind::String:
                if (!validUtf8(*v.string())) return fail("string is not valid UTF-8", path);
                return *v.string();
            case Value::Kind::Integer: {
                const Integer& i = *v.integerValue();
                if (i.isUnsigned64) return static_cast<uint64_t>(i.value);
                return i.value;
            }
            case Value::Kind::Real: {
                double d = v.realValue()->value;
                if (std::isnan(d)) return Json{{"$real", "nan"}};
                if (std::isinf(d)) return Json{{"$real", d > 0 ? "inf" : "-inf"}};
                return d;
            }
            case Value::Kind::Boolean: return v.booleanValue()->value;
            case Value::Kind::Date: return date(*v.date(), path);
            case Value::Kind::Data: return Json{{"$data", base64Encode(*v.data())}};
            case Value::Kind::Null: return Json{{"$null", true}};
            case Value::Kind::Uid: return Json{{"$uid", v.uid()->value}};
            case Value::Kind::Array: {
                Json out = Json::array();
                const Array& a = *v.array();
                for (size_t i = 0; i < a.size() && !error; ++i) {
                    out.push_back(convert(a[i], path + "/" + std::to_string(i), depth + 1));
                }
                return out;
            }
            case Value::Kind::Dictionary: {
                Json out = Json::object();
                for (const auto& [key, value] : *v.dictionary()) {
                    if (error) break;
                    if (!key.string()) return fail("dictionary key is not a string", path);
                    if (!validUtf8(*key.string())) return fail("dictionary key is not valid UTF-8", path);
                    std::string k = escapeKey(*key.string());
                    if (out.contains(k)) return fail("duplicate dictionary key \"" + *key.string() + "\"", path);
                    out[k] = convert(value, path + "/" + jsonPointerToken(k), depth + 1);
                }
                return out;
            }
            case Value::Kind::Object: return object(**v.object(), path, depth);
        }
        return fail("value of unknown kind", path);
    }

private:
    size_t count_ = 0;

    Json fail(std::string message, const std::string& path) {
        if (!error) error = JsonError{printableText(message + where(path))};
        return nullptr;
    }

    Json date(const Date& d, const std::string& path) {
        if (!isoDateInRange(d.time)) return fail(std::string("date out of range: ") + kIsoDateRange, path);
        Json out{{"$date", formatIsoDate(d.time, d.timeZone)}};
        if (d.calendar) {
            out["$timeZone"] = d.timeZone ? Json(*d.timeZone) : Json(nullptr);
            if (d.format) out["$format"] = *d.format;
        }
        return out;
    }

    Json object(const Object& o, const std::string& path, int depth) {
        auto* e = dynamic_cast<const TableElement*>(&o);
        if (!e) return fail("object of class " + std::string(o.className()) + " has no JSON form", path);
        Json out{{"$class", "TableElement"}};
        auto field = [&](const char* key, const Value& value) {
            out[key] = convert(value, path + "/" + key, depth + 1);
        };
        field("user", e->user());
        field("path", e->path());
        field("mode", e->mmode());
        out["range"] = e->ranges();
        for (int day : {1, 2, 3, 4, 5, 6, 0}) field(kDayKeys[day], e->day(day));
        field("usage", e->usage());
        field("disk", e->disk());
        field("quota", e->quota());
        field("script", e->script());
        out["nrange"] = e->netranges();
        out["manset"] = e->manset() != 0;
        field("date", e->date());
        return out;
    }
};

// ---- JSON -> Value ----

class FromJson {
public:
    std::optional<JsonError> error;

    Value convert(const Json& j, const std::string& path, int depth) {
        if (error) return {};
        if (depth > kMaxDepth) return fail("nesting deeper than 64 levels", path);
        if (++count_ > kMaxValues) return fail("more than 100000 values", path);
        switch (j.type()) {
            case Json::value_t::null: return {};
            case Json::value_t::boolean: return Value::boolean(j.get<bool>());
            case Json::value_t::number_integer: return integer(j.get<int64_t>());
            case Json::value_t::number_unsigned: {
                uint64_t u = j.get<uint64_t>();
                if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                    return integer(static_cast<int64_t>(u));
                }
                return Value(Integer{static_cast<int64_t>(u), 'Q', true});
            }
            case Json::value_t::number_float: return Value::real(j.get<double>());
            case Json::value_t::string: return Value(j.get<std::string>());
            case Json::value_t::array: {
                Array out;
                out.reserve(j.size());
                for (size_t i = 0; i < j.size() && !error; ++i) {
                    out.push_back(convert(j[i], path + "/" + std::to_string(i), depth + 1));
                }
                return Value(std::move(out));
            }
            case Json::value_t::object: return object(j, path, depth);
            default: return fail("unsupported JSON value", path);
        }
    }

private:
    size_t count_ = 0;

    Value fail(std::string message, const std::string& path) {
        if (!error) error = JsonError{printableText(message + where(path))};
        return {};
    }

    static Value integer(int64_t v) {
        bool small = v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
        return Value::integer(v, small ? 'i' : 'q');
    }

    bool onlyKeys(const Json& j, std::initializer_list<const char*> allowed, const std::string& path) {
        for (const auto& item : j.items()) {
            bool known = false;
            for (const char* a : allowed) known = known || item.key() == a;
            if (!known) {
                fail("unexpected key \"" + item.key() + "\" beside \"" + *allowed.begin() + "\"", path);
                return false;
            }
        }
        return true;
    }

    Value object(const Json& j, const std::string& path, int depth) {
        if (j.contains("$class")) return record(j, path, depth);
        if (j.contains("$date")) return date(j, path);
        if (j.contains("$data")) {
            if (!onlyKeys(j, {"$data"}, path)) return {};
            const Json& d = j["$data"];
            auto bytes = d.is_string() ? base64Decode(d.get<std::string>()) : std::nullopt;
            if (!bytes) return fail("\"$data\" must be a base64 string", path);
            return Value(std::move(*bytes));
        }
        if (j.contains("$null")) {
            if (!onlyKeys(j, {"$null"}, path)) return {};
            if (j["$null"] != true) return fail("\"$null\" must be true", path);
            return Value(Null{});
        }
        if (j.contains("$real")) {
            if (!onlyKeys(j, {"$real"}, path)) return {};
            const Json& r = j["$real"];
            if (r == "nan") return Value::real(std::numeric_limits<double>::quiet_NaN());
            if (r == "inf") return Value::real(std::numeric_limits<double>::infinity());
            if (r == "-inf") return Value::real(-std::numeric_limits<double>::infinity());
            return fail("\"$real\" must be \"nan\", \"inf\" or \"-inf\"", path);
        }
        if (j.contains("$uid")) {
            if (!onlyKeys(j, {"$uid"}, path)) return {};
            const Json& u = j["$uid"];
            if (!u.is_number_unsigned() && !(u.is_number_integer() && u.get<int64_t>() >= 0)) {
                return fail("\"$uid\" must be a non-negative integer", path);
            }
            return Value(Uid{u.get<uint64_t>()});
        }
        Dictionary out;
        out.reserve(j.size());
        for (const auto& item : j.items()) {
            if (error) break;
            const std::string& key = item.key();
            if (!key.empty() && key[0] == '$' && (key.size() < 2 || key[1] != '$')) {
                return fail("unknown tag \"" + key + "\" (write \"$" + key + "\" for a key that begins with \"$\")", path);
            }
            std::string plain = !key.empty() && key[0] == '$' ? key.substr(1) : key;
            Value v = convert(item.value(), path + "/" + jsonPointerToken(key), depth + 1);
            out.emplace_back(Value(std::move(plain)), std::move(v));
        }
        return Value(std::move(out));
    }

    Value date(const Json& j, const std::string& path) {
        if (!onlyKeys(j, {"$date", "$timeZone", "$format"}, path)) return {};
        const Json& text = j["$date"];
        auto time = text.is_string() ? parseIsoDate(text.get<std::string>()) : std::nullopt;
        if (!time) return fail("\"$date\" must be an ISO 8601 date and time with offset, like 2026-12-07T08:30:00+01:00", path);
        if (!isoDateInRange(*time)) return fail(std::string("\"$date\" is out of range: ") + kIsoDateRange, path);
        Date d;
        d.time = *time;
        if (j.contains("$timeZone")) {
            d.calendar = true;
            const Json& zone = j["$timeZone"];
            if (zone.is_string()) d.timeZone = zone.get<std::string>();
            else if (!zone.is_null()) return fail("\"$timeZone\" must be a string or null", path);
        }
        if (j.contains("$format")) {
            if (!j["$format"].is_string()) return fail("\"$format\" must be a string", path);
            d.calendar = true;
            d.format = j["$format"].get<std::string>();
        }
        return Value(std::move(d));
    }

    Value record(const Json& j, const std::string& path, int depth) {
        if (j["$class"] != "TableElement") return fail("unknown class " + j["$class"].dump(), path);
        if (!onlyKeys(j, {"$class", "user", "path", "mode", "range", "d_mon", "d_tue", "d_wed", "d_thu",
                          "d_fri", "d_sat", "d_sun", "usage", "disk", "quota", "script", "nrange",
                          "manset", "date"},
                      path)) {
            return {};
        }
        auto get = [&](const char* key) -> Value {
            return j.contains(key) ? convert(j[key], path + "/" + key, depth + 1) : Value();
        };
        auto text = [&](const char* key) -> Value {
            Value v = get(key);
            if (!v.isNil() && !v.string()) return fail(std::string("\"") + key + "\" must be a string or null", path);
            return v;
        };
        auto number = [&](const char* key) -> Value {
            Value v = get(key);
            if (!v.isNil() && !v.isNumber() && !v.string()) {
                return fail(std::string("\"") + key + "\" must be a number, a string or null", path);
            }
            return v;
        };
        // Counts are stored as new integers, so only a whole number that keeps its value is one;
        // the lenient intValue reading of a string or a boolean is for stored archives only.
        auto count = [&](const char* key) -> int32_t {
            Value v = get(key);
            const Integer* i = v.integerValue();
            const Real* r = v.realValue();
            if (!(v.isNil() || (i && !i->isUnsigned64 && i->value == v.intValue()) ||
                  (r && static_cast<double>(v.intValue()) == r->value))) {
                fail(std::string("\"") + key + "\" must be a whole number that fits in 32 bits", path);
            }
            return v.intValue();
        };
        auto e = std::make_shared<TableElement>();
        e->setUser(text("user"));
        e->setHomePath(text("path"));
        e->setMmode(text("mode"));
        e->setRanges(count("range"));
        e->setNetRanges(count("nrange"));
        e->setMonday(number("d_mon"));
        e->setTuesday(number("d_tue"));
        e->setWednesday(number("d_wed"));
        e->setThursday(number("d_thu"));
        e->setFriday(number("d_fri"));
        e->setSaturday(number("d_sat"));
        e->setSunday(number("d_sun"));
        e->setUsage(number("usage"));
        e->setDisk(number("disk"));
        e->setQuota(number("quota"));
        e->setScript(text("script"));
        Value manset = get("manset");
        if (!manset.isNil() && !manset.booleanValue()) fail("\"manset\" must be a boolean", path);
        e->setManset(manset.boolValue() ? 1 : 0);
        Value date = get("date");
        if (!date.isNil() && !date.date()) fail("\"date\" must be a {\"$date\": ...} or null", path);
        e->setDate(std::move(date));
        if (error) return {};
        return Value(std::shared_ptr<Object>(std::move(e)));
    }
};

}  // namespace

ToJsonResult toJson(const Value& value) {
    ToJson converter;
    Json json = converter.convert(value, "", 1);
    if (converter.error) return {nullptr, converter.error};
    return {std::move(json), std::nullopt};
}

FromJsonResult fromJson(const Json& json) {
    FromJson converter;
    Value value = converter.convert(json, "", 1);
    if (converter.error) return {{}, converter.error};
    return {std::move(value), std::nullopt};
}

FromJsonResult parseJsonValue(std::string_view text) {
    JsonParse parsed = parseJsonText(text);
    if (parsed.error) return {{}, parsed.error};
    return fromJson(parsed.json);
}

}  // namespace hv
