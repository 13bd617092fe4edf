#include "platform/linux/shm_channel.h"

#include <fcntl.h>
#include <semaphore.h>
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

    bool tryLock() override {
        int r;
        do {
            r = sem_trywait(semaphore_);
        } while (r != 0 && errno == EINTR);
        return r == 0;
    }
    void unlock() override { sem_post(semaphore_); }
    void write(const int32_t (&words)[4]) override { std::memcpy(address_, words, kRecordBytes); }

private:
    int id_;
    void* address_;
    sem_t* semaphore_;
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
