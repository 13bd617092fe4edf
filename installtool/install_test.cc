#include "installtool/install.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "foundation/typedstream.h"
#include "installtool/signal_recorder.h"
#include "platform/linux/test_dir.h"

namespace hv {
namespace {

// A class with TableElement's archive shape but free values, to feed horavelset numbers in
// forms its own record would never write. Its name has TableElement's length, so the archive's
// bytes can be renamed in place.
class LooseRecord : public Object {
public:
    std::string_view className() const override { return "TableElemenX"; }
    Value values[18];
};

std::string asTableElement(std::string archive) {
    size_t at = archive.find("TableElemenX");
    if (at != std::string::npos) archive.replace(at, 12, "TableElement");
    return archive;
}

class HoravelsetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        registerTableElement();
        ClassCoding coding;
        coding.classChain = {"TableElemenX", "NSObject"};
        coding.encode = [](const Object& o, Coder& coder) {
            for (const Value& v : static_cast<const LooseRecord&>(o).values) coder.encodeObject(v);
        };
        coding.decode = [](Decoder&) -> std::shared_ptr<Object> { return nullptr; };
        ClassRegistry::add(coding);
    }

    HoravelsetTest() {
        config_.homeRoot = dir_.file("home");
        config_.settingsFile = dir_.file("home/.Tovik2.stat");
        config_.pidFile = dir_.file("horavel.pid");
        config_.storeRoot = dir_.file("store");
        std::filesystem::create_directories(dir_.file("home/kid"));
    }

    void pidFileNames(pid_t pid) { std::ofstream(config_.pidFile) << pid << "\n"; }

    static std::string archive(const Value& v) {
        auto bytes = typedstreamArchive(v);
        EXPECT_TRUE(bytes);
        return bytes.value_or("");
    }

    static Value record(Value path) {
        auto e = std::make_shared<TableElement>();
        e->setUser(Value("someone-else"));
        e->setHomePath(std::move(path));
        e->setMonday(Value::integer(60));
        return Value(std::shared_ptr<Object>(e));
    }

