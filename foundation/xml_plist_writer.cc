// XML property list writer, laid out as Apple writes it: the XML declaration and DOCTYPE, one
// element per line indented with tabs, empty containers as <array/> and <dict/>, data as base64
// lines of at most 76 characters at the element's indentation.

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

// Text with &, < and > escaped; false for text the reader could not take back (not UTF-8, NUL).
bool appendEscaped(std::string& out, const std::string& text) {
    if (!isValidUtf8(text) || text.find('\0') != std::string::npos) return false;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return true;
}

class XmlWriter {
public:
    std::optional<std::string> write(const Value& root) {
        out_ = kHeader;
        if (!value(root, 0)) return std::nullopt;
        out_ += "</plist>\n";
        return std::move(out_);
    }

private:
    void indent(int depth) { out_.append(static_cast<size_t>(depth), '\t'); }

    bool element(std::string_view name, const std::string& text) {
        out_ += '<';
        out_ += name;
        out_ += '>';
        if (!appendEscaped(out_, text)) return false;
        out_ += "</";
        out_ += name;
        out_ += ">\n";
        return true;
    }

    bool value(const Value& v, int depth) {
        // XML writes a shared container out in full each time it is met, so the element count
        // is what bounds the output (and what the reader would refuse beyond).
        if (++elements_ > DecodeLimits{}.maxObjects) return false;
        indent(depth);
        switch (v.kind()) {
            case Value::Kind::String:
                return element("string", *v.string());
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
                const auto text = formatDate(v.date()->time);
                return text && element("date", *text);
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
            default:
                return false;
        }
    }

    bool container(const Value& v, int depth) {
        if (depth + 1 > DecodeLimits{}.maxDepth) return false;
        if (const Array* a = v.array()) {
            if (a->empty()) {
                out_ += "<array/>\n";
                return true;
            }
            out_ += "<array>\n";
            for (const Value& item : *a)
                if (!value(item, depth + 1)) return false;
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
            if (!key.string()) return false;
            if (++elements_ > DecodeLimits{}.maxObjects) return false;
            indent(depth + 1);
            if (!element("key", *key.string()) || !value(item, depth + 1)) return false;
        }
        indent(depth);
        out_ += "</dict>\n";
        return true;
    }

    std::string out_;
    size_t elements_ = 0;
};

}  // namespace

std::optional<std::string> writeXmlPropertyList(const Value& root) { return XmlWriter().write(root); }

}  // namespace hv
