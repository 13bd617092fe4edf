#pragma once

// The display's side of the remaining-time channel: a System V shared-memory segment that the
// daemon creates and writes, guarded by a named POSIX semaphore. The display only reads.

#include <semaphore.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace hv::menu {

// The 16-byte record at the start of the segment and the word after it, host byte order, in this
// field order.
//
// "No time left" (an allowance or a time range used up) is rmin 0, rsec 0 with kNoTimeLeft set
// in `warn`; rmin 0 without it is a day without a limit (with rsec 1 to 59: the last minute of
// one). Readers that predate the marker see it as "warned" beside the zeros, and never as a
// negative count. The daemon writes no time below 0, and the display clamps what an older
// daemon wrote below 0 (other than the sentinels) to 0.
struct RemainingTimeRecord {
    static constexpr std::int32_t kWarned = 1;
    static constexpr std::int32_t kNoTimeLeft = 2;

    std::int32_t rmin = 0;  // minutes left today; 0 no limit (see above); -1 hide the display
    std::int32_t nmin = 0;  // network minutes left; -1 no network limit; -2 network off
    std::int32_t warn = 0;  // kWarned once the user has been warned, plus kNoTimeLeft
    std::int32_t rsec = 0;  // seconds beside rmin, 0 to 59
    // The word after the record: while the network is off, the minute of the day it comes back;
    // -1 when not today.
    std::int32_t netback = -1;
};

struct ChannelNames {
    key_t shmKey = 1500;
    std::string semaphoreName = "1500";
};

struct ChannelRead {
    enum class Status {
        kNoSegment,  // the daemon's segment does not exist (or is unusable); nothing was read
        kBusy,       // a writer holds the semaphore right now; nothing was read, try next poll
        kRead,       // record holds the current values
    };
    Status status = Status::kNoSegment;
    RemainingTimeRecord record;
};

// Owns the attachment and the semaphore handle. Never creates the segment: the daemon does.
// Every call to read() checks that the attachment still belongs to the segment that now carries
// the key, so a daemon restart that made a new segment is followed, and a missing segment is
// attached as soon as it appears. On destruction: detach, remove the segment when no
// attachment is left, close the semaphore (which is never unlinked).
class ChannelReader {
public:
    // The poll that finds the semaphore taken for this many polls in a row reads without it: the
    // daemon holds it for four stores only, so a lock seen taken this long was left taken by a
    // process that died holding it, and waiting longer would freeze the display for good.
    static constexpr int kBusyPollsBeforeUnlockedRead = 3;

    explicit ChannelReader(ChannelNames names = {});
    ~ChannelReader();
    ChannelReader(const ChannelReader&) = delete;
    ChannelReader& operator=(const ChannelReader&) = delete;

    // Attaches if needed and reads the four words under the semaphore, taken without waiting.
    ChannelRead read();

    bool attached() const { return sharedMem != nullptr; }

private:
    void attach(int id);
    void detach();
    void openSemaphore();

    ChannelNames names;
    const volatile std::int32_t* sharedMem = nullptr;
    int sharedMemID = -1;
    sem_t* semaphoreID = SEM_FAILED;
    int busyPolls = 0;
};

}  // namespace hv::menu
