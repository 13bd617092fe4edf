#include "tools/json_text.h"

#include <unordered_set>
#include <utility>
#include <vector>

#include "foundation/unicode.h"

namespace hv {
namespace {

constexpr size_t kMaxJsonBytes = 1 << 20;
constexpr size_t kMaxDepth = 64;
constexpr size_t kMaxShown = 40;
// The library's error id for a real that overflows a double.
constexpr int kNumberOverflow = 406;

// The start of text for a message, cut where a character begins.
std::string shown(const std::string& text) {
    if (text.size() <= kMaxShown) return text;
    size_t cut = kMaxShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
}

// Builds the document from the parser's events, refusing what the library's own builder would
// accept by bending it: it would keep the last of two equal keys, turn an integer beyond 64 bits
// into a real and a real below the smallest double into 0.
class StrictBuilder : public Json::json_sax_t {
public:
    Json root;
    std::optional<JsonError> error;

    bool null() override { return put(nullptr); }
    bool boolean(bool value) override { return put(value); }
    bool number_integer(number_integer_t value) override { return put(value); }
    bool number_unsigned(number_unsigned_t value) override { return put(value); }

    bool number_float(number_float_t value, const string_t& text) override {
        // The library reads an integer that overflows 64 bits as a real; its text tells.
        if (text.find_first_of(".eE") == std::string::npos) {
            return fail("integer " + shown(text) + " does not fit in 64 bits", pointer(true));
        }
        const std::string mantissa = text.substr(0, text.find_first_of("eE"));
        if (value == 0 && mantissa.find_first_of("123456789") != std::string::npos) {
            return fail("number " + shown(text) + " is too small for a real (it would read as 0)", pointer(true));
        }
        return put(value);
    }

    bool string(string_t& value) override { return put(std::move(value)); }
    bool binary(binary_t&) override { return fail("binary value", pointer(true)); }

    bool start_object(std::size_t) override { return open(Json::object()); }
    bool start_array(std::size_t) override { return open(Json::array()); }

    bool key(string_t& key) override {
        Frame& top = stack_.back();
        if (!top.keys.insert(key).second) return fail("duplicate key \"" + shown(key) + "\"", pointer(false));
        top.key = std::move(key);
        return true;
    }

    bool end_object() override {
        stack_.pop_back();
        return true;
    }
    bool end_array() override {
        stack_.pop_back();
        return true;
    }

    bool parse_error(std::size_t position, const std::string& token, const Json::exception& e) override {
        if (e.id == kNumberOverflow) return fail("number " + shown(token) + " is too large for a real", pointer(true));
        // The library's message ends with the reason after " - "; the offset is the byte it stopped at.
        std::string reason = e.what();
        const size_t dash = reason.find(" - ");
        reason = dash == std::string::npos ? "syntax error" : reason.substr(dash + 3);
        if (!error) {
            error = JsonError{"not valid JSON at byte offset " + std::to_string(position > 0 ? position - 1 : 0) +
                              ": " + reason};
        }
        return false;
    }

private:
    struct Frame {
        Json* container;
        std::string key;  // in an object, the key of the value being read
        std::unordered_set<std::string> keys;
    };
    std::vector<Frame> stack_;

    bool fail(const std::string& message, const std::string& at) {
        if (!error) error = JsonError{printableText(message + " at " + (at.empty() ? std::string("/") : at))};
        return false;
    }

    // The JSON pointer of the innermost open container, or (pending) of the value about to be
    // put into it.
    std::string pointer(bool pending) const {
        std::string out;
        for (size_t i = 0; i < stack_.size(); ++i) {
            const bool last = i + 1 == stack_.size();
            if (last && !pending) break;
            const Frame& f = stack_[i];
            if (f.container->is_object()) {
                out += "/" + jsonPointerToken(f.key);
            } else {
                out += "/" + std::to_string(f.container->size() - (last ? 0 : 1));
            }
        }
        return out;
    }

    // Puts a value where the parser is; a container stays open until its end event. An open
    // container is the last child of its parent, and the parent gets no sibling before it
    // closes, so the pointers on the stack stay valid.
    Json* place(Json&& value) {
        if (stack_.empty()) {
            root = std::move(value);
            return &root;
        }
        Frame& top = stack_.back();
        if (top.container->is_object()) {
            Json& slot = (*top.container)[top.key];
            slot = std::move(value);
            return &slot;
        }
        top.container->push_back(std::move(value));
        return &top.container->back();
    }

    bool put(Json&& value) {
        place(std::move(value));
        return true;
    }

    bool open(Json&& container) {
        if (stack_.size() >= kMaxDepth) return fail("nesting deeper than 64 levels", pointer(true));
        Json* placed = place(std::move(container));
        stack_.push_back(Frame{placed, {}, {}});
        return true;
    }
};

}  // namespace

std::string jsonPointerToken(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '~') out += "~0";
        else if (c == '/') out += "~1";
        else out += c;
    }
    return out;
}

JsonParse parseJsonText(std::string_view text) {
    if (text.size() > kMaxJsonBytes) return {nullptr, JsonError{"input larger than 1 MiB"}};
    StrictBuilder builder;
    const bool ok = Json::sax_parse(text.begin(), text.end(), &builder);
    if (!ok || builder.error) {
        return {nullptr, builder.error ? builder.error : JsonError{"not valid JSON"}};
    }
    return {std::move(builder.root), std::nullopt};
}

}  // namespace hv
