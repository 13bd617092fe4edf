// Writes one remaining-time record the way the daemon does, so the display can be shown and
// photographed without a daemon. The segment stays after this program ends.
//
//   hv_channel_writer [--key KEY] [--sem NAME] RMIN NMIN WARN RSEC
//   hv_channel_writer [--key KEY] --remove

#include <fcntl.h>
#include <semaphore.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: hv_channel_writer [--key KEY] [--sem NAME] RMIN NMIN WARN RSEC\n"
                 "       hv_channel_writer [--key KEY] --remove\n");
    return 2;
}

bool parseInt(const char* text, long long low, long long high, long long& out) {
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long long key = 1500;
    std::string semName = "1500";
    bool remove = false;
    std::vector<std::int32_t> words;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--key" && i + 1 < argc) {
            if (!parseInt(argv[++i], INT32_MIN, INT32_MAX, key)) return usage();
        } else if (arg == "--sem" && i + 1 < argc) {
            semName = argv[++i];
        } else if (arg == "--remove") {
            remove = true;
        } else {
            long long value = 0;
            if (!parseInt(argv[i], INT32_MIN, INT32_MAX, value)) return usage();
            words.push_back(static_cast<std::int32_t>(value));
        }
    }

    if (remove) {
        int id = shmget(static_cast<key_t>(key), 0, 0);
        if (id < 0 || shmctl(id, IPC_RMID, nullptr) != 0) {
            std::perror("hv_channel_writer: remove");
            return 1;
        }
        return 0;
    }
    if (words.size() != 4) return usage();

    int id = shmget(static_cast<key_t>(key), 1024, IPC_CREAT | 0666);
    if (id < 0) {
        std::perror("hv_channel_writer: shmget");
        return 1;
    }
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        std::perror("hv_channel_writer: shmat");
        return 1;
    }
    mode_t old = umask(0);
    sem_t* sem = sem_open(semName.c_str(), O_CREAT, 0666, 1);
    umask(old);
    if (sem == SEM_FAILED) {
        std::perror("hv_channel_writer: sem_open");
        shmdt(address);
        return 1;
    }
    int status = 0;
    if (sem_trywait(sem) == 0) {
        std::memcpy(address, words.data(), 4 * sizeof(std::int32_t));
        sem_post(sem);
    } else {
        std::fprintf(stderr, "hv_channel_writer: semaphore %s is taken; nothing written\n", semName.c_str());
        status = 1;
    }
    sem_close(sem);
    shmdt(address);
    return status;
}
