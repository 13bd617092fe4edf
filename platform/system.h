#pragma once

// System: the daemon's one door to the operating system. The Linux implementation lives in
// platform/linux/, the test double in platform/fake/. Nothing below main() calls the OS directly.
//
// Every call is made from the daemon's one thread. Calls that can fail report it in their result;
// none throws.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hv {

// A notice shown to the console user. Caution notices warn; stop notices announce an action.
enum class NoticeLevel { Stop = 0, Caution = 2 };

struct Notice {
    double timeout = 1.0;  // seconds until it closes by itself; 0 keeps it until dismissed
    NoticeLevel level = NoticeLevel::Stop;
    std::string header;
    std::string message;
};

// The owner and permission bits of a file as lstat() sees it (stat() where links are followed).
struct FileInfo {
    uid_t uid = 0;
    mode_t mode = 0;  // type and permission bits (st_mode)
    gid_t gid = 0;
    // Which file it is: a file replaced by a rename has another pair, whatever its content.
    dev_t device = 0;
    ino_t inode = 0;
};

// One process, as a scan of the process table saw it.
struct ProcessEntry {
    pid_t pid = 0;
    std::string comm;  // the kernel's command name (at most 15 characters on Linux)
    uid_t uid = 0;     // the effective uid
    // Clock ticks from boot to the process's start. With the pid it names one process for good:
    // pids are reused, start times of a pid are not.
    uint64_t startTime = 0;
    // The executable (/proc/PID/exe): its path as the kernel gives it, without a " (deleted)"
    // mark, and the file it is (device and inode, with owner and mode). Read only where the scan
    // was asked to; empty and nullopt otherwise, and where it cannot be read (a kernel thread, a
    // process gone meanwhile, no permission).
    std::string executable;
    std::optional<FileInfo> executableFile;
};

// One record of the kernel's interface-address list, in the kernel's order.
struct InterfaceEntry {
    std::string name;
    int family = 0;       // AF_INET for the records the list holds on Linux
    std::string address;  // dotted decimal IPv4 address
    bool up = false;      // IFF_UP is set; false when the flags cannot be read
};

// The session at the console (seat0's active session of class "user").
struct ConsoleSession {
    std::string id;
    uid_t uid = 0;
    pid_t leader = 0;
    std::string userName;
};

enum class PowerEvent { WillSleep, HasPoweredOn };

