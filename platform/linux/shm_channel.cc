#include "platform/linux/shm_channel.h"

#include <fcntl.h>
#include <semaphore.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace hv {

namespace {

constexpr size_t kRecordBytes = 4 * sizeof(int32_t);

// Detaches and, when this was the last attachment, removes the segment: the last side to leave
// cleans up, so a reader still attached keeps it.
void detach(int id, void* address) {
    shmdt(address);
    struct shmid_ds info {};
    if (shmctl(id, IPC_STAT, &info) == 0 && info.shm_nattch == 0) shmctl(id, IPC_RMID, nullptr);
}

// The semaphore lives in a file under /dev/shm that every account may write (the display opens
// it as the console user), so anyone can truncate it; the daemon's next touch of the mapping
// would then die of SIGBUS and take all enforcement with it. Every touch of the semaphore runs
// under this guard, which turns such a fault into a failed call.
sigjmp_buf* volatile faultExit = nullptr;

void onBusFault(int, siginfo_t*, void*) {
    if (faultExit != nullptr) siglongjmp(*faultExit, 1);
}

// Runs `touch` with SIGBUS caught; false when the mapping faulted. The previous handler is
// back in place afterwards, so faults anywhere else keep their usual outcome.
template <typename Touch>
bool withoutBusFault(Touch touch) {
    struct sigaction guard {};
    guard.sa_sigaction = onBusFault;
    guard.sa_flags = SA_SIGINFO;
    sigemptyset(&guard.sa_mask);
    struct sigaction previous {};
    if (sigaction(SIGBUS, &guard, &previous) != 0) return false;
    sigjmp_buf jump;
    volatile bool completed = false;
    if (sigsetjmp(jump, 1) == 0) {
        faultExit = &jump;
        touch();
        completed = true;
    }
    faultExit = nullptr;
    sigaction(SIGBUS, &previous, nullptr);
    return completed;
}

class ShmChannel : public Channel {
public:
    ShmChannel(int id, void* address, sem_t* semaphore)
        : id_(id), address_(address), semaphore_(semaphore) {}
    ~ShmChannel() override {
        detach(id_, address_);
        sem_close(semaphore_);
    }
    ShmChannel(const ShmChannel&) = delete;
    ShmChannel& operator=(const ShmChannel&) = delete;

    // Once the semaphore's file has been cut short it counts as held for good: nothing is
    // published, as when a reader keeps it taken, and the daemon runs on.
    bool tryLock() override {
        if (broken_) return false;
        volatile int r = -1;
        const bool touched = withoutBusFault([&] {
            do {
                r = sem_trywait(semaphore_);
            } while (r != 0 && errno == EINTR);
        });
        broken_ = !touched;
        return touched && r == 0;
    }
    void unlock() override {
        if (broken_) return;
        broken_ = !withoutBusFault([&] { sem_post(semaphore_); });
    }
    void write(const int32_t (&words)[4]) override { std::memcpy(address_, words, kRecordBytes); }

private:
    int id_;
    void* address_;
    sem_t* semaphore_;
    bool broken_ = false;
};

}  // namespace

std::unique_ptr<Channel> openShmChannel(key_t key, size_t size, const std::string& semaphoreName) {
    if (size < kRecordBytes) return nullptr;
    const int id = shmget(key, size, IPC_CREAT | 0666);
    if (id < 0) return nullptr;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        struct shmid_ds info {};
        if (shmctl(id, IPC_STAT, &info) == 0 && info.shm_nattch == 0) shmctl(id, IPC_RMID, nullptr);
        return nullptr;
    }
    // The display runs as the console user and opens the semaphore too; under the daemon's
    // umask the mode would lose its group and other bits.
    const mode_t previous = umask(0);
    sem_t* semaphore = sem_open(semaphoreName.c_str(), O_CREAT, 0666, 1);
    umask(previous);
    if (semaphore == SEM_FAILED) {
        detach(id, address);
        return nullptr;
    }
    return std::make_unique<ShmChannel>(id, address, semaphore);
}

}  // namespace hv
