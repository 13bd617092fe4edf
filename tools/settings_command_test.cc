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
    SettingsEdit edit = applySettings(
        current, {"status=1", "warnmsg=Only %m minutes = left, 50% %", "diskmontime=15", "grantmsg=+%g for %u"});
    ASSERT_FALSE(edit.error) << *edit.error;
    const Dictionary& d = *edit.dictionary.dictionary();
    ASSERT_EQ(d.size(), 10u);  // the four given, the one kept, the four templates and netmethod not given
    EXPECT_EQ(d[0].first, Value("status"));
    EXPECT_EQ(d[0].second, Value::integer(1));
    EXPECT_EQ(d[1].first, Value("custom"));
    EXPECT_EQ(edit.dictionary["warnmsg"], Value("Only %m minutes = left, 50% %"));
    EXPECT_EQ(edit.dictionary["diskmontime"], Value::integer(15));
    EXPECT_EQ(edit.dictionary["grantmsg"], Value("+%g for %u"));
    EXPECT_EQ(edit.dictionary["logoutmsg"], Value("Time is up for today, %u. You are being logged out."));
    EXPECT_EQ(edit.dictionary["rangemsg"], Value("%u, the computer can be used from %sr to %er."));
}

TEST_F(SettingsCommandTest, DefaultsFillEveryTemplateAndPassTheirOwnChecks) {
    Value defaults = defaultSettings();
    EXPECT_EQ(defaults["status"].intValue(), 1);
    EXPECT_EQ(defaults["warntime"].intValue(), 5);
    EXPECT_EQ(defaults["diskmontime"].intValue(), 15);
    for (const SettingKey& key : kSettingKeys) {
        ASSERT_FALSE(defaults[key.name].isNil()) << key.name;
        if (key.numeric) continue;
        EXPECT_FALSE(defaults[key.name].string()->empty()) << key.name;
        SettingsEdit edit = applySettings(Value(), {std::string(key.name) + "=" + *defaults[key.name].string()});
        EXPECT_FALSE(edit.error) << key.name << ": " << *edit.error;
    }
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
        {"status=99999999999", "status takes a number from 0 to 1, not 99999999999"},
        {"warntime=99999999999999999999", "whole number"},
        {"status", "not KEY=VALUE"},
        {"warnmsg=ring\a", "cannot hold this: the string holds U+0007, a character XML 1.0 cannot carry at /warnmsg"},
        {"status=2", "status takes a number from 0 to 1, not 2"},
        {"netmethod=ip", "netmethod is \"firewall\" or \"interface\", not \"ip\""},
        {"status=-1", "status takes a number from 0 to 1"},
        {"warntime=-3", "warntime takes a number from 0 to 1440, not -3"},
        {"warntime=1441", "warntime takes a number from 0 to 1440"},
        {"diskmontime=5", "diskmontime takes a number from 15 to"},
        {"diskmontime=-3", "diskmontime takes a number from 15 to"},
        {"netmon=-1", "netmon takes a number from 0 to 2147483647, not -1"},
        {"warnmsg=%u has %x left", "warnmsg: unknown placeholder \"%x\" (known: %sr %er %u %a %w %m %l)"},
        {"rangemsg=from %sx", "rangemsg: unknown placeholder \"%sx\""},
        {"warnmsg=%d minutes", "unknown placeholder \"%d\""},
        {"logoutmsg=+%g", "logoutmsg: unknown placeholder \"%g\""},
        {"grantmsg=%g%M", "grantmsg: unknown placeholder \"%M\" (known: %sr %er %u %a %w %m %l %g)"},
        {"keeplimit=0", "keeplimit is given twice"},
    };
    for (const Case& c : cases) {
        SettingsEdit edit = applySettings(Value(), {"keeplimit=1", c.assignment});
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
    EXPECT_NE(shown.str().find("diskmsg      \"%u, your home folder is over its disk quota.\"\n"), std::string::npos)
        << shown.str();
    EXPECT_NE(shown.str().find("keeplimit    (not set)\n"), std::string::npos) << shown.str();

    Outcome<Json> json = settingsJson(config_);
    ASSERT_FALSE(json.error) << json.error->line;
    EXPECT_EQ((*json.value)["status"], 1);
    EXPECT_EQ((*json.value)["warntime"], 7);
    EXPECT_EQ((*json.value)["logoutmsg"], "Bye");
    EXPECT_EQ((*json.value)["diskmsg"], "%u, your home folder is over its disk quota.");
    EXPECT_FALSE(json.value->contains("keeplimit"));
}

TEST_F(SettingsCommandTest, NothingIsInstalledWhenTheRequestOrTheFileIsBad) {
    std::ostringstream out, err;
    EXPECT_EQ(settingsJson(config_).value, Json::object());
    EXPECT_NE(runSettingsSet(config_, {"bogus=1"}, installer(), out, err), 0);
    std::optional<CommandError> bogus = changeSettings(config_, {"bogus=1"}, installer(), out);
    ASSERT_TRUE(bogus);
    EXPECT_EQ(bogus->kind, CommandError::Kind::Invalid);
    EXPECT_EQ(bogus->line + "\n", err.str());
    EXPECT_EQ(installs_, 0);

    std::ofstream(config_.settingsFile) << "this is no property list";
    std::ostringstream err2;
    EXPECT_NE(runSettingsSet(config_, {"status=1"}, installer(), out, err2), 0);
    EXPECT_EQ(installs_, 0);
    EXPECT_NE(err2.str().find("not changed; horavelctl settings reset writes a fresh file"), std::string::npos)
        << err2.str();
    std::optional<CommandError> corrupt = changeSettings(config_, {"status=1"}, installer(), out);
    ASSERT_TRUE(corrupt);
    EXPECT_EQ(corrupt->kind, CommandError::Kind::Failed);
    ASSERT_TRUE(settingsJson(config_).error);
    EXPECT_EQ(settingsJson(config_).error->kind, CommandError::Kind::Failed);

    // The corrupt file is repaired by a reset, after which set works on it again.
    ASSERT_EQ(runSettingsReset(config_, installer(), out, err2), 0) << err2.str();
    EXPECT_EQ(fileContents(), defaultSettings());
    EXPECT_EQ(runSettingsSet(config_, {"warntime=9"}, installer(), out, err2), 0) << err2.str();
    EXPECT_EQ(fileContents()["warntime"].intValue(), 9);
    EXPECT_EQ(fileContents()["status"].intValue(), 1);

    std::ofstream(config_.settingsFile) << "this is no property list";
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
