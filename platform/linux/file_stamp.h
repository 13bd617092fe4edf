#pragma once

// FileStamp: which file stands at a path and when it last changed, to tell cheaply (one stat)
// whether what was read from it may be out of date.

#include <sys/stat.h>

#include <optional>
#include <string>

namespace hv {

struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

// The stamp of the file at `path` (links followed); nullopt when there is none. A file replaced,
// written or given another owner or mode has another stamp.
inline std::optional<FileStamp> stampOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

}  // namespace hv
