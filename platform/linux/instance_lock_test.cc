#include "platform/linux/instance_lock.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "platform/linux/test_dir.h"

namespace hv {
namespace {

TEST(InstanceLockTest, OneHolderAtATimeAcrossProcessesAndForks) {
    TestDir dir;
    const std::string path = dir.path() + "/horaveld.lock";
    InstanceLock first = lockInstance(path);
    ASSERT_TRUE(first.fd) << first.error;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A second start is another process: it must see the lock taken.
    auto triesInChild = [&] {
        const pid_t child = fork();
        if (child == 0) {
            const InstanceLock second = lockInstance(path);
            _exit(second.fd ? 0 : second.heldElsewhere ? 1 : 2);
        }
        int status = -1;
        waitpid(child, &status, 0);
        return WEXITSTATUS(status);
    };
    EXPECT_EQ(triesInChild(), 1);

    // The daemon detaches by forking: the child's copy keeps the lock after the parent lets go.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t detached = fork();
    if (detached == 0) {
        close(ready[0]);
        const char byte = 'x';
        if (write(ready[1], &byte, 1) == 1) pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    first.fd.reset();
    EXPECT_EQ(triesInChild(), 1);
    close(ready[0]);
    kill(detached, SIGKILL);
    waitpid(detached, nullptr, 0);
    EXPECT_EQ(triesInChild(), 0);
}

TEST(InstanceLockTest, NeverOpensThroughALink) {
    TestDir dir;
    const std::string target = dir.path() + "/target";
    std::ofstream(target) << "keep";
    const std::string path = dir.path() + "/horaveld.lock";
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    const InstanceLock lock = lockInstance(path);
    EXPECT_FALSE(lock.fd);
    EXPECT_FALSE(lock.heldElsewhere);
    EXPECT_NE(lock.error.find(path), std::string::npos);
}

}  // namespace
}  // namespace hv
