#pragma once

// FakeSystem: the System the daemon's unit tests run against. A whole day passes in
// milliseconds: the clock only moves when a test says so, and advance() fires the timers that fall
// due on the way. Everything the daemon does to the OS is recorded in public fields that tests
// assert on; switches inject the failures the real OS can produce.

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/system.h"

namespace hv {

// A file held in memory. `mode` carries type and permission bits as st_mode does, so a test can
// plant a FIFO (S_IFIFO), a directory (S_IFDIR) or a link (S_IFLNK) where a policy file should be.
struct FakeFile {
    std::string bytes;
    mode_t mode = S_IFREG | 0644;
    uid_t uid = 0;
    gid_t gid = 0;
    ino_t inode = 0;  // writeFileAtomic gives each new file a fresh one, as rename() does
};

// A process in the fake process table. SIGTERM ends it unless it ignores that signal; SIGKILL
// always does.
struct FakeProcess {
    ProcessEntry entry;  // as a scan reports it when asked for the executable
    bool ignoresTerm = false;
};

// The shared state behind the fake remaining-time channel. It outlives the Channel object, so a
// test can look at what was written after the daemon released the channel.
struct FakeChannelState {
    bool open = false;         // a Channel object currently exists
    bool heldElsewhere = false;  // another process holds the semaphore: tryLock fails
    bool locked = false;       // the daemon holds the semaphore now
    int lockAttempts = 0;
    int unlocks = 0;
    int unlockedWrites = 0;    // writes made without holding the semaphore (a fault)
    std::array<int32_t, 4> words{};                 // the record as a reader sees it now
    std::vector<std::array<int32_t, 4>> writes;     // every write, in order
    int32_t networkBack = 0;                        // the word after the record
    key_t key = 0;
    size_t size = 0;
    std::string semaphoreName;
};

class FakeSystem : public System {
public:
    FakeSystem();

    // --- Clock and timers ---------------------------------------------------------------------
    // Sets the wall clock (seconds since the Unix epoch). Monotonic time, and so the timers, are
    // not moved: this is the administrator changing the clock.
    void setTime(double unixSeconds);
    // Moves wall and monotonic time forward by `seconds`, firing every timer that falls due, in
    // order of due time (ties in creation order), with the clock standing at each due time while
    // its action runs. A repeating timer is re-armed from its scheduled time; firings missed while
    // an action blocked (sleepFor) are skipped, not made up in a burst.
    void advance(double seconds);
    // Advances to the next due timer and fires it (and any due at the same moment); false when no
    // timer exists.
    bool fireNextTimer();
    size_t timerCount() const { return timers_.size(); }
    // The process that ran the loop has ended: its timers, signal handlers and power handler are
    // gone, and a new one may set up its own on the same system (a daemon restarted).
    void endProcess();
    double monotonic() const { return monotonic_; }

    double wallTime = 0;               // what now() returns (monotonicNow() returns monotonic())
    std::vector<double> sleeps;        // every sleepFor, in seconds
    int runCalls = 0;
    std::optional<int> stopped;        // the code of the last stop() call
    int runResult = 0;                 // what run() returns (it returns at once)

    // --- Signals ------------------------------------------------------------------------------
    // Delivers a signal: its handler runs now, or, when raised from inside a timer action, right
    // after that action returns (handlers never run inside a callback). False when no handler is
    // installed for it.
    bool raise(int signo);
    bool hasSignalHandler(int signo) const { return signalHandlers_.count(signo) != 0; }

    // --- Console user and user database -------------------------------------------------------
    // Puts `name` at the console in a new session. Its uid comes from `users` (added with a fresh
    // uid when missing); the session's leader is a fresh pid, listed among the user's processes
    // as "loginwindow" unless `leaderComm` is empty.
    ConsoleSession login(const std::string& name, const std::string& leaderComm = "loginwindow");
    void logout() { session.reset(); }

    std::optional<ConsoleSession> session;     // nullopt: nobody (or a greeter) at the console
    std::map<std::string, int32_t> users;      // getpwent's view: name -> uid
    int consoleLookups = 0;                    // consoleUser and consoleSession calls
    int uidLookups = 0;

    // --- Processes, logout, shell -------------------------------------------------------------
    std::vector<FakeProcess> processes;         // the process table, in /proc order
    bool processTableFails = false;             // every scan fails
    int scans = 0;                              // scanProcesses calls
    int executableReads = 0;                    // executables a scan was asked to read
    // Adds a process with a fresh pid and start time and returns its pid. Its executable is
    // `executable` (and `file`), or by default /usr/bin/<comm> with no file identity.
    pid_t addProcess(uid_t uid, const std::string& comm, const std::string& executable = "",
                     const std::optional<FileInfo>& file = std::nullopt);
    FakeProcess* process(pid_t pid);            // nullptr when it is not running
    bool running(pid_t pid) { return process(pid) != nullptr; }
    std::vector<std::pair<pid_t, int>> signalsSent;  // every sendSignal, in order

    bool logindReachable = true;                // false: the logind calls fail
    std::vector<std::string> terminatedSessions;  // every call, reachable or not
    std::vector<uid_t> terminatedUsers;           // every call, reachable or not
    std::vector<std::pair<uid_t, int>> killedUsers;  // every call, reachable or not

    std::vector<std::string> commands;          // every runShell command line
    int shellStatus = 0;                        // wait status runShell returns by default
    // When set, runShell returns what this returns (a test may, say, remove a killed process).
    std::function<int(const std::string&)> onShell;

    std::vector<Notice> notices;

