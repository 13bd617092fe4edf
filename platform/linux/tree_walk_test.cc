#include "platform/linux/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace hv {
namespace {

namespace fs = std::filesystem;

class TempTree {
  public:
    TempTree() {
        std::string pattern = (fs::temp_directory_path() / "hv-walk-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
    }
    ~TempTree() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    const fs::path& root() const { return root_; }

    void file(const std::string& relative, uint64_t size) {
        const fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        // ftruncate makes the file sparse: its size is the length, not the blocks it uses.
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
        ::close(fd);
    }
    void dir(const std::string& relative) { fs::create_directories(root_ / relative); }
    void link(const std::string& relative, const std::string& target) {
        fs::create_directories((root_ / relative).parent_path());
        ASSERT_EQ(::symlink(target.c_str(), (root_ / relative).c_str()), 0);
    }

  private:
    fs::path root_;
};

struct Seen {
    uint64_t size = 0;
    bool directory = false;
    int times = 0;
};

std::map<std::string, Seen> walk(const fs::path& root, bool* ok = nullptr) {
    std::map<std::string, Seen> seen;
    const std::string prefix = root.string() + "/";
    const bool result = walkTree(root.string(), [&](const TreeEntry& entry) {
        std::string path(entry.path);
        if (path.rfind(prefix, 0) == 0) path.erase(0, prefix.size());
        Seen& s = seen[path];
        s.size = entry.size;
        s.directory = entry.directory;
        ++s.times;
    });
    if (ok) *ok = result;
    return seen;
}

TEST(TreeWalk, ReportsEveryEntryOnceWithItsOwnSize) {
    TempTree tree;
    tree.file("empty", 0);
    tree.file("one", 1);
    tree.file(".hidden", 10);
    tree.file("a/b/c/deep", 4097);
    tree.dir("a/emptydir");
    // 5 GiB + 123 bytes, sparse: the walk reports the full 64-bit size.
    tree.file("big", (uint64_t{5} << 30) + 123);
    // Links to an ancestor and to itself would loop a walk that followed them.
    tree.link("a/b/up", "..");
    tree.link("a/b/c/root", tree.root().string());
    tree.link("self", "self");
    tree.link("dangling", "no-such-target");
    ASSERT_EQ(::mkfifo((tree.root() / "fifo").c_str(), 0600), 0);

    bool ok = false;
    const auto seen = walk(tree.root(), &ok);
    ASSERT_TRUE(ok);

    const std::map<std::string, std::pair<uint64_t, bool>> expected = {
        {"empty", {0, false}},
        {"one", {1, false}},
        {".hidden", {10, false}},
        {"a/b/c/deep", {4097, false}},
        {"big", {(uint64_t{5} << 30) + 123, false}},
        {"a/b/up", {2, false}},
        {"a/b/c/root", {tree.root().string().size(), false}},
        {"self", {4, false}},
        {"dangling", {14, false}},
        {"fifo", {0, false}},
    };
    for (const auto& [path, want] : expected) {
        SCOPED_TRACE(path);
        const auto found = seen.find(path);
        ASSERT_NE(found, seen.end());
        EXPECT_EQ(found->second.size, want.first);
        EXPECT_EQ(found->second.directory, want.second);
    }
    for (const char* directory : {"a", "a/b", "a/b/c", "a/emptydir"}) {
        SCOPED_TRACE(directory);
        ASSERT_EQ(seen.count(directory), 1u);
        EXPECT_TRUE(seen.at(directory).directory);
    }
    // Nothing else (in particular nothing reached through a link), and nothing twice.
    EXPECT_EQ(seen.size(), expected.size() + 4);
    for (const auto& [path, s] : seen) EXPECT_EQ(s.times, 1) << path;
}

TEST(TreeWalk, SizesAdapterCountsDirectoriesAsZero) {
    TempTree tree;
    tree.file("x/y/z", 10);
    tree.file("w", 4096);
    tree.link("l", "x");
    uint64_t total = 0;
    int entries = 0;
    ASSERT_TRUE(walkTreeSizes(tree.root().string(), [&](uint64_t size) {
        total += size;
        ++entries;
    }));
    EXPECT_EQ(entries, 5);  // x, x/y, x/y/z, w, l
    EXPECT_EQ(total, 10u + 4096u + 1u);
}

TEST(TreeWalk, DoesNotEnterALinkedDirectoryBelowTheRoot) {
    TempTree outside;
    outside.file("secret/f", 100);
    TempTree tree;
    tree.link("elsewhere", outside.root().string());
    const auto seen = walk(tree.root());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen.begin()->second.directory);
}

TEST(TreeWalk, EntersARootThatIsALinkToADirectory) {
    TempTree tree;
    tree.file("home/f", 7);
    TempTree holder;
    holder.link("kid", (tree.root() / "home").string());
    bool ok = false;
    const auto seen = walk(holder.root() / "kid", &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(seen.count("f"), 1u);
    EXPECT_EQ(seen.at("f").size, 7u);
}

TEST(TreeWalk, FailsForARootThatIsMissingOrNotADirectory) {
    TempTree tree;
    tree.file("plain", 3);
    for (const fs::path& root : {tree.root() / "missing", tree.root() / "plain"}) {
        SCOPED_TRACE(root.string());
        bool ok = true;
        const auto seen = walk(root, &ok);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(seen.empty());
    }
}

// Empties the directory open at `fd`, however deep: std::filesystem cannot name the paths.
void removeBelow(int fd) {
    std::vector<std::string> names;
    if (DIR* dir = ::fdopendir(::dup(fd))) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    for (const std::string& name : names) {
        if (::unlinkat(fd, name.c_str(), 0) == 0) continue;
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (sub < 0) continue;
        removeBelow(sub);
        ::close(sub);
        ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    }
}

void fileAt(int dir, const char* name, off_t size) {
    const int fd = ::openat(dir, name, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

// A child can nest directories until their paths are longer than any one call accepts (PATH_MAX)
// or than a 16-bit path length holds, and hide files down there from the quota; every level still
// counts, and the walk holds only a few descriptors open, however deep it goes.
TEST(TreeWalk, CountsEverythingBelowPathsTooLongToName) {
    TempTree tree;
    tree.file("top", 1);
    constexpr int kLevels = 700;
    const std::string name(100, 'd');
    int fd = ::open(tree.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const int rootFd = ::dup(fd);
    for (int level = 1; level <= kLevels; ++level) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
        if (level == 5) fileAt(fd, "shallow", 7);
        if (level == 40) fileAt(fd, "middle", 300);
    }
    fileAt(fd, "bottom", 12345);
    ::close(fd);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 128;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::map<std::string, uint64_t> files;
    int directories = 0;
    size_t longest = 0;
    const bool ok = walkTree(tree.root().string(), [&](const TreeEntry& e) {
        longest = std::max(longest, e.path.size());
        if (e.directory) {
            ++directories;
        } else {
            files[std::string(e.path.substr(e.path.rfind('/') + 1))] = e.size;
        }
    });
    ::setrlimit(RLIMIT_NOFILE, &saved);
    removeBelow(rootFd);
    ::close(rootFd);

    EXPECT_TRUE(ok);
    EXPECT_EQ(directories, kLevels);
    EXPECT_EQ(files, (std::map<std::string, uint64_t>{
                         {"top", 1}, {"shallow", 7}, {"middle", 300}, {"bottom", 12345}}));
    EXPECT_GT(longest, size_t{kLevels} * 101);
}

TEST(TreeWalk, EmptyRootSucceedsWithNoEntries) {
    TempTree tree;
    bool ok = false;
    EXPECT_TRUE(walk(tree.root(), &ok).empty());
    EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace hv