// A regular file that only root could have written: owned by root, writable by neither group nor
// others. Root acts on such files alone (the account's script, the settings).
inline bool writableOnlyByRoot(const FileInfo& info) {
    return S_ISREG(info.mode) && info.uid == 0 && (info.mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Who a written file is to belong to.
struct FileOwner {
    uid_t uid = 0;
    gid_t gid = 0;
};

struct ReadResult {
    std::optional<std::string> bytes;  // the content, when it could be read
    bool missing = false;              // no file at the path: distinct from a failed read
    std::string error;                 // why it could not be read
    // Owner and mode of the very file that was read (from the open descriptor, not the path), so
    // a caller can judge who wrote these bytes even if the path is swapped meanwhile.
    std::optional<FileInfo> info;
};

// What stood at the channel's key and name without having been created by root, and was removed
// before the daemon made its own: another account could otherwise hold the channel (a segment the
// daemon cannot write, a link where the semaphore goes) and feed the tray its own record.
struct ChannelSquat {
    std::optional<uid_t> segmentCreator;  // the creator of a removed segment
    std::optional<uid_t> semaphoreOwner;  // the owner of a removed entry at the semaphore's name
    bool empty() const { return !segmentCreator && !semaphoreOwner; }
};

// The remaining-time segment and its semaphore, held open by the writer.
class Channel {
public:
    virtual ~Channel() = default;
    // Take the semaphore if it is free; false when another process holds it (never waits).
    virtual bool tryLock() = 0;
    virtual void unlock() = 0;
    // Write the four 32-bit words at the start of the segment, in native byte order.
    virtual void write(const int32_t (&words)[4]) = 0;
    // Writes the minute of the day (0-1439) at which the network comes back, or -1 (the network
    // is not off, or not again today), as one more 32-bit word right after the record: readers
    // of the record alone never see it.
    virtual void writeNetworkBack(int32_t minute) = 0;
};

class System {
public:
    virtual ~System() = default;

    // Clock: wall-clock seconds since the Unix epoch (with fractions). Local time is derived from
    // it with the C library's time zone rules.
    virtual double now() = 0;
    // Blocks the daemon's thread; the fake advances its clock instead (firing no timers).
    virtual void sleepFor(double seconds) = 0;
    // Seconds of monotonic time (CLOCK_MONOTONIC), the clock of the timers: never set or stepped
    // with the wall clock, stopped during suspend. For deadlines.
    virtual double monotonicNow() = 0;

    // Run loop. Timers repeat every `interval` seconds of monotonic time, the first firing one
    // interval after creation; they do not run during suspend. The period counts from each
    // scheduled time; when a callback blocks past later firings, one late firing stands for the
    // missed ones and the schedule keeps its phase. Signal handlers run between callbacks, never
    // inside one. run() returns only when the loop has nothing left to wait for.
    virtual void addTimer(double interval, std::function<void()> action) = 0;
    virtual void onSignal(int signo, std::function<void()> action) = 0;
    virtual int run() = 0;

    // Console user: the name of the active seat0 session's user; nullopt when nobody (or a greeter)
    // is at the console.
    virtual std::optional<std::string> consoleUser() = 0;
    virtual std::optional<ConsoleSession> consoleSession() = 0;
    // logind on the system bus. terminateSession ends one session; terminateUser ends every
    // session of the account and its user manager (logind sends their processes SIGTERM);
    // killUser sends `signo` to every process logind counts as the account's. Each is false when
    // logind cannot be reached or refuses (an account or session it does not know).
    virtual bool terminateSession(const std::string& sessionId) = 0;
    virtual bool terminateUser(uid_t uid) = 0;
    virtual bool killUser(uid_t uid, int signo) = 0;

    // User database (getpwent walk): the uid of the first entry with this exact name, or -1.
    virtual int32_t uidByName(const std::string& name) = 0;
    // One pass over the process table: the processes whose effective uid is one of `uids`, in
    // /proc order; nullopt when the table cannot be read. Processes that vanish during the scan,
    // and zombies (which run nothing), are skipped. The executable of a process is read only when `wantsExecutable` says so of
    // the entry as it stands (pid, comm, uid and start time filled in).
    virtual std::optional<std::vector<ProcessEntry>> scanProcesses(
        const std::vector<uid_t>& uids, const std::function<bool(const ProcessEntry&)>& wantsExecutable) = 0;
    // The process with this pid now (pid, comm, uid, start time; no executable); nullopt when
    // there is none or it is a zombie.
    virtual std::optional<ProcessEntry> processInfo(pid_t pid) = 0;
    // Sends `signo` to the one process `pid` (kill(2)); false when there is no such process, it is
    // not allowed, or `pid` is not positive (never a process group, never every process).
    virtual bool sendSignal(pid_t pid, int signo) = 0;

    // Runs `/bin/sh -c command` as system() would (clean signal state, no inherited descriptors)
    // and waits for it. Returns the wait status, or -1 when it could not be started.
    virtual int runShell(const std::string& command) = 0;

    // Shows a notice to the console user without waiting for it. Failures are silent.
    virtual void showNotice(const Notice& notice) = 0;

    // The kernel's IPv4 interface list (SIOCGIFCONF); nullopt when the socket or list fails.
    virtual std::optional<std::vector<InterfaceEntry>> interfaces() = 0;

    // The daemon's own firewall table (nftables "inet horavel"): the accounts whose traffic is
    // rejected on every interface, present and future, loopback excepted. setNetworkBlocked adds
    // or removes one account and replaces the whole table in one transaction; clearFirewall
    // removes the table, whatever an earlier run left in it. Both are false when the firewall
    // cannot be changed (no nft, no permission); the table is then as it was.
    virtual bool setNetworkBlocked(uid_t uid, bool blocked) = 0;
    virtual bool clearFirewall() = 0;

    // Ends run() with `code` once the running callback returns.
    virtual void stop(int code) = 0;

    // Sleep and wake. registerPower returns false when power events cannot be had (no bus, no
    // logind). The handler runs on the loop; after WillSleep it must call allowPowerChange().
    virtual bool registerPower(std::function<void(PowerEvent)> handler) = 0;
    virtual void allowPowerChange() = 0;

    // Files. readFile never follows a link at the path, refuses anything but a regular file and
    // anything over maxBytes. writeFileAtomic writes a temporary file beside the target
    // (O_EXCL|O_NOFOLLOW), fsyncs, sets the mode and renames it over the target, so a link at the
    // target is replaced, never followed. With `owner`, the new file is given that owner before it
    // takes the target's place; without, it belongs to the writer. writeFileInPlace truncates and
    // writes (the pid file).
    virtual ReadResult readFile(const std::string& path, size_t maxBytes) = 0;
    virtual bool writeFileAtomic(const std::string& path, const std::string& bytes, mode_t mode,
                                 const std::optional<FileOwner>& owner) = 0;
    virtual bool writeFileInPlace(const std::string& path, const std::string& bytes) = 0;
    virtual bool appendToFile(const std::string& path, const std::string& bytes) = 0;
    virtual bool removeFile(const std::string& path) = 0;
    // Makes `to` a second name of the regular file at `from` (a hard link), replacing what `to`
    // named; a link at either path is never followed. False when `from` is not a regular file or
    // the link cannot be made (then `to` is untouched).
    virtual bool linkFile(const std::string& from, const std::string& to) = 0;
    // Creates the directory with `mode` unless it exists. True when a directory owned by root and
    // writable by nobody else stands at the path afterwards; a link there is never followed.
    virtual bool makeRootDirectory(const std::string& path, mode_t mode) = 0;
    virtual bool fileExists(const std::string& path) = 0;
    // The names in the directory at `path` ("." and ".." left out), in no particular order;
    // nullopt when it cannot be opened as a directory (a link at the path is not followed).
    virtual std::optional<std::vector<std::string>> listDirectory(const std::string& path) = 0;
    virtual std::optional<FileInfo> fileInfo(const std::string& path) = 0;
    // The file that `path` names once every link is followed (stat); nullopt when there is none.
    virtual std::optional<FileInfo> resolvedFileInfo(const std::string& path) = 0;

    // Walks every entry below `root` (hidden ones included, links not followed and reported with
    // their own size, each entry once) and calls `entry` with its size in bytes; a directory is
    // reported with size 0, as it holds no file data to count. False when the root cannot be
    // opened.
    virtual bool walkTree(const std::string& root, const std::function<void(uint64_t)>& entry) = 0;

    // Creates (or reuses, when root created them) the remaining-time segment and semaphore,
    // removing first whatever another account put at the key or the name (`removed` says what);
    // `channel` is nullptr when either cannot be created or attached, in which case the channel is
    // left alone.
    struct OpenedChannel {
        std::unique_ptr<Channel> channel;
        ChannelSquat removed;
    };
    virtual OpenedChannel openChannel(key_t key, size_t size, const std::string& semaphoreName) = 0;
};

}  // namespace hv
