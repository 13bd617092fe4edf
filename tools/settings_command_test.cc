#include "tools/settings_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "common/table_element.h"
#include "foundation/property_list.h"
#include "installtool/install.h"
#include "platform/linux/test_dir.h"

namespace hv {
namespace {

class SettingsCommandTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerTableElement(); }

    SettingsCommandTest() {
        config_.homeRoot = dir_.path();
        config_.settingsFile = dir_.file(".Tovik2.stat");
        config_.pidFile = dir_.file("horavel.pid");
    }

    // Installs through horavelset's own logic, pointed at the test directory.
    Installer installer() {
        return [this](std::string_view archive) -> std::optional<std::string> {
            ++installs_;
            InstallResult r = install(archive, config_);
            if (r.exitStatus() != 0) return std::string("install failed");
            return std::nullopt;
        };
    }

    Value fileContents() {
        std::ifstream in(config_.settingsFile, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        DecodeResult r = readPropertyList(bytes.str());
        EXPECT_TRUE(r.ok());
        return r.value;
    }

    TestDir dir_;
    Config config_;
    int installs_ = 0;
};

TEST_F(SettingsCommandTest, AssignmentsSetNumbersAndTemplates) {
    Value current(Dictionary{{Value("status"), Value::integer(0)}, {Value("custom"), Value("kept")}});
    SettingsEdit edit = applySettings(current, {"status=1", "warnmsg=Only %m minutes = left", "diskmontime=-3"});
    ASSERT_FALSE(edit.error) << *edit.error;
    const Dictionary& d = *edit.dictionary.dictionary();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].first, Value("status"));
    EXPECT_EQ(d[0].second, Value::integer(1));
    EXPECT_EQ(d[1].first, Value("custom"));
    EXPECT_EQ(edit.dictionary["warnmsg"], Value("Only %m minutes = left"));
    EXPECT_EQ(edit.dictionary["diskmontime"], Value::integer(-3));
}

TEST_F(SettingsCommandTest, BadAssignmentsAreRefused) {
    struct Case {
        const char* assignment;
        const char* says;
    } cases[] = {
        {"colour=red", "unknown setting \"colour\""},
        {"warntime=five", "whole number"},
        {"warntime=", "whole number"},
        {"warntime=5.5", "whole number"},
        {"status=99999999999", "whole number"},
        {"status", "not KEY=VALUE"},
        {"warnmsg=ring\a", "cannot hold this: the string holds U+0007, a character XML 1.0 cannot carry at /warnmsg"},
    };
    for (const Case& c : cases) {
        SettingsEdit edit = applySettings(Value(), {"status=1", c.assignment});
        ASSERT_TRUE(edit.error) << c.assignment;
        EXPECT_NE(edit.error->find(c.says), std::string::npos) << *edit.error;
    }
}

TEST_F(SettingsCommandTest, SetWritesThroughHoravelsetAndShowReadsItBack) {
    std::ostringstream out, err;
    ASSERT_EQ(runSettingsSet(config_, {"status=1", "warntime=10", "logoutmsg=Bye"}, installer(), out, err), 0)
        << err.str();
    ASSERT_EQ(runSettingsSet(config_, {"warntime=7"}, installer(), out, err), 0) << err.str();
    Value file = fileContents();
    EXPECT_EQ(file["status"].intValue(), 1);
    EXPECT_EQ(file["warntime"].intValue(), 7);
    EXPECT_EQ(file["logoutmsg"], Value("Bye"));
    struct stat st {};
    ASSERT_EQ(::stat(config_.settingsFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    std::ostringstream shown;
    ASSERT_EQ(runSettingsShow(config_, shown, err), 0);
    EXPECT_NE(shown.str().find("(monitoring on)"), std::string::npos) << shown.str();
    EXPECT_NE(shown.str().find("warntime     7\n"), std::string::npos) << shown.str();
    EXPECT_NE(shown.str().find("logoutmsg    \"Bye\"\n"), std::string::npos) << shown.str();
    EXPECT_NE(shown.str().find("diskmsg      (not set)\n"), std::string::npos) << shown.str();
}

TEST_F(SettingsCommandTest, NothingIsInstalledWhenTheRequestOrTheFileIsBad) {
    std::ostringstream out, err;
    EXPECT_NE(runSettingsSet(config_, {"bogus=1"}, installer(), out, err), 0);
    EXPECT_EQ(installs_, 0);

    std::ofstream(config_.settingsFile) << "this is no property list";
    std::ostringstream err2;
    EXPECT_NE(runSettingsSet(config_, {"status=1"}, installer(), out, err2), 0);
    EXPECT_EQ(installs_, 0);
    EXPECT_NE(err2.str().find("not changed"), std::string::npos) << err2.str();

    std::ostringstream err3;
    EXPECT_NE(runSettingsShow(config_, out, err3), 0);
    EXPECT_NE(err3.str().find("not a property list"), std::string::npos) << err3.str();
}

TEST_F(SettingsCommandTest, AFailedInstallIsReported) {
    config_.settingsFile = dir_.file("no/such/folder/.Tovik2.stat");
    std::ostringstream out, err;
    EXPECT_NE(runSettingsSet(config_, {"status=1"}, installer(), out, err), 0);
    EXPECT_EQ(installs_, 1);
    EXPECT_NE(err.str().find("install failed"), std::string::npos);
}

}  // namespace
}  // namespace hv
