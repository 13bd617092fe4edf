// Bounded reader for XML property lists. It reads the subset of XML that property lists use:
// a prolog (declaration, DOCTYPE, comments), the plist element, the value elements with their
// text, character and entity references, and CDATA sections. Recursion follows container
// nesting only, capped by DecodeLimits::maxDepth; the object count is capped too.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "foundation/concat.h"
#include "foundation/dictionary_builder.h"
#include "foundation/plist_text.h"
#include "foundation/property_list.h"
#include "foundation/unicode.h"

namespace hv {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == ':' || c == '.';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

struct Tag {
    std::string_view name;
    bool selfClosing = false;
    size_t offset = 0;
};

class XmlReader {
public:
    XmlReader(std::string_view text, const DecodeLimits& limits) : s_(text), limits_(limits) {}

    DecodeResult read() {
        DecodeResult result;
        Value v = document();
        if (failure_) {
            result.error = std::move(failure_);
            return result;
        }
        result.value = std::move(v);
        return result;
    }

private:
    void fail(std::string message, size_t offset) {
        if (!failure_) failure_ = DecodeError{std::move(message), offset};
    }
    void fail(std::string message) { fail(std::move(message), pos_); }

    bool startsWith(std::string_view prefix) const { return s_.substr(pos_).starts_with(prefix); }

    // Moves past `end`, searching from the current position; false when it never comes.
    bool skipPast(std::string_view end) {
        const size_t at = s_.find(end, pos_);
        if (at == std::string_view::npos) {
            fail("unterminated markup");
            return false;
        }
        pos_ = at + end.size();
        return true;
    }

    // Skips blanks, comments, processing instructions and the DOCTYPE declaration.
    bool skipMisc() {
        while (!failure_) {
            while (pos_ < s_.size() && isSpace(s_[pos_])) ++pos_;
            if (startsWith("<!--")) {
                if (!skipPast("-->")) return false;
            } else if (startsWith("<?")) {
                if (!skipPast("?>")) return false;
            } else if (startsWith("<!DOCTYPE")) {
                if (!skipDoctype()) return false;
            } else {
                return true;
            }
        }
        return false;
    }

    // A DOCTYPE may carry an internal subset in brackets; quoted text may hold '>'.
    bool skipDoctype() {
        char quote = 0;
        int brackets = 0;
        for (; pos_ < s_.size(); ++pos_) {
            const char c = s_[pos_];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                --brackets;
            } else if (c == '>' && brackets <= 0) {
                ++pos_;
                return true;
            }
        }
        fail("unterminated DOCTYPE");
        return false;
    }

