// Notices and session termination against stand-in services on a private D-Bus daemon.

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/linux/logind.h"
#include "platform/linux/notices.h"
#include "platform/linux/test_child.h"
#include "platform/linux/test_dir.h"

namespace hv {
namespace {

// A private bus listening on `socketPath`, with the stand-in services on it.
class ServiceBus {
public:
    ServiceBus(const std::string& confDir, const std::string& socketPath, std::vector<std::string> sessions) {
        const std::string conf = confDir + "/bus.conf";
        std::ofstream(conf) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                               "<busconfig><listen>unix:path="
                            << socketPath
                            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                               "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                               "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        daemon_ = std::make_unique<TestChild>(std::vector<std::string>{
            "/usr/bin/dbus-daemon", "--config-file=" + conf, "--nofork", "--print-address=1"});
        address_ = "unix:path=" + socketPath;
        if (daemon_->readLine().empty()) return;
        std::vector<std::string> argv{"/usr/bin/python3", testSourceFile("bus_test_server.py"), address_};
        argv.insert(argv.end(), sessions.begin(), sessions.end());
        services_ = std::make_unique<TestChild>(argv);
        ready_ = services_->readLine() == "ready";
    }

    bool ready() const { return ready_; }
    const std::string& address() const { return address_; }
    std::string nextCall() { return services_->readLine(); }

private:
    std::unique_ptr<TestChild> daemon_;
    std::unique_ptr<TestChild> services_;
    std::string address_;
    bool ready_ = false;
};

class BusServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!busToolsPresent()) GTEST_SKIP() << "dbus-daemon or python3-dbus missing";
        ASSERT_FALSE(dir_.path().empty());
        chmod(dir_.path().c_str(), 0755);
    }
    TestDir dir_;
};

const std::string kHeader = "Wardelin Session Information";

TEST_F(BusServicesTest, NoticeCarriesUrgencyAndTimeoutAndIsClosedAfterIt) {
    ServiceBus bus(dir_.path(), dir_.file("bus"), {});
    ASSERT_TRUE(bus.ready());
    const std::string me = std::to_string(geteuid());

    ASSERT_TRUE(deliverNotice(bus.address(), Notice{0.0, NoticeLevel::Caution, kHeader, "5 minutes left"}));
    EXPECT_EQ(bus.nextCall(), "notify|Horavel|0||" + kHeader + "|5 minutes left||Byte:1|0|" + me);

    // A notice that stays is never closed: the next call the server sees is the next notice.
    ASSERT_TRUE(deliverNotice(bus.address(), Notice{0.05, NoticeLevel::Stop, kHeader, "Time is up"}));
    EXPECT_EQ(bus.nextCall(), "notify|Horavel|0||" + kHeader + "|Time is up||Byte:2|50|" + me);
    EXPECT_EQ(bus.nextCall(), "close|43");
}

TEST_F(BusServicesTest, TerminateSessionReportsWhatLogindSays) {
    ServiceBus bus(dir_.path(), dir_.file("bus"), {"7"});
    ASSERT_TRUE(bus.ready());
    EXPECT_TRUE(terminateLogindSession(bus.address(), "7"));
    EXPECT_EQ(bus.nextCall(), "terminate|7");
    EXPECT_FALSE(terminateLogindSession(bus.address(), "8"));
    EXPECT_EQ(bus.nextCall(), "terminate|8");
}

TEST_F(BusServicesTest, NothingListeningMeansFailureNotAHang) {
    const std::string nowhere = "unix:path=" + dir_.file("no-bus");
    EXPECT_FALSE(terminateLogindSession(nowhere, "7"));
    EXPECT_FALSE(deliverNotice(nowhere, Notice{}));
}

int zombieChildren() {
    int zombies = 0;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), &closedir);
    while (const dirent* e = proc ? readdir(proc.get()) : nullptr) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const size_t paren = text.rfind(')');
        if (paren == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (sscanf(text.c_str() + paren + 1, " %c %d", &state, &ppid) == 2 && ppid == getpid() && state == 'Z') {
            ++zombies;
        }
    }
    return zombies;
}

TEST_F(BusServicesTest, NoticeIsSentAsTheConsoleUserOnTheirBusAndLeavesNoZombie) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    const struct passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no account 'nobody'";
    const std::string userDir = dir_.file(std::to_string(nobody->pw_uid));
    ASSERT_EQ(mkdir(userDir.c_str(), 0755), 0);
    ServiceBus bus(dir_.path(), userDir + "/bus", {});
    ASSERT_TRUE(bus.ready());

    showNoticeAs(nobody->pw_uid, dir_.path(), Notice{0.0, NoticeLevel::Stop, kHeader, "Outside the allowed hours"});
    EXPECT_EQ(bus.nextCall(), "notify|Horavel|0||" + kHeader + "|Outside the allowed hours||Byte:2|0|" +
                                  std::to_string(nobody->pw_uid));
    // By now the intermediate child has long exited; it must have been reaped.
    EXPECT_EQ(zombieChildren(), 0);
}

}  // namespace
}  // namespace hv