    // Every file below the test directory, except the pid file.
    std::vector<std::string> files() {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
            if (!entry.is_directory() && entry.path() != config_.pidFile) {
                found.push_back(std::filesystem::relative(entry.path(), dir_.path()).string());
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    TestDir dir_;
    Config config_;
};

TEST_F(HoravelsetTest, SettingsAreWrittenAndTheStatusChoosesTheSignal) {
    SignalRecorder daemon;
    ASSERT_TRUE(daemon.ready());
    pidFileNames(daemon.pid());
    struct Case {
        Value status;
        std::vector<std::string> signals;
    } cases[] = {
        {Value(), {"SIGUSR2"}},
        {Value::integer(0), {"SIGUSR2"}},
        {Value::integer(1), {"SIGUSR1"}},
        {Value::integer(2), {"SIGHUP"}},
        {Value("1"), {"SIGUSR1"}},
        {Value::boolean(true), {"SIGUSR1"}},
        {Value::integer(3), {}},
        {Value::integer(-1), {}},
    };
    for (const Case& c : cases) {
        Dictionary dict{{Value("warntime"), Value::integer(5)}, {Value("warnmsg"), Value("%m left")}};
        if (!c.status.isNil()) dict.emplace_back(Value("status"), c.status);
        Value settings(std::move(dict));
        InstallResult r = install(archive(settings), config_);
        EXPECT_EQ(r.exitStatus(), 0);
        EXPECT_EQ(r.outcome, InstallOutcome::Settings);
        EXPECT_EQ(daemon.received(), c.signals);
        DecodeResult written = readXmlPropertyList(contents(config_.settingsFile));
        ASSERT_TRUE(written.ok());
        EXPECT_EQ(written.value, settings);
        EXPECT_EQ(files(), std::vector<std::string>{"home/.Tovik2.stat"});
    }
}

TEST_F(HoravelsetTest, TheSettingsFileIsReadableByAllAndWritableByRootAloneWhateverTheUmask) {
    for (mode_t mask : {0000, 0022, 0077, 0777}) {
        mode_t previous = ::umask(mask);
        InstallResult r = install(archive(Value(Dictionary{{Value("status"), Value::integer(1)}})), config_);
        ::umask(previous);
        ASSERT_EQ(r.outcome, InstallOutcome::Settings);
        struct stat st {};
        ASSERT_EQ(::stat(config_.settingsFile.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u) << "umask " << mask;
    }
}

TEST_F(HoravelsetTest, APolicyGoesToItsFirstRecordsPathWhateverItsUser) {
    SignalRecorder daemon;
    ASSERT_TRUE(daemon.ready());
    pidFileNames(daemon.pid());
    std::string path = dir_.file("home/kid/.horavel");
    Value list(Array{record(Value(path)), record(Value(dir_.file("elsewhere")))});
    InstallResult r = install(archive(list), config_);
    EXPECT_EQ(r.exitStatus(), 0);
    EXPECT_EQ(r.target, path);
    EXPECT_EQ(daemon.received(), std::vector<std::string>{"SIGHUP"});
    EXPECT_EQ(files(), std::vector<std::string>{"home/kid/.horavel"});

    DecodeResult written = keyedUnarchive(contents(path));
    ASSERT_TRUE(written.ok()) << written.error->message;
    ASSERT_EQ(written.value.array()->size(), 2u);
    auto first = recordAt(*written.value.array(), 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->user(), Value("someone-else"));
    EXPECT_EQ(first->monday().intValue(), 60);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// The policy file of an account the system knows ("root" is one everywhere) is kept in the store as
// well, where the child cannot reach it; the entry it replaces stays as the previous copy, unless
// it was no usable policy.
TEST_F(HoravelsetTest, AnAccountsPolicyIsKeptInTheStoreWithItsPreviousCopy) {
    std::filesystem::create_directories(dir_.file("home/root"));
    const std::string path = dir_.file("home/root/.horavel");
    const std::string entry = config_.storePolicyPath("root");
    const auto installed = [&](const std::string& file) {
        DecodeResult d = keyedUnarchive(contents(file));
        return d.ok() ? recordAt(*d.value.array(), 0)->monday().intValue() : -1;
    };
    auto policy = [&](int32_t minutes) {
        auto e = std::make_shared<TableElement>();
        e->setHomePath(Value(path));
        e->setMonday(Value::integer(minutes));
        return archive(Value(Array{Value(std::shared_ptr<Object>(e))}));
    };
    EXPECT_EQ(install(policy(60), config_).exitStatus(), 0);
    EXPECT_EQ(installed(entry), 60);
    EXPECT_EQ(contents(entry), contents(path));
    EXPECT_FALSE(std::filesystem::exists(config_.storePreviousPath("root")));
    EXPECT_EQ(install(policy(90), config_).exitStatus(), 0);
    EXPECT_EQ(installed(entry), 90);
    EXPECT_EQ(installed(config_.storePreviousPath("root")), 60);

    std::ofstream(entry, std::ios::trunc) << "junk";
    EXPECT_EQ(install(policy(120), config_).exitStatus(), 0);
    EXPECT_EQ(installed(entry), 120);
    EXPECT_EQ(installed(config_.storePreviousPath("root")), 60) << "junk never becomes the previous copy";
    struct stat st {};
    ASSERT_EQ(::stat(config_.storeRoot.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(entry.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A store that cannot be written fails the install: nothing is half done.
    std::filesystem::remove_all(config_.storeRoot);
    std::ofstream(config_.storeRoot) << "a file where the store should be";
    InstallResult r = install(policy(30), config_);
    EXPECT_EQ(r.exitStatus(), 1);
    EXPECT_EQ(installed(path), 120);
}

TEST_F(HoravelsetTest, CountsAndTheFlagAreRewrittenInTheirOwnKinds) {
    struct Case {
        Value range, nrange, manset;
        int32_t ranges, netranges;
        bool flag;
    } cases[] = {
        {Value::real(2.0), Value::real(1.9), Value::integer(5), 2, 1, true},
        {Value("3"), Value::boolean(true), Value::integer(0), 3, 1, false},
        {Value(), Value(Integer{4, 'c', false}), Value::real(0.5), 0, 4, true},
    };
    for (const Case& c : cases) {
        auto loose = std::make_shared<LooseRecord>();
        loose->values[0] = Value("kid");
        loose->values[1] = Value("Limit");
        loose->values[2] = c.range;
        loose->values[14] = c.nrange;
        loose->values[15] = c.manset;
        loose->values[17] = Value(dir_.file("home/kid/.horavel"));
        InstallResult r = install(asTableElement(archive(Value(Array{Value(std::shared_ptr<Object>(loose))}))), config_);
        ASSERT_EQ(r.outcome, InstallOutcome::Policy);

        DecodeResult written = keyedUnarchive(contents(dir_.file("home/kid/.horavel")));
        ASSERT_TRUE(written.ok());
        // The raw archive's fields, before any record reading interprets them.
        DecodeResult plist = readBinaryPropertyList(contents(dir_.file("home/kid/.horavel")));
        ASSERT_TRUE(plist.ok());
        auto e = recordAt(*written.value.array(), 0);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->ranges(), c.ranges);
        EXPECT_EQ(e->netranges(), c.netranges);
        EXPECT_EQ(e->manset() != 0, c.flag);
        const Array& objects = *plist.value["$objects"].array();
        const Value& root = objects[plist.value["$top"]["root"].uid()->value];
        const Value& fields = objects[(*root["NS.objects"].array())[0].uid()->value];
        auto at = [&](const char* key) -> const Value& { return objects[fields[key].uid()->value]; };
        ASSERT_TRUE(fields.dictionary());
        EXPECT_TRUE(at("$2").integerValue()) << "range";
        EXPECT_TRUE(at("$14").integerValue()) << "nrange";
        ASSERT_TRUE(at("$15").booleanValue()) << "manset";
        EXPECT_EQ(at("$15").booleanValue()->value, c.flag);
    }
}

TEST_F(HoravelsetTest, ALinkAtTheTargetIsReplacedNotFollowed) {
    std::string victim = dir_.file("victim");
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::symlink(victim.c_str(), config_.settingsFile.c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), dir_.file("home/kid/.horavel").c_str()), 0);

    EXPECT_EQ(install(archive(Value(Dictionary{{Value("status"), Value::integer(1)}})), config_).outcome,
              InstallOutcome::Settings);
    EXPECT_EQ(install(archive(Value(Array{record(Value(dir_.file("home/kid/.horavel")))})), config_).outcome,
              InstallOutcome::Policy);

    EXPECT_EQ(contents(victim), "precious");
    for (const std::string& path : {config_.settingsFile, dir_.file("home/kid/.horavel")}) {
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    }
}

TEST_F(HoravelsetTest, InputItCannotInstallWritesNothingSignalsNothingAndFails) {
    SignalRecorder daemon;
    ASSERT_TRUE(daemon.ready());
    pidFileNames(daemon.pid());
    std::string good = archive(Value(Dictionary{{Value("status"), Value::integer(1)}}));
    struct Case {
        const char* what;
        std::string input;
        InstallOutcome outcome;
    } cases[] = {
        {"empty input", "", InstallOutcome::BadInput},
        {"not a typedstream", "status=1", InstallOutcome::BadInput},
        {"a truncated archive", good.substr(0, good.size() - 3), InstallOutcome::BadInput},
        {"a string", archive(Value("hello")), InstallOutcome::BadInput},
        {"a number", archive(Value::integer(1)), InstallOutcome::BadInput},
        {"settings with a number for a key", archive(Value(Dictionary{{Value::integer(1), Value("x")}})),
         InstallOutcome::BadInput},
        {"settings holding NSNull", archive(Value(Dictionary{{Value("status"), Value(Null{})}})),
         InstallOutcome::BadInput},
        {"a list of strings", archive(Value(Array{Value("x")})), InstallOutcome::BadInput},
        {"a record then a string", archive(Value(Array{record(Value(dir_.file("home/kid/.horavel"))), Value("x")})),
         InstallOutcome::BadInput},
        {"no path", archive(Value(Array{record(Value())})), InstallOutcome::BadInput},
        {"an empty path", archive(Value(Array{record(Value(""))})), InstallOutcome::BadInput},
        {"a relative path", archive(Value(Array{record(Value("home/kid/.horavel"))})), InstallOutcome::BadInput},
        {"a path into nowhere", archive(Value(Array{record(Value(dir_.file("home/ghost/.horavel")))})),
         InstallOutcome::WriteFailed},
    };
    for (const Case& c : cases) {
        InstallResult r = install(c.input, config_);
        EXPECT_EQ(r.outcome, c.outcome) << c.what;
        EXPECT_EQ(r.exitStatus(), 1) << c.what;
        EXPECT_EQ(daemon.received(), std::vector<std::string>{}) << c.what;
        EXPECT_EQ(files(), std::vector<std::string>{}) << c.what;
    }
}

TEST_F(HoravelsetTest, AnEmptyListIsNothingToDo) {
    SignalRecorder daemon;
    ASSERT_TRUE(daemon.ready());
    pidFileNames(daemon.pid());
    InstallResult r = install(archive(Value(Array{})), config_);
    EXPECT_EQ(r.outcome, InstallOutcome::EmptyList);
    EXPECT_EQ(r.exitStatus(), 0);
    EXPECT_EQ(daemon.received(), std::vector<std::string>{});
    EXPECT_EQ(files(), std::vector<std::string>{});
}

TEST_F(HoravelsetTest, OnlyAUsablePidIsSignalled) {
    struct Case {
        const char* text;
        std::optional<pid_t> pid;
    } cases[] = {
        {"1234\n", 1234}, {"  42", 42}, {"+7", 7}, {"77abc", 77}, {"2", 2}, {"1", std::nullopt},
        {"0", std::nullopt}, {"-5", std::nullopt}, {"abc", std::nullopt}, {"", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parsePid(c.text), c.pid) << c.text;

    SignalRecorder daemon;
    ASSERT_TRUE(daemon.ready());
    // No pid file, a pid file that is a link to the right pid, a pid file too long to be one.
    EXPECT_EQ(sendEvent(1, config_), 0);
    std::ofstream(dir_.file("real.pid")) << daemon.pid() << "\n";
    ASSERT_EQ(::symlink(dir_.file("real.pid").c_str(), config_.pidFile.c_str()), 0);
    EXPECT_EQ(sendEvent(1, config_), 0);
    ::unlink(config_.pidFile.c_str());
    std::ofstream(config_.pidFile) << daemon.pid() << std::string(100, ' ') << "\n";
    EXPECT_EQ(sendEvent(1, config_), 0);
    EXPECT_EQ(daemon.received(), std::vector<std::string>{});

    // A live process that is not the daemon (the pid of a daemon that died, reused).
    SignalRecorder stranger("editor");
    ASSERT_TRUE(stranger.ready());
    pidFileNames(stranger.pid());
    EXPECT_EQ(sendEvent(2, config_), 0);
    EXPECT_EQ(stranger.received(), std::vector<std::string>{});

    pidFileNames(daemon.pid());
    EXPECT_EQ(sendEvent(7, config_), 0);
    EXPECT_EQ(sendEvent(0, config_), SIGUSR2);
    EXPECT_EQ(daemon.received(), std::vector<std::string>{"SIGUSR2"});
}

TEST_F(HoravelsetTest, StandardInputIsReadToItsEndWithinOneMebibyte) {
    for (size_t size : {size_t{0}, size_t{100000}, kMaxInstallInput, kMaxInstallInput + 1}) {
        std::string path = dir_.file("input");
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        auto read = readAllBounded(fd);
        ::close(fd);
        if (size <= kMaxInstallInput) {
            ASSERT_TRUE(read) << size;
            EXPECT_EQ(read->size(), size);
        } else {
            EXPECT_FALSE(read);
        }
    }
}

}  // namespace
}  // namespace hv
