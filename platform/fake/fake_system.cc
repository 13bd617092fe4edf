#include "platform/fake/fake_system.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>

#include "platform/timer_schedule.h"

namespace hv {

namespace {

// A timer with no positive interval would fire forever at one instant; treat it as 1 ms.
constexpr double kMinimumInterval = 0.001;

class FakeChannel : public Channel {
public:
    explicit FakeChannel(std::shared_ptr<FakeChannelState> state) : state_(std::move(state)) {
        state_->open = true;
    }
    // As with a real semaphore, closing the handle while holding it does not release it.
    ~FakeChannel() override { state_->open = false; }

    bool tryLock() override {
        ++state_->lockAttempts;
        if (state_->heldElsewhere || state_->locked) return false;
        state_->locked = true;
        return true;
    }
    void unlock() override {
        ++state_->unlocks;
        state_->locked = false;
    }
    void write(const int32_t (&words)[4]) override {
        if (!state_->locked) ++state_->unlockedWrites;
        std::copy(std::begin(words), std::end(words), state_->words.begin());
        state_->writes.push_back(state_->words);
    }
    void writeNetworkBack(int32_t minute) override { state_->networkBack = minute; }

private:
    std::shared_ptr<FakeChannelState> state_;
};

}  // namespace

FakeSystem::FakeSystem() { users["root"] = 0; }

void FakeSystem::setTime(double unixSeconds) { wallTime = unixSeconds; }

void FakeSystem::advance(double seconds) {
    const double target = monotonic_ + std::max(0.0, seconds);
    for (;;) {
        size_t next = timers_.size();
        for (size_t i = 0; i < timers_.size(); ++i) {
            if (timers_[i].due <= target && (next == timers_.size() || timers_[i].due < timers_[next].due)) {
                next = i;
            }
        }
        if (next == timers_.size()) break;
        if (timers_[next].due > monotonic_) {
            wallTime += timers_[next].due - monotonic_;
            monotonic_ = timers_[next].due;
        }
        fireTimer(next);
    }
    if (target > monotonic_) {
        wallTime += target - monotonic_;
        monotonic_ = target;
    }
}

bool FakeSystem::fireNextTimer() {
    if (timers_.empty()) return false;
    double due = timers_.front().due;
    for (const Timer& t : timers_) due = std::min(due, t.due);
    advance(due - monotonic_);
    return true;
}

void FakeSystem::fireTimer(size_t index) {
    const double scheduled = timers_[index].due;
    const double firedAt = monotonic_;
    // Copied: the action may add timers, which can move the vector's elements.
    std::function<void()> action = timers_[index].action;
    inCallback_ = true;
    action();
    inCallback_ = false;

    Timer& timer = timers_[index];
    timer.due = nextDueTime(scheduled, timer.interval, firedAt);
    deliverPendingSignals();
}

void FakeSystem::sleepFor(double seconds) {
    sleeps.push_back(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "sleep %g", seconds);
    events.push_back(text);
    if (seconds > 0) {
        monotonic_ += seconds;
        wallTime += seconds;
    }
}

void FakeSystem::addTimer(double interval, std::function<void()> action) {
    interval = std::max(interval, kMinimumInterval);
    timers_.push_back(Timer{interval, monotonic_ + interval, std::move(action)});
}

void FakeSystem::onSignal(int signo, std::function<void()> action) {
    signalHandlers_[signo] = std::move(action);
}

bool FakeSystem::raise(int signo) {
    events.push_back("signal " + std::to_string(signo));
    if (!hasSignalHandler(signo)) return false;
    pendingSignals_.push_back(signo);
    if (!inCallback_) deliverPendingSignals();
    return true;
}

void FakeSystem::deliverPendingSignals() {
    while (!pendingSignals_.empty()) {
        const int signo = pendingSignals_.front();
        pendingSignals_.erase(pendingSignals_.begin());
        std::function<void()> action = signalHandlers_[signo];
        inCallback_ = true;
        action();
        inCallback_ = false;
    }
}

int FakeSystem::run() {
    ++runCalls;
    return runResult;
}

ConsoleSession FakeSystem::login(const std::string& name, const std::string& leaderComm) {
    auto found = users.find(name);
    if (found == users.end()) found = users.emplace(name, nextUid_++).first;
    const uid_t uid = static_cast<uid_t>(found->second);
    const pid_t leader = leaderComm.empty() ? nextPid_++ : addProcess(uid, leaderComm);
    session = ConsoleSession{std::to_string(nextSession_++), uid, leader, name};
    return *session;
}

std::optional<std::string> FakeSystem::consoleUser() {
    ++consoleLookups;
    if (!session) return std::nullopt;
    return session->userName;
}

bool FakeSystem::terminateSession(const std::string& sessionId) {
    terminatedSessions.push_back(sessionId);
    events.push_back("terminate " + sessionId);
    if (!logindReachable) return false;
    // logind refuses an id it does not know; a known one ends and leaves the console empty.
    if (!session || session->id != sessionId) return false;
    session.reset();
    return true;
}

bool FakeSystem::terminateUser(uid_t uid) {
    terminatedUsers.push_back(uid);
    events.push_back("terminate user " + std::to_string(uid));
    if (!logindReachable) return false;
    // logind stops the account's sessions and user manager: their processes get SIGTERM.
    std::vector<pid_t> theirs;
    for (const FakeProcess& p : processes) {
        if (p.entry.uid == uid) theirs.push_back(p.entry.pid);
    }
    for (pid_t pid : theirs) deliver(pid, SIGTERM);
    if (session && session->uid == uid) session.reset();
    return true;
}

bool FakeSystem::killUser(uid_t uid, int signo) {
    killedUsers.emplace_back(uid, signo);
    events.push_back("kill user " + std::to_string(uid) + " " + std::to_string(signo));
    if (!logindReachable) return false;
    std::vector<pid_t> theirs;
    for (const FakeProcess& p : processes) {
        if (p.entry.uid == uid) theirs.push_back(p.entry.pid);
    }
    for (pid_t pid : theirs) deliver(pid, signo);
    return true;
}

int32_t FakeSystem::uidByName(const std::string& name) {
    ++uidLookups;
    const auto found = users.find(name);
    return found == users.end() ? -1 : found->second;
}

pid_t FakeSystem::addProcess(uid_t uid, const std::string& comm, const std::string& executable,
                             const std::optional<FileInfo>& file) {
    const pid_t pid = nextPid_++;
    ProcessEntry entry{pid, comm, uid, nextStartTime_++, executable.empty() ? "/usr/bin/" + comm : executable,
                       file};
    processes.push_back(FakeProcess{std::move(entry)});
    return pid;
}

FakeProcess* FakeSystem::process(pid_t pid) {
    for (FakeProcess& p : processes) {
        if (p.entry.pid == pid) return &p;
    }
    return nullptr;
}

std::optional<std::vector<ProcessEntry>> FakeSystem::scanProcesses(
    const std::vector<uid_t>& uids, const std::function<bool(const ProcessEntry&)>& wantsExecutable) {
    ++scans;
    if (processTableFails) return std::nullopt;
    std::vector<ProcessEntry> found;
    for (const FakeProcess& p : processes) {
        if (std::find(uids.begin(), uids.end(), p.entry.uid) == uids.end()) continue;
        ProcessEntry entry = p.entry;
        entry.executable.clear();
        entry.executableFile.reset();
        if (wantsExecutable(entry)) {
            ++executableReads;
            entry.executable = p.entry.executable;
            entry.executableFile = p.entry.executableFile;
        }
        found.push_back(std::move(entry));
    }
    return found;
}

std::optional<ProcessEntry> FakeSystem::processInfo(pid_t pid) {
    const FakeProcess* p = process(pid);
    if (p == nullptr) return std::nullopt;
    ProcessEntry entry = p->entry;
    entry.executable.clear();
    entry.executableFile.reset();
    return entry;
}

bool FakeSystem::sendSignal(pid_t pid, int signo) {
    signalsSent.emplace_back(pid, signo);
    events.push_back("kill " + std::to_string(pid) + " " + std::to_string(signo));
    if (pid <= 0 || process(pid) == nullptr) return false;
    deliver(pid, signo);
    return true;
}

void FakeSystem::deliver(pid_t pid, int signo) {
    const auto found = std::find_if(processes.begin(), processes.end(),
                                    [pid](const FakeProcess& p) { return p.entry.pid == pid; });
    if (found == processes.end()) return;
    if (signo == SIGKILL || (signo == SIGTERM && !found->ignoresTerm)) processes.erase(found);
}

int FakeSystem::runShell(const std::string& command) {
    commands.push_back(command);
    events.push_back("shell " + command);
    return onShell ? onShell(command) : shellStatus;
}

bool FakeSystem::setNetworkBlocked(uid_t uid, bool blocked) {
    firewallChanges.push_back((blocked ? "block " : "unblock ") + std::to_string(uid));
    if (firewallFails) return false;
    if (blocked) {
        blockedUids.insert(uid);
    } else {
        blockedUids.erase(uid);
    }
    return true;
}

bool FakeSystem::clearFirewall() {
    firewallChanges.push_back("clear");
    if (firewallFails) return false;
    blockedUids.clear();
    return true;
}

void FakeSystem::showNotice(const Notice& notice) {
    notices.push_back(notice);
    events.push_back("notice " + notice.header + "|" + notice.message);
}

void FakeSystem::endProcess() {
    timers_.clear();
    signalHandlers_.clear();
    pendingSignals_.clear();
    powerHandler = nullptr;
}

bool FakeSystem::registerPower(std::function<void(PowerEvent)> handler) {
    if (!powerAvailable) return false;
    powerHandler = std::move(handler);
    return true;
}

void FakeSystem::allowPowerChange() {
    ++powerAllowed;
    events.push_back("power allowed");
}

bool FakeSystem::firePower(PowerEvent event) {
    if (!powerHandler) return false;
    std::function<void(PowerEvent)> handler = powerHandler;
    inCallback_ = true;
    handler(event);
    inCallback_ = false;
    deliverPendingSignals();
    return true;
}

bool FakeSystem::writable(const std::string& path) const {
    return !writesFail && unwritable.count(path) == 0;
}

ReadResult FakeSystem::readFile(const std::string& path, size_t maxBytes) {
    ReadResult result;
    const auto found = files.find(path);
    if (found == files.end()) {
        result.missing = true;
        result.error = "No such file or directory";
        return result;
    }
    const FakeFile& file = found->second;
    if (S_ISLNK(file.mode)) {
        result.error = "is a symbolic link";
    } else if (!S_ISREG(file.mode)) {
        result.error = "not a regular file";
    } else if (readsFail || unreadable.count(path) != 0) {
        result.error = "Input/output error";
    } else if (file.bytes.size() > maxBytes) {
        result.error = "larger than " + std::to_string(maxBytes) + " bytes";
    } else {
        result.bytes = file.bytes;
        result.info = FileInfo{file.uid, file.mode, file.gid, 0, file.inode};
    }
    return result;
}

bool FakeSystem::writeFileAtomic(const std::string& path, const std::string& bytes, mode_t mode,
                                 const std::optional<FileOwner>& owner) {
    if (!writable(path)) return false;
    const auto found = files.find(path);
    // rename() cannot replace a directory with a file.
    if (found != files.end() && S_ISDIR(found->second.mode)) return false;
    files[path] = FakeFile{bytes, static_cast<mode_t>(S_IFREG | (mode & 07777)),
                           owner ? owner->uid : writerUid, owner ? owner->gid : gid_t{0}, nextInode_++};
    atomicWrites.push_back(path);
    events.push_back("write " + path);
    return true;
}

FakeFile* FakeSystem::regularFileToWrite(const std::string& path) {
    if (!writable(path)) return nullptr;
    const auto found = files.find(path);
    if (found == files.end()) return &(files[path] = FakeFile{"", S_IFREG | 0644, writerUid});
    return S_ISREG(found->second.mode) ? &found->second : nullptr;
}

bool FakeSystem::writeFileInPlace(const std::string& path, const std::string& bytes) {
    FakeFile* file = regularFileToWrite(path);
    if (file == nullptr) return false;
    file->bytes = bytes;
    inPlaceWrites.push_back(path);
    events.push_back("write " + path);
    return true;
}

bool FakeSystem::appendToFile(const std::string& path, const std::string& bytes) {
    FakeFile* file = regularFileToWrite(path);
    if (file == nullptr) return false;
    file->bytes += bytes;
    appends[path].push_back(bytes);
    events.push_back("append " + path + "|" + bytes);
    return true;
}

bool FakeSystem::removeFile(const std::string& path) {
    if (!writable(path)) return false;
    return files.erase(path) != 0;
}

bool FakeSystem::linkFile(const std::string& from, const std::string& to) {
    const auto found = files.find(from);
    if (found == files.end() || !S_ISREG(found->second.mode) || !writable(to)) return false;
    files[to] = found->second;  // the same inode: one file under two names
    events.push_back("link " + from + " " + to);
    return true;
}

bool FakeSystem::makeRootDirectory(const std::string& path, mode_t mode) {
    if (!writable(path)) return false;
    const auto found = files.find(path);
    if (found == files.end()) {
        files[path] = FakeFile{"", static_cast<mode_t>(S_IFDIR | (mode & 07777)), writerUid};
        return writerUid == 0;
    }
    return S_ISDIR(found->second.mode) && found->second.uid == 0 &&
           (found->second.mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::optional<FileInfo> FakeSystem::fileInfo(const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return FileInfo{found->second.uid, found->second.mode, found->second.gid, 0, found->second.inode};
}

std::optional<FileInfo> FakeSystem::resolvedFileInfo(const std::string& path) {
    // As the kernel does, give up after 40 links.
    std::string at = path;
    for (int hops = 0; hops <= 40; ++hops) {
        const std::optional<FileInfo> info = fileInfo(at);
        if (!info || !S_ISLNK(info->mode)) return info;
        at = contents(at);
    }
    return std::nullopt;
}

std::string FakeSystem::contents(const std::string& path) const {
    const auto found = files.find(path);
    return found == files.end() ? std::string() : found->second.bytes;
}

std::vector<std::string> FakeSystem::appendedLines(const std::string& path) const {
    std::vector<std::string> lines;
    const auto found = appends.find(path);
    if (found == appends.end()) return lines;
    std::string all;
    for (const std::string& chunk : found->second) all += chunk;
    size_t start = 0;
    while (start < all.size()) {
        const size_t end = all.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(all.substr(start));
            break;
        }
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool FakeSystem::walkTree(const std::string& root, const std::function<void(uint64_t)>& entry) {
    walkedRoots.push_back(root);
    const auto found = treeSizes.find(root);
    if (found == treeSizes.end()) return false;
    for (uint64_t size : found->second) entry(size);
    return true;
}

System::OpenedChannel FakeSystem::openChannel(key_t key, size_t size, const std::string& semaphoreName) {
    ++channelOpens;
    OpenedChannel opened{nullptr, channelSquat};
    if (openChannelFails) return opened;
    channel->key = key;
    channel->size = size;
    channel->semaphoreName = semaphoreName;
    opened.channel = std::make_unique<FakeChannel>(channel);
    return opened;
}

std::optional<std::vector<std::string>> FakeSystem::listDirectory(const std::string& path) {
    const std::string prefix = path + "/";
    std::vector<std::string> names;
    for (auto it = files.lower_bound(prefix); it != files.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
        const std::string rest = it->first.substr(prefix.size());
        if (rest.find('/') == std::string::npos) names.push_back(rest);
    }
    if (names.empty()) return std::nullopt;
    return names;
}

}  // namespace hv
