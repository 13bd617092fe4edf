#include "tools/install_runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "common/table_element.h"
#include "foundation/typedstream.h"
#include "platform/linux/test_dir.h"

namespace hv {
namespace {

TEST(InstallRunnerTest, TheChildGetsTheWholeInputAndItsStatusCounts) {
    TestDir dir;
    std::string script = dir.file("copy");
    std::ofstream(script) << "#!/bin/sh\ncat > " << dir.file("got") << "\n";
    ::chmod(script.c_str(), 0755);
    std::string input(3 << 20, 'x');
    input[12345] = '\0';
    EXPECT_EQ(runWithInput(script, input), std::nullopt);
    std::ifstream got(dir.file("got"), std::ios::binary);
    std::stringstream bytes;
    bytes << got.rdbuf();
    EXPECT_EQ(bytes.str(), input);

    auto failed = runWithInput("/bin/false", "x");
    ASSERT_TRUE(failed);
    EXPECT_NE(failed->find("failed (exit status 1): nothing was installed"), std::string::npos) << *failed;

    // A child that stops reading early must neither hang us nor kill us with SIGPIPE.
    auto early = runWithInput("/bin/true", std::string(4 << 20, 'y'));
    ASSERT_TRUE(early);
    EXPECT_NE(early->find("did not read all of its input"), std::string::npos) << *early;

    auto missing = runWithInput(dir.file("nothing-here"), "x");
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->find("cannot start"), std::string::npos) << *missing;
}

TEST(InstallRunnerTest, TheLibraryInstallerWritesInThisProcessAndSaysWhatFailed) {
    registerTableElement();
    TestDir dir;
    Config config;
    config.settingsFile = dir.file(".Tovik2.stat");
    config.pidFile = dir.file("horavel.pid");
    auto settings = typedstreamArchive(Value(Dictionary{{Value("status"), Value::integer(1, 'i')}}));
    ASSERT_TRUE(settings);
    EXPECT_EQ(libraryInstaller(config)(*settings), std::nullopt);
    std::ifstream written(config.settingsFile);
    std::stringstream text;
    text << written.rdbuf();
    EXPECT_NE(text.str().find("<key>status</key>"), std::string::npos) << text.str();

    config.settingsFile = dir.file("no/such/folder/.Tovik2.stat");
    EXPECT_EQ(libraryInstaller(config)(*settings), "cannot write " + config.settingsFile + ": nothing was installed");
    EXPECT_EQ(libraryInstaller(config)("not an archive"), "the archive was refused: nothing was installed");
}

}  // namespace
}  // namespace hv
