#include "tools/archive_io.h"

#include <ostream>

#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "foundation/typedstream.h"
#include "tools/json_codec.h"
#include "tools/read_input.h"

namespace hv {
namespace {

bool isTypedstream(std::string_view bytes) {
    if (bytes.size() < 13 || static_cast<unsigned char>(bytes[1]) != 11) return false;
    std::string_view signature = bytes.substr(2, 11);
    return signature == "streamtyped" || signature == "typedstream";
}

bool isKeyedArchive(const Value& root) {
    if (!root.dictionary()) return false;
    return !root["$archiver"].isNil() || (!root["$top"].isNil() && !root["$objects"].isNil());
}

}  // namespace

const char* formatName(ArchiveFormat format) {
    switch (format) {
        case ArchiveFormat::KeyedArchive: return "keyed archive";
        case ArchiveFormat::Typedstream: return "typedstream";
        case ArchiveFormat::PropertyList: return "property list";
    }
    return "archive";
}

AnyDecodeResult decodeAny(std::string_view bytes) {
    AnyDecodeResult result;
    if (bytes.empty()) {
        result.error = DecodeError{"empty input", 0};
        return result;
    }
    if (isTypedstream(bytes)) {
        result.format = ArchiveFormat::Typedstream;
        DecodeResult d = typedstreamUnarchive(bytes);
        result.value = std::move(d.value);
        result.error = std::move(d.error);
        return result;
    }
    DecodeResult plist = readPropertyList(bytes);
    if (plist.ok() && isKeyedArchive(plist.value)) {
        result.format = ArchiveFormat::KeyedArchive;
        plist = keyedUnarchive(bytes);
    }
    result.value = std::move(plist.value);
    result.error = std::move(plist.error);
    return result;
}

std::optional<std::string> encodeAs(const Value& value, ArchiveFormat format, std::string* whyNot) {
    switch (format) {
        case ArchiveFormat::KeyedArchive: return keyedArchive(value);
        case ArchiveFormat::Typedstream: return typedstreamArchive(value);
        case ArchiveFormat::PropertyList: return writeXmlPropertyList(value, whyNot);
    }
    return std::nullopt;
}

int runDecode(const std::string& file, std::ostream& out, std::ostream& err) {
    InputResult input = readInput(file);
    if (!input.bytes) {
        err << "horavelctl decode: " << input.error << "\n";
        return 2;
    }
    AnyDecodeResult decoded = decodeAny(*input.bytes);
    if (decoded.error) {
        err << "horavelctl decode: " << (file == "-" ? "standard input" : file) << ": not a valid "
            << formatName(decoded.format) << ": " << decoded.error->message << " at byte offset "
            << decoded.error->offset << "\n";
        return 2;
    }
    ToJsonResult json = toJson(decoded.value);
    if (json.error) {
        err << "horavelctl decode: " << json.error->message << "\n";
        return 2;
    }
    out << json.json.dump(2) << "\n";
    return 0;
}

int runEncode(ArchiveFormat format, const std::string& file, std::ostream& out, std::ostream& err) {
    InputResult input = readInput(file);
    if (!input.bytes) {
        err << "horavelctl encode: " << input.error << "\n";
        return 2;
    }
    FromJsonResult value = parseJsonValue(*input.bytes);
    if (value.error) {
        err << "horavelctl encode: " << value.error->message << "\n";
        return 2;
    }
    std::string whyNot;
    auto bytes = encodeAs(value.value, format, &whyNot);
    if (!bytes && !whyNot.empty()) {
        err << "horavelctl encode: cannot write a " << formatName(format) << ": " << whyNot << "\n";
        return 2;
    }
    if (!bytes) {
        err << "horavelctl encode: this value cannot be written as a " << formatName(format)
            << " (a property list holds no null, NSNull or object; an archive no UID)\n";
        return 2;
    }
    out << *bytes;
    return 0;
}

}  // namespace hv
