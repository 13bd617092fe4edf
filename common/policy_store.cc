#include "common/policy_store.h"

#include "common/table_element.h"
#include "foundation/keyed_archive.h"

namespace hv {
namespace {

// A reason may quote the file (a class name, a key); whoever wrote it must not be able to start
// a line of its own in a log.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return text;
}

// One copy of the entry: the list, or why it cannot serve.
struct Copy {
    bool present = false;
    std::optional<Array> list;
    std::optional<FileInfo> info;
    std::string why;
};

Copy readCopy(const std::string& path, const StoreReader& read) {
    Copy copy;
    ReadResult file = read(path);
    if (file.missing) return copy;
    copy.present = true;
    if (!file.bytes) {
        copy.why = path + " cannot be read: " + printable(file.error);
        return copy;
    }
    if (!file.info || !writableOnlyByRoot(*file.info)) {
        copy.why = path + " is not root's alone";
        return copy;
    }
    PolicyListDecode decoded = decodePolicyList(*file.bytes);
    if (!decoded.list) {
        copy.why = path + " " + decoded.why;
        return copy;
    }
    copy.list = std::move(decoded.list);
    copy.info = file.info;
    return copy;
}

}  // namespace

PolicyListDecode decodePolicyList(std::string_view bytes) {
    PolicyListDecode result;
    DecodeResult decoded = keyedUnarchive(bytes);
    if (!decoded.ok()) {
        result.why = "is no policy: " + printable(decoded.error->message);
        return result;
    }
    const Array* list = decoded.value.array();
    if (list == nullptr) {
        result.why = "is no policy: its root is not a list";
        return result;
    }
    for (size_t i = 0; i < list->size(); ++i) {
        if (recordAt(*list, i) == nullptr) {
            result.why = "is no policy: element " + std::to_string(i) + " is not a policy record";
            return result;
        }
    }
    result.list = *list;
    return result;
}

StoredPolicy readStoredPolicy(const Config& config, const std::string& account, const StoreReader& read) {
    StoredPolicy stored;
    if (!usableAccountName(account)) return stored;
    Copy entry = readCopy(config.storePolicyPath(account), read);
    if (entry.list) {
        stored.managed = true;
        stored.list = std::move(entry.list);
        stored.info = entry.info;
        return stored;
    }
    Copy previous = readCopy(config.storePreviousPath(account), read);
    stored.managed = entry.present || previous.present;
    if (!stored.managed) return stored;
    stored.problem = entry.present ? entry.why : config.storePolicyPath(account) + " is missing";
    if (previous.list) {
        stored.list = std::move(previous.list);
        stored.info = previous.info;
        stored.fromPrevious = true;
    } else if (previous.present) {
        stored.problem += "; " + previous.why;
    }
    return stored;
}

bool usableAccountName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

}  // namespace hv
