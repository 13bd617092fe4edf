#include "platform/linux/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <set>
#include <utility>
#include <vector>

#include "platform/linux/unique_fd.h"

namespace hv {
namespace {

// Directories are opened relative to their parent's descriptor and never through a link, so no
// path grows too long to open and no link swapped in mid-walk is followed. Only the deepest
// directories of the current branch keep their descriptors; shallower ones are closed and opened
// again through ".." on the way back up, so no depth can use up the daemon's descriptors.
constexpr size_t kOpenLevels = 32;
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

struct Level {
    UniqueFd fd;
    dev_t dev = 0;
    ino_t ino = 0;
    std::vector<std::string> names;
    size_t next = 0;
    size_t pathLength = 0;  // the length of the path that names this directory
};

bool isFile(int fd, dev_t dev, ino_t ino) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

// The names in the directory open at `fd`, "." and ".." left out; false when it cannot be read.
bool readNames(int fd, std::vector<std::string>& names) {
    // fdopendir takes the descriptor it is given.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        ::close(copy);
        return false;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return true;
}

}  // namespace

bool walkTree(const std::string& root, const std::function<void(const TreeEntry&)>& entry) {
    // The root is the administrator's choice of home, so a link there is followed.
    UniqueFd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!rootFd || ::fstat(rootFd.get(), &st) != 0) return false;

    std::string path = root;
    std::vector<Level> stack;
    // The directories of the current branch: one met again below itself (only a mount can do
    // that) is reported but not entered.
    std::set<std::pair<dev_t, ino_t>> branch;
    // Pushes the directory open at `fd`; false when its names cannot be read.
    const auto enter = [&](UniqueFd fd, const struct stat& info) {
        Level level;
        const bool readable = readNames(fd.get(), level.names);
        level.fd = std::move(fd);
        level.dev = info.st_dev;
        level.ino = info.st_ino;
        level.pathLength = path.size();
        branch.insert({info.st_dev, info.st_ino});
        stack.push_back(std::move(level));
        if (stack.size() > kOpenLevels) stack[stack.size() - 1 - kOpenLevels].fd.reset();
        return readable;
    };
    if (!enter(std::move(rootFd), st)) return false;

    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.names.size()) {
            branch.erase({top.dev, top.ino});
            const UniqueFd below = std::move(top.fd);
            stack.pop_back();
            if (stack.empty() || stack.back().fd) continue;
            Level& parent = stack.back();
            UniqueFd up(::openat(below.get(), "..", kDirectoryFlags));
            // The branch was moved while it was walked: what was seen so far is the result.
            if (!up || !isFile(up.get(), parent.dev, parent.ino)) return true;
            parent.fd = std::move(up);
            continue;
        }

        const std::string& name = top.names[top.next++];
        path.resize(top.pathLength);
        path += '/';
        path += name;
        if (::fstatat(top.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        if (!S_ISDIR(st.st_mode)) {
            entry({path, size, false});
            continue;
        }
        entry({path, size, true});
        if (branch.count({st.st_dev, st.st_ino}) != 0) continue;
        UniqueFd fd(::openat(top.fd.get(), name.c_str(), kDirectoryFlags));
        // Unreadable, or replaced since it was looked at: an entry with nothing below it.
        if (!fd || !isFile(fd.get(), st.st_dev, st.st_ino)) continue;
        enter(std::move(fd), st);
    }
    return true;
}

bool walkTreeSizes(const std::string& root, const std::function<void(uint64_t)>& entry) {
    return walkTree(root, [&entry](const TreeEntry& e) { entry(e.directory ? 0 : e.size); });
}

}  // namespace hv
