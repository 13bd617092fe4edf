// The shipped programs, run for real. horavelset has its paths built in, so the runs that write
// happen in a private mount namespace with tmpfs over /home, /var/run and /var/lib (and a private
// /etc/passwd that knows the account "kid").

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "foundation/typedstream.h"
#include "installtool/signal_recorder.h"
#include "platform/linux/test_dir.h"
#include "tools/policy.h"

namespace hv {
namespace {

// A built program, found from this test's own place in the build tree (<build>/tools/).
std::string binary(const char* relative) {
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path() / relative).string();
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int shell(const std::string& script) {
    std::string command = "/bin/sh -c '" + script + "'";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ProgramsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerTableElement(); }

    std::string write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_.file(name), std::ios::binary) << bytes;
        return dir_.file(name);
    }

    TestDir dir_;
};

TEST_F(ProgramsTest, HoravelsetSaysNothingAndFailsOnInputItCannotInstall) {
    for (const std::string& input : {std::string(), std::string("garbage"), *typedstreamArchive(Value("text"))}) {
        write("in", input);
        std::string t = dir_.path();
        int rc = shell(binary("installtool/horavelset") + " < " + t + "/in > " + t + "/out 2> " + t + "/err");
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(slurp(t + "/out"), "");
        EXPECT_EQ(slurp(t + "/err"), "");
    }
}

TEST_F(ProgramsTest, EveryProgramReportsTheOneVersion) {
    std::vector<std::pair<std::string, std::string>> programs = {
        {"daemon/horaveld", "horaveld"}, {"installtool/horavelset", "horavelset"}, {"tools/horavelctl", "horavelctl"}};
#ifdef HORAVEL_TEST_MENU
    programs.emplace_back("menubar/HoravelMenu", "HoravelMenu");
#endif
    std::string t = dir_.path();
    for (const auto& [path, name] : programs) {
        // No display and no standard input: the answer must come before either is needed.
        EXPECT_EQ(shell("env -u DISPLAY -u WAYLAND_DISPLAY " + binary(path.c_str()) + " --version < /dev/null > " + t +
                        "/out 2> " + t + "/err"),
                  0)
            << name << ": " << slurp(t + "/err");
        EXPECT_EQ(slurp(t + "/out"), name + " " HORAVEL_VERSION "\n");
    }
    EXPECT_EQ(shell(binary("installtool/horavelset") + " --install < /dev/null 2> " + t + "/err"), 2);
    EXPECT_EQ(slurp(t + "/err"), "usage: horavelset [--help | --version] < archive\n");
}

TEST_F(ProgramsTest, HoravelctlDecodeReportsBadInputOnOneLineWithStatusTwo) {
    std::string t = dir_.path();
    write("bad", "bplist00 not really");
    EXPECT_EQ(shell(binary("tools/horavelctl") + " decode " + t + "/bad > " + t + "/out 2> " + t + "/err"), 2);
    EXPECT_EQ(slurp(t + "/out"), "");
    std::string err = slurp(t + "/err");
    EXPECT_NE(err.find("byte offset"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;

    write("good.json", R"([{"$date": "2026-12-07T08:30:00.5+01:00"}, 1.0, {"k": "v"}])");
    EXPECT_EQ(shell(binary("tools/horavelctl") + " encode --typedstream " + t + "/good.json | " +
                    binary("tools/horavelctl") + " decode - > " + t + "/out"),
              0);
    std::string out = slurp(t + "/out");
    EXPECT_NE(out.find("\"$date\": \"2026-12-07T"), std::string::npos) << out;
    EXPECT_NE(out.find(".5"), std::string::npos) << out;
    EXPECT_NE(out.find("1.0"), std::string::npos) << out;

    EXPECT_NE(shell(binary("tools/horavelctl") + " encode " + t + "/good.json 2> /dev/null"), 0);
}

class ProgramsInNamespaceTest : public ProgramsTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || shell("unshare -m true 2>/dev/null") != 0) {
            GTEST_SKIP() << "needs root and mount namespaces (unshare -m)";
        }
    }

    // Runs `body` as root in a private mount namespace with a fresh /home (holding kid's
    // folder), a fresh /var/run whose pid file names `pid`, an empty /var/lib for the store, and
    // a passwd file that knows kid.
    int inNamespace(pid_t pid, const std::string& body) {
        std::string t = dir_.path();
        write("script",
              "set -e\n"
              "mount --make-rprivate /\n"
              "mount -t tmpfs tmpfs /home\n"
              "mount -t tmpfs tmpfs /var/run\n"
              "mount -t tmpfs tmpfs /var/lib\n"
              "cp /etc/passwd " + t + "/passwd\n"
              "echo kid:x:4242:4242::/home/kid:/bin/sh >> " + t + "/passwd\n"
              "mount --bind " + t + "/passwd /etc/passwd\n"
              "mkdir /home/kid\n"
              "echo " + std::to_string(pid) + " > /var/run/horavel.pid\n"
              "umask 077\n"
              "PATH=" + binary("installtool") + ":$PATH\n"
              "T=" + t + "\n" + body);
        return shell("unshare -m /bin/sh " + t + "/script");
    }
};

