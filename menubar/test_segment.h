#pragma once

// Test support: the daemon's side of a remaining-time channel under a private key and a private
// semaphore name, both unique to this process and object.

#include <fcntl.h>
#include <semaphore.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "menubar/channel_reader.h"

namespace hv::menu::testing {

class TestChannel {
public:
    TestChannel() {
        static int counter = 0;
        ++counter;
        names.shmKey = static_cast<key_t>(0x48000000 | ((getpid() & 0xffff) << 8) | (counter & 0xff));
        names.semaphoreName = "/hvmenu-test-" + std::to_string(getpid()) + "-" + std::to_string(counter);
        removeSegment();
        sem_unlink(names.semaphoreName.c_str());
    }
    ~TestChannel() {
        detach();
        removeSegment();
        if (sem != SEM_FAILED) sem_close(sem);
        sem_unlink(names.semaphoreName.c_str());
    }
    TestChannel(const TestChannel&) = delete;
    TestChannel& operator=(const TestChannel&) = delete;

    // Creates and attaches the segment as the daemon does; returns false on failure.
    bool create(std::size_t size = 1024) {
        id = shmget(names.shmKey, size, IPC_CREAT | 0666);
        if (id < 0) return false;
        void* at = shmat(id, nullptr, 0);
        if (at == reinterpret_cast<void*>(-1)) return false;
        address = static_cast<std::int32_t*>(at);
        sem = sem_open(names.semaphoreName.c_str(), O_CREAT, 0666, 1);
        return sem != SEM_FAILED;
    }

    void write(std::int32_t rmin, std::int32_t nmin, std::int32_t warn, std::int32_t rsec,
               std::int32_t netback = -1) {
        const std::int32_t words[5] = {rmin, nmin, warn, rsec, netback};
        std::memcpy(address, words, sizeof words);
    }

    void detach() {
        if (address != nullptr) shmdt(address);
        address = nullptr;
    }

    void removeSegment() {
        int existing = shmget(names.shmKey, 0, 0);
        if (existing >= 0) shmctl(existing, IPC_RMID, nullptr);
    }

    // True while a segment answers to the key.
    bool segmentExists() const { return shmget(names.shmKey, 0, 0) >= 0; }

    int attachments() const {
        shmid_ds info{};
        return shmctl(id, IPC_STAT, &info) == 0 ? static_cast<int>(info.shm_nattch) : -1;
    }

    bool takeLock() { return sem_trywait(sem) == 0; }
    void releaseLock() { sem_post(sem); }
    int lockValue() const {
        int value = -1;
        sem_getvalue(sem, &value);
        return value;
    }

    ChannelNames names;
    int id = -1;

private:
    std::int32_t* address = nullptr;
    sem_t* sem = SEM_FAILED;
};

}  // namespace hv::menu::testing
