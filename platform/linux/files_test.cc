#include "platform/linux/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/linux/test_dir.h"

namespace hv {
namespace {

void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : previous_(umask(mask)) {}
    ~UmaskGuard() { umask(previous_); }

private:
    mode_t previous_;
};

TEST(ReadRegularFile, OutcomeForEachKindOfEntry) {
    TestDir dir;
    ASSERT_FALSE(dir.path().empty());
    put(dir.file("plain"), "policy bytes");
    put(dir.file("empty"), "");
    put(dir.file("big"), std::string(1025, 'x'));
    ASSERT_EQ(symlink(dir.file("plain").c_str(), dir.file("link").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir.file("dir").c_str(), 0755), 0);

    struct Case {
        const char* name;
        std::optional<std::string> bytes;
        bool missing;
        const char* error;
    } cases[] = {
        {"plain", "policy bytes", false, ""},
        {"empty", "", false, ""},
        {"big", std::nullopt, false, "larger than 1024 bytes"},
        {"link", std::nullopt, false, "is a symbolic link"},
        {"dangling", std::nullopt, false, "is a symbolic link"},
        {"fifo", std::nullopt, false, "not a regular file"},  // would block forever if opened
        {"dir", std::nullopt, false, "not a regular file"},
        {"nowhere", std::nullopt, true, "No such file or directory"},
    };
    for (const Case& c : cases) {
        const ReadResult r = readRegularFile(dir.file(c.name), 1024);
        EXPECT_EQ(r.bytes, c.bytes) << c.name;
        EXPECT_EQ(r.missing, c.missing) << c.name;
        EXPECT_EQ(r.error, c.error) << c.name;
    }
}

TEST(ReadRegularFile, DeviceIsRefusedAndMissingParentIsAFailure) {
    const ReadResult device = readRegularFile("/dev/zero", 1024);
    EXPECT_FALSE(device.bytes);
    EXPECT_EQ(device.error, "not a regular file");

    TestDir dir;
    put(dir.file("file"), "x");
    const ReadResult underFile = readRegularFile(dir.file("file") + "/child", 1024);
    EXPECT_FALSE(underFile.bytes);
    EXPECT_FALSE(underFile.missing);
    EXPECT_FALSE(underFile.error.empty());
}

TEST(ReadRegularFile, ExactlyAtTheCapIsRead) {
    TestDir dir;
    put(dir.file("f"), std::string(100, 'a'));
    EXPECT_EQ(readRegularFile(dir.file("f"), 100).bytes, std::string(100, 'a'));
    EXPECT_FALSE(readRegularFile(dir.file("f"), 99).bytes);
}

TEST(WriteFileAtomically, ReplacesLinkInsteadOfFollowingIt) {
    TestDir dir;
    put(dir.file("victim"), "precious");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("policy").c_str()), 0);

    ASSERT_TRUE(writeFileAtomically(dir.file("policy"), "new policy", 0600));
    struct stat st {};
    ASSERT_EQ(lstat(dir.file("policy").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(slurp(dir.file("policy")), "new policy");
    EXPECT_EQ(slurp(dir.file("victim")), "precious");
}

TEST(WriteFileAtomically, ModeIsExactWhateverTheUmask) {
    TestDir dir;
    const UmaskGuard mask(0077);
    for (mode_t mode : {mode_t{0644}, mode_t{0600}, mode_t{0666}}) {
        ASSERT_TRUE(writeFileAtomically(dir.file("settings"), "x", mode));
        struct stat st {};
        ASSERT_EQ(stat(dir.file("settings").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}

TEST(WriteFileAtomically, GivesTheFileItsOwnerAndReadReportsWhoWroteIt) {
    if (geteuid() != 0) GTEST_SKIP() << "handing a file to another owner needs root";
    TestDir dir;
    const std::string path = dir.file("policy");
    ASSERT_TRUE(writeFileAtomically(path, "kept", 0644, FileOwner{65534, 65534}));
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    const ReadResult read = readRegularFile(path, 64);
    ASSERT_TRUE(read.bytes);
    ASSERT_TRUE(read.info);
    EXPECT_EQ(read.info->uid, 65534u);
    EXPECT_EQ(read.info->gid, 65534u);
    EXPECT_TRUE(S_ISREG(read.info->mode));

    ASSERT_TRUE(writeFileAtomically(path, "root's", 0600));
    const ReadResult again = readRegularFile(path, 64);
    ASSERT_TRUE(again.info);
    EXPECT_EQ(again.info->uid, 0u) << "without an owner the writer keeps the file";
    EXPECT_EQ(again.info->mode & 07777, 0600u);
}

// A save must be able to tell the file it loaded from one put in its place since.
TEST(WriteFileAtomically, EveryWriteIsANewFileThatReadAndInfoBothName) {
    TestDir dir;
    const std::string path = dir.file("policy");
    ASSERT_TRUE(writeFileAtomically(path, "one", 0644));
    const ReadResult first = readRegularFile(path, 64);
    ASSERT_TRUE(first.info);
    const std::optional<FileInfo> looked = pathInfo(path);
    ASSERT_TRUE(looked);
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_EQ(first.info->inode, st.st_ino);
    EXPECT_EQ(first.info->device, st.st_dev);
    EXPECT_EQ(looked->inode, st.st_ino);
    EXPECT_EQ(looked->device, st.st_dev);

    ASSERT_TRUE(writeFileAtomically(path, "one", 0644));
    const std::optional<FileInfo> replaced = pathInfo(path);
    ASSERT_TRUE(replaced);
    EXPECT_NE(replaced->inode, first.info->inode) << "same bytes, another file";
}

TEST(WriteFileAtomically, LeavesNoTemporaryBehindOnSuccessOrFailure) {
    TestDir dir;
    ASSERT_TRUE(writeFileAtomically(dir.file("a"), "1", 0644));
    ASSERT_TRUE(writeFileAtomically(dir.file("a"), "22", 0644));
    EXPECT_EQ(slurp(dir.file("a")), "22");

    // A directory at the target cannot be replaced by rename(); the target stays as it was.
    ASSERT_EQ(mkdir(dir.file("d").c_str(), 0755), 0);
    EXPECT_FALSE(writeFileAtomically(dir.file("d"), "x", 0644));
    struct stat st {};
    ASSERT_EQ(lstat(dir.file("d").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    EXPECT_FALSE(writeFileAtomically(dir.file("no/such/dir/f"), "x", 0644));

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "d"}));
}

TEST(AppendBytes, AppendsAndCreatesWith0644) {
    TestDir dir;
    const UmaskGuard mask(0);
    ASSERT_TRUE(appendBytes(dir.file("log"), "one\n"));
    ASSERT_TRUE(appendBytes(dir.file("log"), "two\n"));
    EXPECT_EQ(slurp(dir.file("log")), "one\ntwo\n");
    struct stat st {};
    ASSERT_EQ(stat(dir.file("log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(AppendBytes, RefusesLinkFifoAndDirectory) {
    TestDir dir;
    put(dir.file("target"), "keep");
    ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir.file("dir").c_str(), 0755), 0);
    // A reader on the FIFO, so that a non-checking open would succeed and a write would land.
    const int reader = open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    EXPECT_FALSE(appendBytes(dir.file("link"), "line\n"));
    EXPECT_FALSE(appendBytes(dir.file("fifo"), "line\n"));
    EXPECT_FALSE(appendBytes(dir.file("dir"), "line\n"));
    EXPECT_EQ(slurp(dir.file("target")), "keep");
    char byte;
    EXPECT_EQ(read(reader, &byte, 1), 0);  // nothing was written into the FIFO
    close(reader);
}

TEST(WriteFileTruncating, ReplacesContentInPlaceAndRefusesLink) {
    TestDir dir;
    put(dir.file("pid"), "123456789");
    struct stat before {};
    ASSERT_EQ(stat(dir.file("pid").c_str(), &before), 0);
    ASSERT_TRUE(writeFileTruncating(dir.file("pid"), "42"));
    EXPECT_EQ(slurp(dir.file("pid")), "42");
    struct stat after {};
    ASSERT_EQ(stat(dir.file("pid").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);

    put(dir.file("target"), "keep");
    ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
    EXPECT_FALSE(writeFileTruncating(dir.file("link"), "42"));
    EXPECT_EQ(slurp(dir.file("target")), "keep");
}

TEST(PathQueries, ExistsInfoAndRemoveSeeTheLinkItself) {
    TestDir dir;
    ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
    EXPECT_TRUE(pathExists(dir.file("dangling")));
    const std::optional<FileInfo> info = pathInfo(dir.file("dangling"));
    ASSERT_TRUE(info);
    EXPECT_TRUE(S_ISLNK(info->mode));
    EXPECT_EQ(info->uid, geteuid());
    EXPECT_TRUE(removePath(dir.file("dangling")));
    EXPECT_FALSE(pathExists(dir.file("dangling")));
    EXPECT_FALSE(pathInfo(dir.file("dangling")));
    EXPECT_FALSE(removePath(dir.file("dangling")));
}

}  // namespace
}  // namespace hv
