#include "tools/status_command.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/test_dir.h"
#include "tools/json_codec.h"

extern char** environ;

namespace hv {
namespace {

class StatusCommandTest : public ::testing::Test {
protected:
    StatusCommandTest() {
        config_.settingsFile = dir_.file(".Tovik2.stat");
        config_.pidFile = dir_.file("horavel.pid");
        config_.shmKey = static_cast<key_t>(0x48560000 + (::getpid() & 0xffff));
    }

    // A /proc stand-in in which `pid` has the command name `comm`.
    std::string fakeProc(pid_t pid, const std::string& comm) {
        std::string root = dir_.file("proc");
        ::mkdir(root.c_str(), 0755);
        ::mkdir((root + "/" + std::to_string(pid)).c_str(), 0755);
        std::ofstream(root + "/" + std::to_string(pid) + "/comm") << comm << "\n";
        return root;
    }

    TestDir dir_;
    Config config_;
};

TEST_F(StatusCommandTest, TheDaemonIsRunningOnlyWhenItsPidIsAliveAndNamedHoraveld) {
    EXPECT_FALSE(probeDaemon(config_).running);
    EXPECT_NE(probeDaemon(config_).note.find("no pid file"), std::string::npos);

    std::ofstream(config_.pidFile) << ::getpid() << "\n";
    DaemonState named = probeDaemon(config_, fakeProc(::getpid(), "horaveld"));
    EXPECT_TRUE(named.running) << named.note;
    EXPECT_EQ(named.pid, ::getpid());

    DaemonState other = probeDaemon(config_, fakeProc(::getpid(), "bash"));
    EXPECT_FALSE(other.running);
    EXPECT_NE(other.note.find("\"bash\", not horaveld"), std::string::npos) << other.note;

    std::ofstream(config_.pidFile) << "junk\n";
    EXPECT_FALSE(probeDaemon(config_, fakeProc(::getpid(), "horaveld")).running);
}

TEST_F(StatusCommandTest, ARealProcessNamedHoraveldIsFoundInProc) {
    std::string copy = dir_.file("horaveld");
    std::filesystem::copy_file("/bin/sleep", copy);
    ::chmod(copy.c_str(), 0755);
    pid_t pid = 0;
    char* argv[] = {copy.data(), const_cast<char*>("600"), nullptr};
    ASSERT_EQ(posix_spawn(&pid, copy.c_str(), nullptr, nullptr, argv, environ), 0);
    std::ofstream(config_.pidFile) << pid << "\n";
    DaemonState state = probeDaemon(config_);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(state.running) << state.note;
    EXPECT_EQ(state.pid, pid);

    DaemonState gone = probeDaemon(config_);
    EXPECT_FALSE(gone.running);
    EXPECT_NE(gone.note.find("is gone"), std::string::npos) << gone.note;
}

TEST_F(StatusCommandTest, TheChannelIsReadWithoutBeingCreated) {
    EXPECT_FALSE(readChannel(config_.shmKey));
    int id = ::shmget(config_.shmKey, 1024, IPC_CREAT | IPC_EXCL | 0600);
    ASSERT_GE(id, 0) << std::strerror(errno);
    void* at = ::shmat(id, nullptr, 0);
    ASSERT_NE(at, reinterpret_cast<void*>(-1));
    const int32_t words[5] = {45, -2, 1, 30, 960};
    std::memcpy(at, words, sizeof words);
    auto read = readChannel(config_.shmKey);
    ::shmdt(at);
    ::shmctl(id, IPC_RMID, nullptr);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, (std::array<int32_t, 5>{45, -2, 1, 30, 960}));
    EXPECT_FALSE(readChannel(config_.shmKey));
}

TEST_F(StatusCommandTest, StatusReportsEveryPart) {
    std::ofstream(config_.settingsFile) << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>status</key><integer>1</integer></dict></plist>
)";
    std::ostringstream out;
    EXPECT_EQ(runStatus(config_, [] { return std::optional<std::string>("kid"); }, false, out), 3);
    EXPECT_NE(out.str().find("Daemon:     not running (no pid file"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("Monitoring: on\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("kid is at the console: the daemon publishes nothing"), std::string::npos) << out.str();

    std::ostringstream json;
    EXPECT_EQ(runStatus(config_, [] { return std::nullopt; }, true, json), 3);
    const Json parsed = Json::parse(json.str());
    EXPECT_EQ(parsed["daemon"]["running"], false);
    EXPECT_EQ(parsed["monitoring"], "on");
    EXPECT_TRUE(parsed["console"].is_null());
    EXPECT_TRUE(parsed["record"].is_null());
}

TEST_F(StatusCommandTest, TheConsoleIsDescribedInWords) {
    struct Case {
        std::array<int32_t, 5> record;
        std::optional<uint32_t> allowance;
        int32_t granted;
        const char* says;
    } cases[] = {
        {{42, 120, 1, 0, -1}, 45, 15, "kid is at the console: 42 minutes left today (of 60, 15 given), network until 19:00, warned"},
        {{1, -1, 0, 0, -1}, 60, -20, "kid is at the console: 1 minute left today (of 40, 20 taken away)"},
        {{41, -2, 0, 30, 960}, std::nullopt, 0, "kid is at the console: 41 min 30 s left today, network off until 16:00"},
        {{41, -2, 0, 30, -1}, std::nullopt, 0, "kid is at the console: 41 min 30 s left today, network off for the rest of the day"},
        {{41, -2, 0, 30, 99999}, std::nullopt, 0, "kid is at the console: 41 min 30 s left today, network off for the rest of the day"},
        {{0, -1, 3, 0, -1}, 60, 0, "kid is at the console: no time left today (of 60), warned"},
        {{0, -1, 0, 0, -1}, 0, 0, "kid is at the console: no limit today"},
        {{-1, -1, 0, -1, -1}, 0, 0, "kid is at the console: no limit today (the time left is hidden)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describeConsole(ConsoleFacts{"kid", c.record, c.allowance, c.granted, 17 * 60}), c.says);
    }
    EXPECT_EQ(describeConsole(ConsoleFacts{}), "Nobody is at the console.");
}

}  // namespace
}  // namespace hv
