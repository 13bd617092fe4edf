#include "platform/linux/shm_channel.h"

#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

namespace hv {
namespace {

// A key and semaphore name private to this test process: IPC_PRIVATE would never be reused, and
// reuse is what is under test.
class ShmChannelTest : public ::testing::Test {
protected:
    void SetUp() override { cleanUp(); }
    void TearDown() override { cleanUp(); }
    void cleanUp() {
        const int id = shmget(key, 0, 0);
        if (id >= 0) shmctl(id, IPC_RMID, nullptr);
        sem_unlink(name.c_str());
    }
    bool segmentExists() const { return shmget(key, 0, 0) >= 0; }

    const key_t key = static_cast<key_t>(0x48560000 | (getpid() & 0xffff));
    const std::string name = "hvtest." + std::to_string(getpid());
};

TEST_F(ShmChannelTest, WritesTheRecordASecondAttachmentReads) {
    auto channel = openShmChannel(key, 1024, name).channel;
    ASSERT_NE(channel, nullptr);
    const int id = shmget(key, 0, 0);
    ASSERT_GE(id, 0);
    struct shmid_ds info {};
    ASSERT_EQ(shmctl(id, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_perm.mode & 0777, 0666u);
    EXPECT_GE(info.shm_segsz, 1024u);

    auto* reader = static_cast<int32_t*>(shmat(id, nullptr, SHM_RDONLY));
    ASSERT_NE(reader, reinterpret_cast<int32_t*>(-1));
    // A new segment reads as zeros until the first write.
    EXPECT_EQ(reader[0] | reader[1] | reader[2] | reader[3], 0);
    ASSERT_TRUE(channel->tryLock());
    channel->write({42, -2, 1, 59});
    channel->unlock();
    EXPECT_EQ(reader[0], 42);
    EXPECT_EQ(reader[1], -2);
    EXPECT_EQ(reader[2], 1);
    EXPECT_EQ(reader[3], 59);
    EXPECT_EQ(reader[4], 0);  // nothing past the record is touched
    shmdt(reader);
}

TEST_F(ShmChannelTest, ReusesAndTheLastToDetachRemoves) {
    auto first = openShmChannel(key, 1024, name).channel;
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->tryLock());
    first->write({7, 7, 7, 7});
    first->unlock();

    auto second = openShmChannel(key, 1024, name).channel;
    ASSERT_NE(second, nullptr);
    auto* view = static_cast<int32_t*>(shmat(shmget(key, 0, 0), nullptr, SHM_RDONLY));
    ASSERT_NE(view, reinterpret_cast<int32_t*>(-1));
    EXPECT_EQ(view[0], 7);  // the old record is kept until the next write
    ASSERT_TRUE(second->tryLock());
    second->write({8, 8, 8, 8});
    second->unlock();
    EXPECT_EQ(view[0], 8);

    first.reset();
    EXPECT_TRUE(segmentExists());  // still attached by `second` and the view
    second.reset();
    EXPECT_TRUE(segmentExists());  // a reader is still attached
    shmdt(view);
    EXPECT_TRUE(segmentExists());  // the reader here detached without the channel's clean-up

    auto third = openShmChannel(key, 1024, name).channel;
    ASSERT_NE(third, nullptr);
    third.reset();
    EXPECT_FALSE(segmentExists());
}

TEST_F(ShmChannelTest, SemaphoreIsWorldUsableWhateverTheUmask) {
    const mode_t previous = umask(077);
    auto channel = openShmChannel(key, 1024, name).channel;
    const mode_t during = umask(previous);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(during, 077u);  // the caller's umask is restored
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm/sem." + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    channel.reset();
    // Closing never unlinks the name.
    EXPECT_EQ(stat(("/dev/shm/sem." + name).c_str(), &st), 0);
}

TEST_F(ShmChannelTest, TryLockFailsWhileAnotherHandleHoldsIt) {
    auto channel = openShmChannel(key, 1024, name).channel;
    ASSERT_NE(channel, nullptr);
    sem_t* other = sem_open(name.c_str(), 0);
    ASSERT_NE(other, SEM_FAILED);
    ASSERT_EQ(sem_trywait(other), 0);
    EXPECT_FALSE(channel->tryLock());
    sem_post(other);
    ASSERT_TRUE(channel->tryLock());
    EXPECT_EQ(sem_trywait(other), -1);  // held by the channel now
    channel->unlock();
    int value = -1;
    sem_getvalue(other, &value);
    EXPECT_EQ(value, 1);
    sem_close(other);
}

TEST_F(ShmChannelTest, ExistingSemaphoreKeepsItsCount) {
    const mode_t previous = umask(0);
    sem_t* stale = sem_open(name.c_str(), O_CREAT, 0666, 0);  // as left by a holder that died
    umask(previous);
    ASSERT_NE(stale, SEM_FAILED);
    auto channel = openShmChannel(key, 1024, name).channel;
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(channel->tryLock());
    sem_close(stale);
}

// Any account can write the semaphore's file, and so cut it short under the daemon's mapping.
TEST_F(ShmChannelTest, SemaphoreFileCutShortFailsTheLockInsteadOfKillingTheProcess) {
    auto channel = openShmChannel(key, 1024, name).channel;
    ASSERT_NE(channel, nullptr);
    ASSERT_TRUE(channel->tryLock());
    ASSERT_EQ(truncate(("/dev/shm/sem." + name).c_str(), 0), 0);
    channel->unlock();
    EXPECT_FALSE(channel->tryLock());
    // Grown back, the file holds a fresh page, but the channel stays shut rather than trust it.
    ASSERT_EQ(truncate(("/dev/shm/sem." + name).c_str(), 4096), 0);
    EXPECT_FALSE(channel->tryLock());
    channel->write({1, 2, 3, 4});  // the segment itself is unaffected
    // Faults elsewhere keep their usual outcome: a mapping of another file cut short kills.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char path[] = "/tmp/hvbus.XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0 || ftruncate(fd, 4096) != 0) _exit(2);
        unlink(path);
        auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        if (page == MAP_FAILED || ftruncate(fd, 0) != 0) _exit(2);
        page[0] = 1;
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // Killed by SIGBUS, or by the sanitizer's report when one runs the test: never carried on.
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << "the child could not set up its mapping";
    EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a fault outside the channel was swallowed";
}

// Squats that another account can set up before the daemon starts: each is removed, never
// followed, and the daemon's own segment and semaphore take their place.
TEST_F(ShmChannelTest, WhatRootDidNotCreateIsReplacedByTheDaemonsOwn) {
    if (geteuid() != 0) GTEST_SKIP() << "squatting as another account needs root";
    constexpr uid_t kOther = 65534;
    const std::string path = "/dev/shm/sem." + name;
    const std::string target = "/dev/shm/hvtest-target." + std::to_string(getpid());
    struct Case {
        const char* what;
        bool segment;     // a private 16-byte segment of the other account at the key
        int semaphore;    // 0: none, 1: a link to a file, 2: the other account's own semaphore file
        bool rootEmpty;   // root's own file, cut short, at the name
    };
    const Case cases[] = {
        {"segment and link", true, 1, false},
        {"segment alone", true, 0, false},
        {"foreign semaphore file", false, 2, false},
        {"root's file cut short", false, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cleanUp();
        const int fd = open(target.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
        if (c.rootEmpty) close(open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool done = setresgid(kOther, kOther, kOther) == 0 && setresuid(kOther, kOther, kOther) == 0;
            if (c.segment) done = done && shmget(key, 16, IPC_CREAT | IPC_EXCL | 0600) >= 0;
            if (c.semaphore == 1) done = done && symlink(target.c_str(), path.c_str()) == 0;
            if (c.semaphore == 2) done = done && sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 0) != SEM_FAILED;
            _exit(done ? 0 : 1);
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_EQ(status, 0);

        System::OpenedChannel opened = openShmChannel(key, 1024, name);
        ASSERT_NE(opened.channel, nullptr);
        EXPECT_EQ(opened.removed.segmentCreator, c.segment ? std::optional<uid_t>(kOther) : std::nullopt);
        const std::optional<uid_t> owner =
            c.rootEmpty ? std::optional<uid_t>(0) : c.semaphore ? std::optional<uid_t>(kOther) : std::nullopt;
        EXPECT_EQ(opened.removed.semaphoreOwner, owner);

        const int id = shmget(key, 0, 0);
        struct shmid_ds info {};
        ASSERT_EQ(shmctl(id, IPC_STAT, &info), 0);
        EXPECT_EQ(info.shm_perm.cuid, 0u);
        EXPECT_EQ(info.shm_perm.mode & 0777, 0666u);
        EXPECT_GE(info.shm_segsz, 1024u);
        struct stat st {};
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_uid, 0u);
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0);  // the link's target was never written

        auto* reader = static_cast<int32_t*>(shmat(id, nullptr, SHM_RDONLY));
        ASSERT_NE(reader, reinterpret_cast<int32_t*>(-1));
        ASSERT_TRUE(opened.channel->tryLock());
        opened.channel->write({5, -1, 0, 9});
        opened.channel->unlock();
        EXPECT_EQ(reader[0], 5);
        EXPECT_EQ(reader[3], 9);
        shmdt(reader);
        opened.channel.reset();

        // The next start finds root's own and keeps them.
        EXPECT_TRUE(openShmChannel(key, 1024, name).removed.empty());
    }
    unlink(target.c_str());
}

TEST_F(ShmChannelTest, FailureLeavesNothingBehind) {
    EXPECT_EQ(openShmChannel(key, 8, name).channel, nullptr);  // too small for the record
    EXPECT_FALSE(segmentExists());
    // A name with a slash inside cannot be a semaphore; the segment made for it is removed.
    EXPECT_EQ(openShmChannel(key, 1024, "bad/name").channel, nullptr);
    EXPECT_FALSE(segmentExists());
}

}  // namespace
}  // namespace hv
