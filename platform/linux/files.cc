#include "platform/linux/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/unique_fd.h"

namespace hv {

namespace {

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string randomSuffix() {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[8] = {};
    if (getrandom(raw, sizeof raw, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof raw)) {
        // Exclusive create still guarantees safety; uniqueness only needs to be likely.
        const unsigned long mix = static_cast<unsigned long>(getpid()) ^ static_cast<unsigned long>(time(nullptr));
        std::memcpy(raw, &mix, sizeof mix < sizeof raw ? sizeof mix : sizeof raw);
    }
    std::string suffix;
    for (unsigned char c : raw) suffix += kAlphabet[c % (sizeof kAlphabet - 1)];
    return suffix;
}

// Opens an existing or new regular file for writing without following a link or blocking on a
// FIFO. Newly created files get exactly `createMode`.
UniqueFd openRegularForWriting(const std::string& path, int extraFlags, mode_t createMode) {
    const int base = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | extraFlags;
    bool created = true;
    UniqueFd fd(open(path.c_str(), base | O_CREAT | O_EXCL, createMode));
    if (!fd && errno == EEXIST) {
        created = false;
        fd = UniqueFd(open(path.c_str(), base));
    }
    if (!fd) return fd;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
    if (created && fchmod(fd.get(), createMode) != 0) return UniqueFd();
    return fd;
}

}  // namespace

ReadResult readRegularFile(const std::string& path, size_t maxBytes) {
    ReadResult result;
    // Looked at before opening, so that no device is ever opened (opening alone can act on some).
    struct stat before {};
    if (lstat(path.c_str(), &before) != 0) {
        result.missing = errno == ENOENT;
        result.error = std::strerror(errno);
        return result;
    }
    if (S_ISLNK(before.st_mode)) {
        result.error = "is a symbolic link";
        return result;
    }
    if (!S_ISREG(before.st_mode)) {
        result.error = "not a regular file";
        return result;
    }
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        result.missing = errno == ENOENT;
        result.error = errno == ELOOP ? "is a symbolic link" : std::strerror(errno);
        return result;
    }
    // The path may have been swapped between lstat and open: judge what was opened.
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        result.error = std::strerror(errno);
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.error = "not a regular file";
        return result;
    }
    const std::string tooLarge = "larger than " + std::to_string(maxBytes) + " bytes";
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        result.error = tooLarge;
        return result;
    }
    // The size can change while reading; the cap holds for what is actually read.
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = std::strerror(errno);
            return result;
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<size_t>(n) > maxBytes) {
            result.error = tooLarge;
            return result;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    result.bytes = std::move(bytes);
    result.info = FileInfo{st.st_uid, st.st_mode, st.st_gid, st.st_dev, st.st_ino};
    return result;
}

bool writeFileAtomically(const std::string& path, const std::string& bytes, mode_t mode,
                         const std::optional<FileOwner>& owner) {
    const std::string directory = directoryOf(path);
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) return false;

    std::string temp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
        temp = directory + "/." + base + "." + randomSuffix();
        fd = UniqueFd(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd && errno != EEXIST) return false;
    }
    if (!fd) return false;

    // The owner is set before the mode: fchown clears set-id bits, and the mode must be the last word.
    const bool written = writeAll(fd.get(), bytes) && fsync(fd.get()) == 0 &&
                         (!owner || fchown(fd.get(), owner->uid, owner->gid) == 0) &&
                         fchmod(fd.get(), mode & 07777) == 0;
    const bool closed = ::close(fd.release()) == 0;
    if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    // The rename is durable only once the directory entry is on disk.
    UniqueFd dir(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) fsync(dir.get());
    return true;
}

bool writeFileTruncating(const std::string& path, const std::string& bytes) {
    UniqueFd fd = openRegularForWriting(path, 0, 0644);
    if (!fd) return false;
    if (ftruncate(fd.get(), 0) != 0) return false;
    return writeAll(fd.get(), bytes);
}

bool appendBytes(const std::string& path, const std::string& bytes) {
    UniqueFd fd = openRegularForWriting(path, O_APPEND, 0644);
    return fd && writeAll(fd.get(), bytes);
}

bool linkReplacing(const std::string& from, const std::string& to) {
    struct stat st {};
    if (lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const size_t slash = to.rfind('/');
    const std::string base = slash == std::string::npos ? to : to.substr(slash + 1);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temp = directoryOf(to) + "/." + base + "." + randomSuffix();
        // linkat without AT_SYMLINK_FOLLOW links a link itself, never its target.
        if (linkat(AT_FDCWD, from.c_str(), AT_FDCWD, temp.c_str(), 0) != 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        if (rename(temp.c_str(), to.c_str()) != 0) {
            unlink(temp.c_str());
            return false;
        }
        return true;
    }
    return false;
}

bool makeRootDirectory(const std::string& path, mode_t mode) {
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == 0 &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool removePath(const std::string& path) { return unlink(path.c_str()) == 0; }

bool pathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::optional<std::vector<std::string>> directoryNames(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::optional<FileInfo> pathInfo(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return std::nullopt;
    return FileInfo{st.st_uid, st.st_mode, st.st_gid, st.st_dev, st.st_ino};
}

std::optional<FileInfo> resolvedPathInfo(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileInfo{st.st_uid, st.st_mode, st.st_gid, st.st_dev, st.st_ino};
}

}  // namespace hv
