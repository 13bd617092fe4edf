#pragma once

// LinuxSystem: the real System, composed of one small module per service. Built once by main()
// after the daemon has detached; the event loop is created on first use, in that process.

#include <memory>
#include <set>

#include "platform/config.h"
#include "platform/linux/processes.h"
#include "platform/linux/users.h"
#include "platform/system.h"

namespace hv {

class ConsoleLookup;
class EventLoop;
class LogindPower;

class LinuxSystem : public System {
public:
    explicit LinuxSystem(Config config = {});
    ~LinuxSystem() override;

    double now() override;
    void sleepFor(double seconds) override;
    double monotonicNow() override;
    void addTimer(double interval, std::function<void()> action) override;
    void onSignal(int signo, std::function<void()> action) override;
    int run() override;
    std::optional<std::string> consoleUser() override;
    std::optional<ConsoleSession> consoleSession() override;
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
    std::optional<std::vector<InterfaceEntry>> interfaces() override;
    bool setNetworkBlocked(uid_t uid, bool blocked) override;
    bool clearFirewall() override;
    void stop(int code) override;
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
    bool fileExists(const std::string& path) override;
    std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;
    std::optional<FileInfo> fileInfo(const std::string& path) override;
    std::optional<FileInfo> resolvedFileInfo(const std::string& path) override;
    bool walkTree(const std::string& root, const std::function<void(uint64_t)>& entry) override;
    OpenedChannel openChannel(key_t key, size_t size, const std::string& semaphoreName) override;

private:
    // The loop, created on first use; nullptr when sd-event cannot be set up.
    EventLoop* loop();

    Config config_;
    // Who is at the console, created on first use (after the daemon has detached).
    std::unique_ptr<ConsoleLookup> console_;
    UidCache uids_;
    // What the last scans of the process table learned of the processes' owners.
    ProcessOwners processOwners_;
    std::unique_ptr<EventLoop> loop_;
    bool loopFailed_ = false;
    // The accounts the firewall table blocks, as last loaded.
    std::set<uid_t> blocked_;
    std::unique_ptr<LogindPower> power_;  // attached to loop_, so declared after it: freed first
};

}  // namespace hv
