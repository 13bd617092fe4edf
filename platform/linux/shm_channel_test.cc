#include "platform/linux/shm_channel.h"

#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/stat.h>
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
    auto channel = openShmChannel(key, 1024, name);
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
    auto first = openShmChannel(key, 1024, name);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->tryLock());
    first->write({7, 7, 7, 7});
    first->unlock();

    auto second = openShmChannel(key, 1024, name);
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

    auto third = openShmChannel(key, 1024, name);
    ASSERT_NE(third, nullptr);
    third.reset();
    EXPECT_FALSE(segmentExists());
}

TEST_F(ShmChannelTest, SemaphoreIsWorldUsableWhateverTheUmask) {
    const mode_t previous = umask(077);
    auto channel = openShmChannel(key, 1024, name);
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
    auto channel = openShmChannel(key, 1024, name);
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
    auto channel = openShmChannel(key, 1024, name);
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(channel->tryLock());
    sem_close(stale);
}

// Any account can write the semaphore's file, and so cut it short under the daemon's mapping.
TEST_F(ShmChannelTest, SemaphoreFileCutShortFailsTheLockInsteadOfKillingTheProcess) {
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGBUS, nullptr, &before), 0);
    auto channel = openShmChannel(key, 1024, name);
    ASSERT_NE(channel, nullptr);
    ASSERT_TRUE(channel->tryLock());
    ASSERT_EQ(truncate(("/dev/shm/sem." + name).c_str(), 0), 0);
    channel->unlock();
    EXPECT_FALSE(channel->tryLock());
    // Grown back, the file holds a fresh page, but the channel stays shut rather than trust it.
    ASSERT_EQ(truncate(("/dev/shm/sem." + name).c_str(), 4096), 0);
    EXPECT_FALSE(channel->tryLock());
    channel->write({1, 2, 3, 4});  // the segment itself is unaffected
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGBUS, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);  // faults elsewhere keep their usual outcome
}

TEST_F(ShmChannelTest, SemaphoreFileEmptyBeforeTheDaemonStartsIsNeverTrusted) {
    const std::string path = "/dev/shm/sem." + name;
    const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    close(fd);
    // Refusing it outright or treating it as held are both sound; touching it is not.
    auto channel = openShmChannel(key, 1024, name);
    EXPECT_TRUE(channel == nullptr || !channel->tryLock());
}

TEST_F(ShmChannelTest, FailureLeavesNothingBehind) {
    EXPECT_EQ(openShmChannel(key, 8, name), nullptr);  // too small for the record
    EXPECT_FALSE(segmentExists());
    // A name with a slash inside cannot be a semaphore; the segment made for it is removed.
    EXPECT_EQ(openShmChannel(key, 1024, "bad/name"), nullptr);
    EXPECT_FALSE(segmentExists());
}

}  // namespace
}  // namespace hv
