#include "tools/read_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hv {
namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd > 2) ::close(fd);
    }
};

InputResult readAll(int fd, size_t maxBytes, const std::string& name) {
    InputResult result;
    std::string buffer;
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = name + ": " + std::strerror(errno);
            return result;
        }
        if (n == 0) break;
        if (buffer.size() + static_cast<size_t>(n) > maxBytes) {
            result.error = name + ": larger than " + std::to_string(maxBytes) + " bytes";
            return result;
        }
        buffer.append(chunk, static_cast<size_t>(n));
    }
    result.bytes = std::move(buffer);
    return result;
}

}  // namespace

InputResult readInput(const std::string& path, size_t maxBytes) {
    if (path == "-") return readAll(STDIN_FILENO, maxBytes, "standard input");
    InputResult result;
    Fd file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) {
        result.missing = errno == ENOENT;
        result.error = path + ": " + std::strerror(errno);
        return result;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = path + ": not a regular file";
        return result;
    }
    return readAll(file.fd, maxBytes, path);
}

}  // namespace hv
