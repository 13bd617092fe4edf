#include "platform/linux/linux_system.h"

#include <signal.h>

#include "platform/linux/clock.h"
#include "platform/linux/console.h"
#include "platform/linux/event_loop.h"
#include "platform/linux/files.h"
#include "platform/linux/firewall.h"
#include "platform/linux/interfaces.h"
#include "platform/linux/logind.h"
#include "platform/linux/notices.h"
#include "platform/linux/power.h"
#include "platform/linux/processes.h"
#include "platform/linux/shell.h"
#include "platform/linux/shm_channel.h"
#include "platform/linux/tree_walk.h"
#include "platform/linux/users.h"

namespace hv {

LinuxSystem::LinuxSystem(Config config) : config_(std::move(config)) {}

LinuxSystem::~LinuxSystem() = default;

EventLoop* LinuxSystem::loop() {
    if (!loop_ && !loopFailed_) {
        loop_ = EventLoop::create();
        loopFailed_ = !loop_;
    }
    return loop_.get();
}

double LinuxSystem::now() { return wallClockNow(); }

void LinuxSystem::sleepFor(double seconds) {
    sleepSeconds(seconds);
    // The loop did not run while this slept: what changed at the console meanwhile is taken now,
    // for the lookup that follows a sleep (the logout's, after its notice).
    if (console_) console_->watch().takeEvents();
}

double LinuxSystem::monotonicNow() { return monotonicClockNow(); }

void LinuxSystem::addTimer(double interval, std::function<void()> action) {
    if (EventLoop* l = loop()) l->addTimer(interval, std::move(action));
}

void LinuxSystem::onSignal(int signo, std::function<void()> action) {
    if (EventLoop* l = loop()) l->onSignal(signo, std::move(action));
}

void LinuxSystem::stop(int code) {
    if (EventLoop* l = loop()) l->exit(code);
}

int LinuxSystem::run() {
    EventLoop* l = loop();
    return l ? l->run() : -1;
}

std::optional<std::string> LinuxSystem::consoleUser() {
    std::optional<ConsoleSession> session = consoleSession();
    if (!session) return std::nullopt;
    return std::move(session->userName);
}

std::optional<ConsoleSession> LinuxSystem::consoleSession() {
    if (!console_) {
        console_ = std::make_unique<ConsoleLookup>();
        // The loop takes the watch's events as they come, so that a tick with nothing changed
        // makes no call to ask: after five seconds asleep, even a call that finds nothing is
        // costly. Without a loop (a program that does not run one), the watch reads its events itself.
        ConsoleWatch& watch = console_->watch();
        if (loop_ && !loop_->onReadable(watch.follow(), [&watch] { watch.takeEvents(); })) {
            console_ = std::make_unique<ConsoleLookup>();
        }
    }
    return console_->current();
}

bool LinuxSystem::terminateSession(const std::string& sessionId) {
    return terminateLogindSession(config_.systemBusAddress, sessionId);
}

bool LinuxSystem::terminateUser(uid_t uid) {
    return terminateLogindUser(config_.systemBusAddress, uid);
}

bool LinuxSystem::killUser(uid_t uid, int signo) {
    return killLogindUser(config_.systemBusAddress, uid, signo);
}

int32_t LinuxSystem::uidByName(const std::string& name) { return uids_.uidByName(name); }

std::optional<std::vector<ProcessEntry>> LinuxSystem::scanProcesses(
    const std::vector<uid_t>& uids, const std::function<bool(const ProcessEntry&)>& wantsExecutable) {
    return scanProcessTable(uids, wantsExecutable, "/proc", &processOwners_);
}

std::optional<ProcessEntry> LinuxSystem::processInfo(pid_t pid) { return readProcess(pid); }

bool LinuxSystem::sendSignal(pid_t pid, int signo) { return pid > 0 && kill(pid, signo) == 0; }

bool LinuxSystem::setNetworkBlocked(uid_t uid, bool blocked) {
    std::set<uid_t> next = blocked_;
    if (blocked) {
        next.insert(uid);
    } else {
        next.erase(uid);
    }
    if (!applyFirewall(next)) return false;
    blocked_ = std::move(next);
    return true;
}

bool LinuxSystem::clearFirewall() {
    if (!applyFirewall({})) return false;
    blocked_.clear();
    return true;
}

int LinuxSystem::runShell(const std::string& command) { return runShellCommand(command); }

void LinuxSystem::showNotice(const Notice& notice) {
    if (const std::optional<ConsoleSession> session = consoleSession()) {
        showNoticeAs(session->uid, config_.runtimeRoot, notice);
    }
}

std::optional<std::vector<InterfaceEntry>> LinuxSystem::interfaces() { return listInterfaces(); }

bool LinuxSystem::registerPower(std::function<void(PowerEvent)> handler) {
    EventLoop* l = loop();
    if (!l) return false;
    power_ = LogindPower::connect(l->event(), config_.systemBusAddress, std::move(handler));
    return power_ != nullptr;
}

void LinuxSystem::allowPowerChange() {
    if (power_) power_->allowPowerChange();
}

ReadResult LinuxSystem::readFile(const std::string& path, size_t maxBytes) {
    return readRegularFile(path, maxBytes);
}

bool LinuxSystem::writeFileAtomic(const std::string& path, const std::string& bytes, mode_t mode,
                                  const std::optional<FileOwner>& owner) {
    return writeFileAtomically(path, bytes, mode, owner);
}

bool LinuxSystem::writeFileInPlace(const std::string& path, const std::string& bytes) {
    return writeFileTruncating(path, bytes);
}

bool LinuxSystem::appendToFile(const std::string& path, const std::string& bytes) {
    return appendBytes(path, bytes);
}

bool LinuxSystem::removeFile(const std::string& path) { return removePath(path); }

bool LinuxSystem::linkFile(const std::string& from, const std::string& to) {
    return linkReplacing(from, to);
}

bool LinuxSystem::makeRootDirectory(const std::string& path, mode_t mode) {
    return hv::makeRootDirectory(path, mode);
}

bool LinuxSystem::fileExists(const std::string& path) { return pathExists(path); }

std::optional<std::vector<std::string>> LinuxSystem::listDirectory(const std::string& path) {
    return directoryNames(path);
}

std::optional<FileInfo> LinuxSystem::fileInfo(const std::string& path) { return pathInfo(path); }

std::optional<FileInfo> LinuxSystem::resolvedFileInfo(const std::string& path) {
    return resolvedPathInfo(path);
}

bool LinuxSystem::walkTree(const std::string& root, const std::function<void(uint64_t)>& entry) {
    return walkTreeSizes(root, entry);
}

System::OpenedChannel LinuxSystem::openChannel(key_t key, size_t size, const std::string& semaphoreName) {
    return openShmChannel(key, size, semaphoreName);
}

}  // namespace hv
