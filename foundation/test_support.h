#pragma once

// Helpers for the foundation tests: an independent property-list implementation to check
// against (Python's plistlib) and a builder for hand-made binary property lists.

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hv::testing {

// Runs /usr/bin/python3 with `script`, giving it the path of a file holding `input` as
// sys.argv[1]; returns its standard output, or nullopt when it fails.
inline std::optional<std::string> runPython(const std::string& script, std::string_view input) {
    char path[] = "/tmp/hv_plist_XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return std::nullopt;
    const bool written = ::write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    ::close(fd);
    char scriptPath[] = "/tmp/hv_script_XXXXXX";
    const int sfd = ::mkstemp(scriptPath);
    const bool scriptWritten =
        sfd >= 0 && ::write(sfd, script.data(), script.size()) == static_cast<ssize_t>(script.size());
    if (sfd >= 0) ::close(sfd);
    std::optional<std::string> out;
    if (written && scriptWritten) {
        const std::string command = std::string("/usr/bin/python3 ") + scriptPath + " " + path;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            std::string text;
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
            const int status = ::pclose(p);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) out = std::move(text);
        }
    }
    ::unlink(path);
    if (sfd >= 0) ::unlink(scriptPath);
    return out;
}

inline void putBigEndian(std::string& out, uint64_t v, size_t width) {
    for (size_t i = width; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Assembles "bplist00", the given object encodings, an offset table and a trailer. Every field of
// the trailer can be overridden to make it lie.
struct BplistBuilder {
    std::vector<std::string> objects;
    size_t offsetSize = 2;
    size_t refSize = 1;
    uint64_t top = 0;
    std::optional<uint64_t> countOverride;
    std::optional<uint64_t> tableOffsetOverride;
    std::optional<uint64_t> firstOffsetOverride;

    std::string build() const {
        std::string out = "bplist00";
        std::vector<uint64_t> offsets;
        for (const std::string& o : objects) {
            offsets.push_back(out.size());
            out += o;
        }
        if (firstOffsetOverride && !offsets.empty()) offsets[0] = *firstOffsetOverride;
        const uint64_t table = out.size();
        for (uint64_t o : offsets) putBigEndian(out, o, offsetSize);
        out.append(6, '\0');
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(refSize);
        putBigEndian(out, countOverride.value_or(objects.size()), 8);
        putBigEndian(out, top, 8);
        putBigEndian(out, tableOffsetOverride.value_or(table), 8);
        return out;
    }
};

// An object encoding from bytes written as numbers: obj({0xA1, 0x01}).
inline std::string obj(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

}  // namespace hv::testing