    // --- Network interfaces and power (monitors) ---------------------------------------------
    std::optional<std::vector<InterfaceEntry>> interfaceList = std::vector<InterfaceEntry>{};
    // The firewall: the accounts it blocks now, and every change asked for, in order
    // ("block <uid>", "unblock <uid>", "clear"), failed ones included.
    std::set<uid_t> blockedUids;
    std::vector<std::string> firewallChanges;
    bool firewallFails = false;                 // every firewall call fails, changing nothing
    bool powerAvailable = true;                 // false: registerPower fails
    std::function<void(PowerEvent)> powerHandler;
    int powerAllowed = 0;                       // allowPowerChange calls
    // Delivers a power event to the registered handler; false when none is registered.
    bool firePower(PowerEvent event);

    // --- Files --------------------------------------------------------------------------------
    std::map<std::string, FakeFile> files;
    bool readsFail = false;                     // every read of an existing file fails
    bool writesFail = false;                    // every write, append and removal fails
    std::set<std::string> unreadable;           // per-path read failures
    std::set<std::string> unwritable;           // per-path write, append and removal failures
    uid_t writerUid = 0;                        // owner given to files the fake writes
    std::map<std::string, std::vector<std::string>> appends;  // every append call, per path
    std::vector<std::string> atomicWrites;      // paths, in order
    std::vector<std::string> inPlaceWrites;     // paths, in order

    // The file's bytes, or "" when it does not exist.
    std::string contents(const std::string& path) const;
    // Lines appended to `path`, each without its newline.
    std::vector<std::string> appendedLines(const std::string& path) const;

    std::map<std::string, std::vector<uint64_t>> treeSizes;  // walkTree root -> entry sizes
    std::vector<std::string> walkedRoots;

    // --- Remaining-time channel ---------------------------------------------------------------
    bool openChannelFails = false;
    int channelOpens = 0;
    ChannelSquat channelSquat;  // what the next open reports as removed from the key and name
    std::shared_ptr<FakeChannelState> channel = std::make_shared<FakeChannelState>();

    // One ordered journal of the visible actions, for tests of ordering: "sleep 15",
    // "shell kill 42", "notice <header>|<message>", "terminate <id>", "terminate user <uid>",
    // "kill user <uid> <signo>", "kill <pid> <signo>", "append <path>|<bytes>", "write <path>",
    // "signal <n>", "power allowed".
    std::vector<std::string> events;

    // --- System -------------------------------------------------------------------------------
    double now() override { return wallTime; }
    void sleepFor(double seconds) override;
    double monotonicNow() override { return monotonic_; }
    void addTimer(double interval, std::function<void()> action) override;
    void onSignal(int signo, std::function<void()> action) override;
    int run() override;
    std::optional<std::string> consoleUser() override;
    std::optional<ConsoleSession> consoleSession() override {
        ++consoleLookups;
        return session;
    }
    bool terminateSession(const std::string& sessionId) override;
    bool terminateUser(uid_t uid) override;
    bool killUser(uid_t uid, int signo) override;
    int32_t uidByName(const std::string& name) override;
    std::optional<std::vector<ProcessEntry>> scanProcesses(
        const std::vector<uid_t>& uids, const std::function<bool(const ProcessEntry&)>& wantsExecutable) override;
    std::optional<ProcessEntry> processInfo(pid_t pid) override;
    bool sendSignal(pid_t pid, int signo) override;
    int runShell(const std::string& command) override;
    void showNotice(const Notice& notice) override;
    std::optional<std::vector<InterfaceEntry>> interfaces() override { return interfaceList; }
    bool setNetworkBlocked(uid_t uid, bool blocked) override;
    bool clearFirewall() override;
    void stop(int code) override { stopped = code; }
    bool registerPower(std::function<void(PowerEvent)> handler) override;
    void allowPowerChange() override;
    ReadResult readFile(const std::string& path, size_t maxBytes) override;
    bool writeFileAtomic(const std::string& path, const std::string& bytes, mode_t mode,
                         const std::optional<FileOwner>& owner) override;
    bool writeFileInPlace(const std::string& path, const std::string& bytes) override;
    bool appendToFile(const std::string& path, const std::string& bytes) override;
    bool removeFile(const std::string& path) override;
    bool linkFile(const std::string& from, const std::string& to) override;
    bool makeRootDirectory(const std::string& path, mode_t mode) override;
    bool fileExists(const std::string& path) override { return files.count(path) != 0; }
    // The planted files directly below `path`; nullopt when none is (no empty directories here).
    std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;
    std::optional<FileInfo> fileInfo(const std::string& path) override;
    // Follows links (files of type S_IFLNK whose bytes are the target path).
    std::optional<FileInfo> resolvedFileInfo(const std::string& path) override;
    bool walkTree(const std::string& root, const std::function<void(uint64_t)>& entry) override;
    OpenedChannel openChannel(key_t key, size_t size, const std::string& semaphoreName) override;

private:
    struct Timer {
        double interval;
        double due;  // monotonic
        std::function<void()> action;
    };

    void fireTimer(size_t index);
    // What a signal does to a process: SIGKILL ends it, SIGTERM unless ignored, others nothing.
    void deliver(pid_t pid, int signo);
    void deliverPendingSignals();
    bool writable(const std::string& path) const;
    // The regular file at path for an in-place write, created empty (0644, writerUid) when
    // missing; nullptr when path fails writes or names something else.
    FakeFile* regularFileToWrite(const std::string& path);

    double monotonic_ = 0;
    std::vector<Timer> timers_;  // creation order
    std::map<int, std::function<void()>> signalHandlers_;
    std::vector<int> pendingSignals_;
    bool inCallback_ = false;
    pid_t nextPid_ = 1000;
    uint64_t nextStartTime_ = 100;
    ino_t nextInode_ = 1;
    int32_t nextUid_ = 501;
    int nextSession_ = 1;
};

}  // namespace hv
