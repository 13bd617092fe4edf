#include "platform/linux/shm_channel.h"

#include <fcntl.h>
#include <grp.h>
#include <semaphore.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace hv {

namespace {

constexpr size_t kRecordBytes = 4 * sizeof(int32_t);
// Where the C library keeps named semaphores.
constexpr char kSemaphorePrefix[] = "/dev/shm/sem.";
// Another account may put its object back between the removal and the creation; after this many
// rounds the channel is given up rather than fought over.
constexpr int kClaimRounds = 3;

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
//
// The handler is installed once, with the first channel, rather than around each touch: the tick
// touches the semaphore twice, and installing and restoring it each time cost six system calls.
// A SIGBUS that is not a guarded touch's puts the handler found before back and is raised again,
// so faults anywhere else keep their usual outcome.
sigjmp_buf* volatile faultExit = nullptr;
struct sigaction unguardedBus {};

void onBusFault(int, siginfo_t*, void*) {
    if (faultExit != nullptr) siglongjmp(*faultExit, 1);
    sigaction(SIGBUS, &unguardedBus, nullptr);
    raise(SIGBUS);
}

bool installBusGuard() {
    static const bool installed = [] {
        struct sigaction guard {};
        guard.sa_sigaction = onBusFault;
        // Not blocked while it runs: the jump out of it then leaves the signal mask as it was,
        // with no call to save and restore it on every touch.
        guard.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&guard.sa_mask);
        return sigaction(SIGBUS, &guard, &unguardedBus) == 0;
    }();
    return installed;
}

// Runs `touch` with SIGBUS caught; false when the mapping faulted.
template <typename Touch>
bool withoutBusFault(Touch touch) {
    sigjmp_buf jump;
    volatile bool completed = false;
    if (sigsetjmp(jump, 0) == 0) {
        faultExit = &jump;
        touch();
        completed = true;
    }
    faultExit = nullptr;
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
    void writeNetworkBack(int32_t minute) override {
        std::memcpy(static_cast<char*>(address_) + kRecordBytes, &minute, sizeof minute);
    }

private:
    int id_;
    void* address_;
    sem_t* semaphore_;
    bool broken_ = false;
};

// Removes segment `id` in a child that has become its creator `uid` and `gid`. The kernel lets the
// creator remove a segment, so the daemon needs no CAP_SYS_ADMIN to clear one that another account
// left at its key.
bool removeSegmentAs(int id, uid_t uid, gid_t gid) {
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const bool dropped = setgroups(0, nullptr) == 0 && setresgid(gid, gid, gid) == 0 &&
                             setresuid(uid, uid, uid) == 0;
        _exit(dropped && shmctl(id, IPC_RMID, nullptr) == 0 ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The kernel's record of segment `id`, read from its table the way ipcs does (SHM_STAT_ANY), which
// needs no read permission on a segment that another account made private.
std::optional<struct shmid_ds> segmentRecord(int id) {
    struct shm_info info {};
    const int highest = shmctl(0, SHM_INFO, reinterpret_cast<struct shmid_ds*>(&info));
    for (int index = 0; index <= highest; ++index) {
        struct shmid_ds record {};
        if (shmctl(index, SHM_STAT_ANY, &record) == id) return record;
    }
    return std::nullopt;
}

// The segment's identifier, or -1.
int claimSegment(key_t key, size_t size, ChannelSquat& removed) {
    for (int round = 0; round < kClaimRounds; ++round) {
        const int created = shmget(key, size, IPC_CREAT | IPC_EXCL | 0666);
        if (created >= 0 || errno != EEXIST) return created;
        const int existing = shmget(key, 0, 0);
        if (existing < 0) continue;
        const std::optional<struct shmid_ds> record = segmentRecord(existing);
        if (!record) continue;
        // Only root can remove root's segment, so once found it stays.
        if (record->shm_perm.cuid == 0) return shmget(key, size, 0666);
        if (!removeSegmentAs(existing, record->shm_perm.cuid, record->shm_perm.cgid)) return -1;
        removed.segmentCreator = record->shm_perm.cuid;
    }
    return -1;
}

// Anything else at the name is someone else's: a link, a file another account could replace, or
// one cut too short to hold the semaphore (touching it would fault).
bool isRootsSemaphore(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == 0 && info.st_nlink == 1 &&
           info.st_size >= static_cast<off_t>(sizeof(sem_t));
}

sem_t* claimSemaphore(const std::string& name, ChannelSquat& removed) {
    const std::string path = kSemaphorePrefix + name;
    for (int round = 0; round < kClaimRounds; ++round) {
        struct stat info {};
        if (lstat(path.c_str(), &info) == 0) {
            // Root owns the sticky /dev/shm: it may remove any entry there, and nobody else may
            // remove root's, so a root file found here is still the same one when opened.
            if (isRootsSemaphore(info)) return sem_open(name.c_str(), 0);
            if (unlink(path.c_str()) != 0 && errno != ENOENT) return SEM_FAILED;
            removed.semaphoreOwner = info.st_uid;
        } else if (errno != ENOENT) {
            return SEM_FAILED;
        }
        // The display runs as the console user and opens the semaphore too; under the daemon's
        // umask the mode would lose its group and other bits. Exclusive, so that nothing put there
        // since the check is ever taken over.
        const mode_t previous = umask(0);
        sem_t* created = sem_open(name.c_str(), O_CREAT | O_EXCL, 0666, 1);
        umask(previous);
        if (created != SEM_FAILED || errno != EEXIST) return created;
    }
    return SEM_FAILED;
}

}  // namespace

System::OpenedChannel openShmChannel(key_t key, size_t size, const std::string& semaphoreName) {
    System::OpenedChannel opened;
    if (size < kRecordBytes || !installBusGuard()) return opened;
    const int id = claimSegment(key, size, opened.removed);
    if (id < 0) return opened;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        struct shmid_ds info {};
        if (shmctl(id, IPC_STAT, &info) == 0 && info.shm_nattch == 0) shmctl(id, IPC_RMID, nullptr);
        return opened;
    }
    sem_t* semaphore = claimSemaphore(semaphoreName, opened.removed);
    if (semaphore == SEM_FAILED) {
        detach(id, address);
        return opened;
    }
    opened.channel = std::make_unique<ShmChannel>(id, address, semaphore);
    return opened;
}

}  // namespace hv
