#pragma once

// Reading any of the three formats the system stores (told apart by their bytes) and writing
// each of them: the engine of `horavelctl decode` and `horavelctl encode`.

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/decode.h"
#include "foundation/value.h"

namespace hv {

enum class ArchiveFormat { KeyedArchive, Typedstream, PropertyList };

const char* formatName(ArchiveFormat format);

struct AnyDecodeResult {
    Value value;
    ArchiveFormat format = ArchiveFormat::PropertyList;
    std::optional<DecodeError> error;
};

// A typedstream by its header; otherwise a property list, which is a keyed archive when its root
// dictionary carries "$archiver" or "$top" and "$objects".
AnyDecodeResult decodeAny(std::string_view bytes);

// The bytes of `value` in `format`; nullopt when the format cannot hold it, with the reason in
// *whyNot when the writer gives one (the XML writer does: what, and its JSON pointer).
std::optional<std::string> encodeAs(const Value& value, ArchiveFormat format, std::string* whyNot = nullptr);

// The two commands. Each returns the exit status: 0, or 2 for bad input with one line on `err`
// and nothing on `out`.
int runDecode(const std::string& file, std::ostream& out, std::ostream& err);
int runEncode(ArchiveFormat format, const std::string& file, std::ostream& out, std::ostream& err);

}  // namespace hv
