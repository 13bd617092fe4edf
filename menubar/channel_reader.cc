#include "menubar/channel_reader.h"

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <utility>

namespace hv::menu {

namespace {

constexpr std::size_t kRecordSize = 5 * sizeof(std::int32_t);

RemainingTimeRecord copyRecord(const volatile std::int32_t* words) {
    return RemainingTimeRecord{words[0], words[1], words[2], words[3], words[4]};
}

}  // namespace

ChannelReader::ChannelReader(ChannelNames names) : names(std::move(names)) {
    openSemaphore();
    if (int id = shmget(this->names.shmKey, 0, 0); id >= 0) attach(id);
}

ChannelReader::~ChannelReader() {
    detach();
    if (semaphoreID != SEM_FAILED) sem_close(semaphoreID);
}

void ChannelReader::openSemaphore() {
    // Created here only when the daemon has not run yet; it then finds and shares this one.
    semaphoreID = sem_open(names.semaphoreName.c_str(), O_CREAT, 0666, 1);
}

void ChannelReader::attach(int id) {
    // A segment under the key that is too small to hold the record is not the daemon's: reading
    // the record through it would run past its end.
    shmid_ds info{};
    if (shmctl(id, IPC_STAT, &info) != 0 || info.shm_segsz < kRecordSize) return;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) return;
    sharedMem = static_cast<const volatile std::int32_t*>(address);
    sharedMemID = id;
}

void ChannelReader::detach() {
    if (sharedMem == nullptr) return;
    shmdt(const_cast<const std::int32_t*>(sharedMem));
    // The last side to let go removes the segment; this fails harmlessly when the segment was
    // removed already or belongs to someone who alone may remove it.
    shmid_ds info{};
    if (shmctl(sharedMemID, IPC_STAT, &info) == 0 && info.shm_nattch == 0) {
        shmctl(sharedMemID, IPC_RMID, nullptr);
    }
    sharedMem = nullptr;
    sharedMemID = -1;
}

ChannelRead ChannelReader::read() {
    // Size 0 finds an existing segment and never makes one. A removed segment no longer answers
    // to the key, so a daemon restart shows up here as a new identifier or as none.
    int id = shmget(names.shmKey, 0, 0);
    if (id < 0) {
        detach();
        return {};
    }
    if (id != sharedMemID) {
        detach();
        attach(id);
        if (sharedMem == nullptr) return {};
    }

    if (semaphoreID == SEM_FAILED) openSemaphore();
    if (semaphoreID == SEM_FAILED) return {ChannelRead::Status::kRead, copyRecord(sharedMem)};

    int taken;
    do {
        taken = sem_trywait(semaphoreID);
    } while (taken != 0 && errno == EINTR);
    if (taken == 0) {
        busyPolls = 0;
        RemainingTimeRecord record = copyRecord(sharedMem);
        sem_post(semaphoreID);
        return {ChannelRead::Status::kRead, record};
    }
    if (errno == EAGAIN && ++busyPolls < kBusyPollsBeforeUnlockedRead) {
        return {ChannelRead::Status::kBusy, {}};
    }
    return {ChannelRead::Status::kRead, copyRecord(sharedMem)};
}

}  // namespace hv::menu
