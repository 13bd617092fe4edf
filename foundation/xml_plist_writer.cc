// XML property list writer, laid out as Apple writes it: the XML declaration and DOCTYPE, one
// element per line indented with tabs, empty containers as <array/> and <dict/>, data as base64
// lines of at most 76 characters at the element's indentation.

#include <cstdio>
#include <string>

#include "foundation/decode.h"
#include "foundation/plist_text.h"
#include "foundation/property_list.h"
#include "foundation/unicode.h"

namespace hv {

namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr size_t kDataLineLength = 76;

// The first character of UTF-8 text that XML 1.0 cannot carry, even as a reference: C0 controls
// other than tab, line feed and carriage return, and U+FFFE and U+FFFF. (Surrogates cannot occur:
// valid UTF-8 holds none.)
std::optional<uint32_t> unwritableCharacter(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return c;
        // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
        if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE)
            return 0xFFFE + (static_cast<unsigned char>(text[i + 2]) & 1);
    }
    return std::nullopt;
}

std::string codePoint(uint32_t c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", c);
    return buf;
}

// A key as a path element: a JSON pointer token, its control characters shown as code points.
std::string shownKey(const std::string& key) {
    std::string out;
    for (char c : printableText(key)) {
        if (c == '/') out += "~1";
        else if (c == '~') out += "~0";
        else out += c;
    }
    return out;
}

// Text with &, < and > escaped, and carriage return as a character reference: a conforming
// reader turns a raw CR (and CR LF) into a line feed.
void appendEscaped(std::string& out, const std::string& text) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\r': out += "&#13;"; break;
            default: out += c;
        }
    }
}

class XmlWriter {
public:
    std::string error;

    std::optional<std::string> write(const Value& root) {
        out_ = kHeader;
        if (!value(root, 0)) return std::nullopt;
        out_ += "</plist>\n";
        return std::move(out_);
    }

private:
    void indent(int depth) { out_.append(static_cast<size_t>(depth), '\t'); }

    bool fail(const std::string& message) {
        error = message + " at " + (path_.empty() ? std::string("/") : path_);
        return false;
    }

    bool text(const std::string& text, const char* what) {
        if (!isValidUtf8(text)) return fail(std::string(what) + " is not valid UTF-8");
        if (const auto c = unwritableCharacter(text)) {
            return fail(std::string(what) + " holds " + codePoint(*c) + ", a character XML 1.0 cannot carry");
        }
        return true;
    }

    bool element(std::string_view name, const std::string& content) {
        out_ += '<';
        out_ += name;
        out_ += '>';
        appendEscaped(out_, content);
        out_ += "</";
        out_ += name;
        out_ += ">\n";
        return true;
    }

    bool value(const Value& v, int depth) {
        // XML writes a shared container out in full each time it is met, so the element count
        // is what bounds the output (and what the reader would refuse beyond).
        if (++elements_ > DecodeLimits{}.maxObjects) return fail("more than 100000 elements");
        indent(depth);
        switch (v.kind()) {
            case Value::Kind::String:
                return text(*v.string(), "the string") && element("string", *v.string());
            case Value::Kind::Integer: {
                const Integer& i = *v.integerValue();
                return element("integer", i.isUnsigned64 ? std::to_string(static_cast<uint64_t>(i.value))
                                                         : std::to_string(i.value));
            }
            case Value::Kind::Real:
                return element("real", formatReal(v.realValue()->value));
            case Value::Kind::Boolean:
                out_ += v.booleanValue()->value ? "<true/>\n" : "<false/>\n";
                return true;
            case Value::Kind::Date: {
                const auto date = formatDate(v.date()->time);
                if (!date) return fail("the date is outside the years 0001 to 9999 that an XML date can hold");
                return element("date", *date);
            }
            case Value::Kind::Data: {
                const std::string encoded = base64Encode(*v.data());
                out_ += "<data>\n";
                for (size_t i = 0; i < encoded.size(); i += kDataLineLength) {
                    indent(depth);
                    out_.append(encoded, i, kDataLineLength);
                    out_ += '\n';
                }
                indent(depth);
                out_ += "</data>\n";
                return true;
            }
            case Value::Kind::Array:
            case Value::Kind::Dictionary:
                return container(v, depth);
            case Value::Kind::Nil: return fail("nil has no property-list form");
            case Value::Kind::Null: return fail("NSNull has no property-list form");
            case Value::Kind::Uid: return fail("a UID has no XML property-list form");
            case Value::Kind::Object: return fail("an object has no property-list form");
        }
        return fail("a value of unknown kind");
    }

    bool container(const Value& v, int depth) {
        if (depth + 1 > DecodeLimits{}.maxDepth) return fail("nesting deeper than 64 levels");
        const size_t outer = path_.size();
        if (const Array* a = v.array()) {
            if (a->empty()) {
                out_ += "<array/>\n";
                return true;
            }
            out_ += "<array>\n";
            for (size_t i = 0; i < a->size(); ++i) {
                path_.resize(outer);
                path_ += "/" + std::to_string(i);
                if (!value((*a)[i], depth + 1)) return false;
            }
            path_.resize(outer);
            indent(depth);
            out_ += "</array>\n";
            return true;
        }
        const Dictionary& d = *v.dictionary();
        if (d.empty()) {
            out_ += "<dict/>\n";
            return true;
        }
        out_ += "<dict>\n";
        for (const auto& [key, item] : d) {
            if (!key.string()) return fail("a dictionary key is not a string");
            if (++elements_ > DecodeLimits{}.maxObjects) return fail("more than 100000 elements");
            path_.resize(outer);
            if (!text(*key.string(), ("the key \"" + printableText(*key.string()) + "\"").c_str())) return false;
            path_ += "/" + shownKey(*key.string());
            indent(depth + 1);
            if (!element("key", *key.string()) || !value(item, depth + 1)) return false;
        }
        path_.resize(outer);
        indent(depth);
        out_ += "</dict>\n";
        return true;
    }

    std::string out_;
    std::string path_;  // where the value being written sits, as a JSON pointer
    size_t elements_ = 0;
};

}  // namespace

std::optional<std::string> writeXmlPropertyList(const Value& root, std::string* whyNot) {
    XmlWriter writer;
    auto xml = writer.write(root);
    if (!xml && whyNot) *whyNot = writer.error;
    return xml;
}

}  // namespace hv