    // Reads an opening tag at the current position ('<' name attributes '>' or '/>').
    std::optional<Tag> openTag() {
        Tag tag;
        tag.offset = pos_;
        if (pos_ >= s_.size() || s_[pos_] != '<') {
            fail(pos_ >= s_.size() ? "unexpected end of input" : "expected an element");
            return std::nullopt;
        }
        const size_t nameStart = ++pos_;
        while (pos_ < s_.size() && isNameChar(s_[pos_])) ++pos_;
        tag.name = s_.substr(nameStart, pos_ - nameStart);
        if (tag.name.empty()) {
            fail("expected an element name");
            return std::nullopt;
        }
        char quote = 0;
        for (; pos_ < s_.size(); ++pos_) {
            const char c = s_[pos_];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '<') {
                break;
            } else if (c == '>') {
                tag.selfClosing = s_[pos_ - 1] == '/';
                ++pos_;
                return tag;
            }
        }
        fail("unterminated tag", tag.offset);
        return std::nullopt;
    }

    bool closeTag(std::string_view name) {
        const size_t at = pos_;
        if (!startsWith("</") || !s_.substr(pos_ + 2).starts_with(name)) {
            fail(concat({"expected </", name, ">"}), at);
            return false;
        }
        pos_ += 2 + name.size();
        while (pos_ < s_.size() && isSpace(s_[pos_])) ++pos_;
        if (pos_ >= s_.size() || s_[pos_] != '>') {
            fail(concat({"expected </", name, ">"}), at);
            return false;
        }
        ++pos_;
        return true;
    }

    Value document() {
        if (s_.size() > limits_.maxBytes) {
            fail("property list larger than the size limit", limits_.maxBytes);
            return {};
        }
        if (startsWith("\xEF\xBB\xBF")) pos_ += 3;
        if (!skipMisc()) return {};
        const size_t at = pos_;
        auto tag = openTag();
        if (!tag) return {};
        Value v;
        if (tag->name == "plist") {
            if (tag->selfClosing) {
                fail("empty plist element", at);
                return {};
            }
            if (!skipMisc()) return {};
            v = element(0);
            if (failure_ || !skipMisc() || !closeTag("plist")) return {};
        } else {
            pos_ = at;
            v = element(0);
        }
        if (failure_ || !skipMisc()) return {};
        if (pos_ != s_.size()) fail("unexpected content after the property list");
        return v;
    }

    // Character data up to the closing tag of `name`, with references resolved.
    std::optional<std::string> text(std::string_view name, const Tag& tag) {
        std::string out;
        if (tag.selfClosing) return out;
        while (true) {
            if (pos_ >= s_.size()) {
                fail(concat({"unterminated <", name, ">"}), tag.offset);
                return std::nullopt;
            }
            const char c = s_[pos_];
            if (c == '<') {
                if (startsWith("<![CDATA[")) {
                    const size_t begin = pos_ + 9;
                    const size_t end = s_.find("]]>", begin);
                    if (end == std::string_view::npos) {
                        fail("unterminated CDATA section");
                        return std::nullopt;
                    }
                    out.append(s_.substr(begin, end - begin));
                    pos_ = end + 3;
                } else if (startsWith("<!--")) {
                    if (!skipPast("-->")) return std::nullopt;
                } else {
                    if (!closeTag(name)) return std::nullopt;
                    break;
                }
            } else if (c == '&') {
                if (!reference(out)) return std::nullopt;
            } else if (c == '\0') {
                fail("NUL character in text");
                return std::nullopt;
            } else {
                out += c;
                ++pos_;
            }
        }
        if (!isValidUtf8(out)) {
            fail("text is not UTF-8", tag.offset);
            return std::nullopt;
        }
        return out;
    }

    bool reference(std::string& out) {
        const size_t at = pos_;
        const size_t end = s_.find(';', pos_);
        if (end == std::string_view::npos || end - pos_ > 12) {
            fail("bad entity reference");
            return false;
        }
        const std::string_view name = s_.substr(pos_ + 1, end - pos_ - 1);
        pos_ = end + 1;
        if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "amp") out += '&';
        else if (name == "quot") out += '"';
        else if (name == "apos") out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            uint32_t cp = 0;
            const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
            if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() || cp == 0 ||
                cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                fail("bad character reference", at);
                return false;
            }
            appendUtf8(out, cp);
        } else {
            fail("unknown entity", at);
            return false;
        }
        return true;
    }

    bool count(size_t at) {
        if (++objects_ > limits_.maxObjects) {
            fail("more objects than the limit", at);
            return false;
        }
        return true;
    }

    Value element(int depth) {
        auto tag = openTag();
        if (!tag || !count(tag->offset)) return {};
        const std::string_view name = tag->name;
        if (name == "dict" || name == "array") {
            if (depth + 1 > limits_.maxDepth) {
                fail("nesting deeper than the limit", tag->offset);
                return {};
            }
            return name == "dict" ? dictionary(*tag, depth + 1) : array(*tag, depth + 1);
        }
        if (name == "true" || name == "false") {
            if (!tag->selfClosing && !closeTag(name)) return {};
            return Value::boolean(name == "true");
        }
        if (name != "string" && name != "integer" && name != "real" && name != "date" && name != "data") {
            fail(concat({"unknown element <", name, ">"}), tag->offset);
            return {};
        }
        auto content = text(name, *tag);
        if (!content) return {};
        std::optional<Value> v;
        if (name == "string") v = Value(std::move(*content));
        else if (name == "integer") v = parseInteger(trim(*content));
        else if (name == "real") v = parseReal(trim(*content));
        else if (name == "date") v = parseDate(trim(*content));
        else v = parseData(*content);
        if (!v) {
            fail(concat({"bad <", name, "> value"}), tag->offset);
            return {};
        }
        return std::move(*v);
    }

    Value array(const Tag& tag, int depth) {
        Array items;
        if (tag.selfClosing) return Value(std::move(items));
        while (skipMisc() && !startsWith("</")) {
            items.push_back(element(depth));
            if (failure_) return {};
        }
        if (failure_ || !closeTag("array")) return {};
        return Value(std::move(items));
    }

    Value dictionary(const Tag& tag, int depth) {
        DictionaryBuilder entries;
        if (tag.selfClosing) return Value(entries.take());
        while (skipMisc() && !startsWith("</")) {
            auto keyTag = openTag();
            if (!keyTag) return {};
            if (keyTag->name != "key") {
                fail("expected <key>", keyTag->offset);
                return {};
            }
            if (!count(keyTag->offset)) return {};
            auto key = text("key", *keyTag);
            if (!key || !skipMisc()) return {};
            if (startsWith("</")) {
                fail("key without a value", keyTag->offset);
                return {};
            }
            Value value = element(depth);
            if (failure_) return {};
            entries.set(Value(std::move(*key)), std::move(value));
        }
        if (failure_ || !closeTag("dict")) return {};
        return Value(entries.take());
    }

    std::string_view s_;
    size_t pos_ = 0;
    DecodeLimits limits_;
    size_t objects_ = 0;
    std::optional<DecodeError> failure_;
};

}  // namespace

DecodeResult readXmlPropertyList(std::string_view bytes, const DecodeLimits& limits) {
    return XmlReader(bytes, limits).read();
}

}  // namespace hv