TEST_F(ProgramsInNamespaceTest, HoravelsetWritesThePolicyAtItsPathAndTheSettingsWithMode0644) {
    SignalRecorder daemon;
    ASSERT_TRUE(daemon.ready());
    auto record = std::make_shared<TableElement>();
    record->setUser(Value("not-kid"));
    record->setHomePath(Value("/home/kid/.horavel"));
    write("policy.ts", *typedstreamArchive(Value(Array{Value(std::shared_ptr<Object>(record))})));
    write("settings.ts", *typedstreamArchive(Value(Dictionary{{Value("status"), Value::integer(1)}})));

    ASSERT_EQ(inNamespace(daemon.pid(),
                          "horavelset < $T/policy.ts > $T/out 2>&1\n"
                          "ls -A /home/kid > $T/kid.ls\n"
                          "cp /home/kid/.horavel $T/kid.horavel\n"
                          "stat -c '%a %U %n' /var/lib/horavel /var/lib/horavel/policies/* > $T/store.ls\n"
                          "cmp /home/kid/.horavel /var/lib/horavel/policies/kid.horavel\n"
                          "horavelset < $T/settings.ts >> $T/out 2>&1\n"
                          "stat -c %a /home/.Tovik2.stat > $T/settings.mode\n"
                          "ls -A /home > $T/home.ls\n"),
              0);
    EXPECT_EQ(slurp(dir_.file("out")), "");
    EXPECT_EQ(slurp(dir_.file("kid.ls")), ".horavel\n");
    EXPECT_EQ(slurp(dir_.file("store.ls")), "700 root /var/lib/horavel\n600 root /var/lib/horavel/policies/kid.horavel\n")
        << "kid's policy is kept where only root can reach it";
    EXPECT_EQ(slurp(dir_.file("home.ls")), ".Tovik2.stat\nkid\n");
    EXPECT_EQ(slurp(dir_.file("settings.mode")), "644\n");
    EXPECT_EQ(daemon.received(), (std::vector<std::string>{"SIGHUP", "SIGUSR1"}));
    DecodeResult policy = keyedUnarchive(slurp(dir_.file("kid.horavel")));
    ASSERT_TRUE(policy.ok());
    EXPECT_EQ(recordAt(*policy.value.array(), 0)->user(), Value("not-kid"));
}

TEST_F(ProgramsInNamespaceTest, HoravelctlInstallsThroughHoravelsetAndReadsBack) {
    SignalRecorder daemon;
    ASSERT_TRUE(daemon.ready());
    write("policy.json", R"({"allowance": {"all": 60}, "ranges": [{"day": "all", "start": "08:00", "end": "20:00"}],
                             "apps": [{"name": "firefox", "minutes": 30}]})");
    std::string ctl = binary("tools/horavelctl");
    ASSERT_EQ(inNamespace(daemon.pid(),
                          ctl + " policy set kid $T/policy.json > $T/set.out\n" +
                          ctl + " policy show kid --json > $T/show.json\n" +
                          ctl + " policy show kid > $T/show.txt\n" +
                          ctl + " settings set status=1 warntime=9 \"warnmsg=%m minutes left\" > $T/settings.out\n" +
                          ctl + " settings show > $T/settings.txt\n" +
                          "cp /home/kid/.horavel $T/kid.horavel\n" +
                          "if " + ctl + " policy set nosuchkid $T/policy.json 2> $T/nouser.err; then exit 9; fi\n"),
              0)
        << slurp(dir_.file("set.out"));
    EXPECT_EQ(daemon.received(), (std::vector<std::string>{"SIGHUP", "SIGUSR1"}));

    PolicyParse shown = parsePolicyText(slurp(dir_.file("show.json")));
    PolicyParse given = parsePolicyText(slurp(dir_.file("policy.json")));
    ASSERT_FALSE(shown.error) << *shown.error;
    EXPECT_EQ(shown.policy, given.policy);
    std::string table = slurp(dir_.file("show.txt"));
    EXPECT_NE(table.find("  Wed  08:00-20:00\n"), std::string::npos) << table;
    std::string settings = slurp(dir_.file("settings.txt"));
    EXPECT_NE(settings.find("warntime     9\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("warnmsg      \"%m minutes left\"\n"), std::string::npos) << settings;
    EXPECT_NE(slurp(dir_.file("nouser.err")).find("no such user \"nosuchkid\""), std::string::npos);

    DecodeResult policy = keyedUnarchive(slurp(dir_.file("kid.horavel")));
    ASSERT_TRUE(policy.ok());
    auto limit = recordAt(*policy.value.array(), 0);
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->user(), Value("kid"));
    EXPECT_EQ(limit->path(), Value("/home/kid/.horavel"));
}

}  // namespace
}  // namespace hv
