#include "tools/doctor_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "platform/linux/test_dir.h"

namespace hv {
namespace {

class DoctorTest : public ::testing::Test {
protected:
    DoctorTest() {
        config_.settingsFile = dir_.file("settings");
        config_.pidFile = dir_.file("pid");
        config_.storeRoot = dir_.file("store");
        config_.daemonName = "horaveld";
        paths_.procRoot = dir_.file("proc");
        paths_.mounts = dir_.file("mounts");
        paths_.pamProfile = dir_.file("pam-profile");
        paths_.pamAccountStack = dir_.file("common-account");
        paths_.trayAutostart = dir_.file("autostart.desktop");
        paths_.timeSynchronised = dir_.file("synchronized");
        ::mkdir(paths_.procRoot.c_str(), 0755);
    }

    void write(const std::string& path, const std::string& text, mode_t mode = 0644) {
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
    }
    void process(const std::string& pid, const std::string& comm) {
        ::mkdir((paths_.procRoot + "/" + pid).c_str(), 0755);
        write(paths_.procRoot + "/" + pid + "/comm", comm + "\n");
    }

    // A healthy installation: one daemon named by its pid file, root's settings, the login check,
    // the tray entry and a synchronised clock.
    void healthy() {
        process("42", "horaveld");
        process("43", "bash");
        write(config_.pidFile, "42\n");
        write(config_.settingsFile, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>status</key><integer>1</integer></dict></plist>
)");
        write(paths_.pamAccountStack, "account [success=1 default=ignore] pam_horavel.so\n");
        write(paths_.trayAutostart, "[Desktop Entry]\n");
        write(paths_.timeSynchronised, "");
    }

    std::string doctor(int expectedStatus) {
        std::ostringstream out;
        EXPECT_EQ(runDoctor(config_, paths_, out), expectedStatus) << out.str();
        return out.str();
    }

    TestDir dir_;
    Config config_;
    DoctorPaths paths_;
};

TEST_F(DoctorTest, AHealthyInstallationHasNoFailure) {
    if (::geteuid() != 0) GTEST_SKIP() << "the settings file must be root's";
    healthy();
    const std::string said = doctor(0);
    for (const char* line : {"ok   daemon: one horaveld running, pid 42 as ", "ok   settings: ", "trusted, monitoring on\n",
                             "ok   login check: pam_horavel.so is in ", "ok   tray: ", "ok   clock: synchronised"}) {
        EXPECT_NE(said.find(line), std::string::npos) << line << "\n" << said;
    }
    EXPECT_EQ(said.find("fail"), std::string::npos) << said;
}

TEST_F(DoctorTest, EachProblemIsSaidOnItsOwnLine) {
    if (::geteuid() != 0) GTEST_SKIP() << "the settings file must be root's";
    healthy();
    ::chmod(config_.settingsFile.c_str(), 0666);
    EXPECT_NE(doctor(1).find("fail settings: " + config_.settingsFile +
                             " is not root's alone (owner 0, mode 0666), so the daemon ignores it"),
              std::string::npos);
    ::chmod(config_.settingsFile.c_str(), 0644);

    process("44", "horaveld");
    EXPECT_NE(doctor(1).find("fail daemon: 2 horaveld processes run\n"), std::string::npos);
    ::unlink((paths_.procRoot + "/44/comm").c_str());
    write(config_.pidFile, "7\n");
    EXPECT_NE(doctor(1).find("fail daemon: horaveld runs as pid 42 but " + config_.pidFile + " says \"7\""),
              std::string::npos);
    write(config_.pidFile, "42\n");

    ::unlink(paths_.pamAccountStack.c_str());
    ::unlink(paths_.trayAutostart.c_str());
    ::unlink(paths_.timeSynchronised.c_str());
    const std::string warned = doctor(0);
    for (const char* line : {"warn login check: not enabled", "warn tray: no autostart entry", "warn clock: not known"}) {
        EXPECT_NE(warned.find(line), std::string::npos) << line << "\n" << warned;
    }
}

// With network ranges enforced, the method's own tool must work: nftables for the firewall rule
// (the default), ifconfig for switching interfaces.
TEST_F(DoctorTest, NetworkRangesNeedTheirMethodsTool) {
    if (::geteuid() != 0) GTEST_SKIP() << "the settings and the store must be root's";
    healthy();
    registerTableElement();
    auto limit = std::make_shared<TableElement>();
    limit->setNetRanges(1);
    ::mkdir(config_.storeRoot.c_str(), 0700);
    ::mkdir((config_.storeRoot + "/policies").c_str(), 0700);
    write(config_.storePolicyPath("kid"), *keyedArchive(Value(Array{Value(std::shared_ptr<Object>(limit))})), 0600);
    struct Case {
        const char* method;  // nullptr: not set, the firewall
        std::vector<std::string> nftables, ifconfig;
        int status;
        const char* says;
    } cases[] = {
        {nullptr, {"/bin/true"}, {}, 0, "ok   network ranges: nftables works"},
        {"firewall", {"/bin/false"}, {}, 1, "fail network ranges: nftables does not work here"},
        {"interface", {"/bin/false"}, {"/bin/sh"}, 0, "ok   network ranges: ifconfig present"},
        {"interface", {"/bin/true"}, {dir_.file("no-ifconfig")}, 1, "fail network ranges: ifconfig missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method ? c.method : "default");
        write(config_.settingsFile, std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>status</key><integer>1</integer><key>netmon</key><integer>1</integer>)") +
                                        (c.method ? std::string("<key>netmethod</key><string>") + c.method + "</string>" : "") +
                                        "</dict></plist>\n");
        paths_.nftables = c.nftables;
        paths_.ifconfig = c.ifconfig;
        EXPECT_NE(doctor(c.status).find(c.says), std::string::npos);
    }
}

}  // namespace
}  // namespace hv
