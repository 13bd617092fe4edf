#include "pam/login_decision.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <vector>

#include "common/grant.h"
#include "common/table_element.h"
#include "foundation/calendar_date.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "platform/linux/test_dir.h"

namespace hv {
namespace {

// The store, the settings and the homes in a temporary directory; files written by this test's
// own uid, which the decision is told to take as root.
class Store {
  public:
    Store() {
        config.storeRoot = dir.file("store");
        config.settingsFile = dir.file("settings");
        config.homeRoot = dir.file("home");
        std::filesystem::create_directories(config.storeRoot + "/policies");
        std::filesystem::create_directories(config.homeRoot + "/kid");
        registerTableElement();
    }

    static void write(const std::string& path, const std::string& bytes, mode_t mode = 0600) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        ::chmod(path.c_str(), mode);
    }

    // A policy list with `used` of 60 minutes counted now.
    std::string policy(int used) const {
        auto limit = std::make_shared<TableElement>();
        limit->setUser("kid");
        limit->setUsage(Value::integer(used, 'i'));
        for (auto setDay :
             {&TableElement::setMonday, &TableElement::setTuesday, &TableElement::setWednesday,
              &TableElement::setThursday, &TableElement::setFriday, &TableElement::setSaturday,
              &TableElement::setSunday}) {
            ((*limit).*setDay)(Value::integer(60, 'i'));
        }
        limit->setDate(CalendarDate(now).toValue());
        return keyedArchive(Value(Array{Value(std::static_pointer_cast<Object>(limit))})).value();
    }

    void settings(int status, mode_t mode = 0644) const {
        const Dictionary dict = {{"status", Value::integer(status)},
                                 {"keeplimit", Value::integer(1)}};
        write(config.settingsFile, writeXmlPropertyList(Value(dict)).value(), mode);
    }

    std::string entry() const { return config.storePolicyPath("kid"); }
    std::string previous() const { return config.storePreviousPath("kid"); }

    TestDir dir;
    Config config;
    const double now = static_cast<double>(std::time(nullptr));
};

const std::string kTimeUp = "Time is up for today: kid can log in again tomorrow.";

struct StoreCase {
    const char* name;
    std::function<void(Store&)> arrange;
    bool refuse;
    std::vector<std::string> notes;  // a part of each line expected in the system log
};

void PrintTo(const StoreCase& c, std::ostream* os) { *os << c.name; }

class LoginDecisionTest : public ::testing::TestWithParam<StoreCase> {};

TEST_P(LoginDecisionTest, DecidesFromTheStoreAlone) {
    const StoreCase& c = GetParam();
    Store store;
    store.settings(1);
    c.arrange(store);

    const LoginDecision decision = decideLogin(store.config, "kid", store.now, ::getuid());

    EXPECT_EQ(decision.refuse, c.refuse);
    EXPECT_EQ(decision.message, c.refuse ? kTimeUp : "");
    ASSERT_EQ(decision.notes.size(), c.notes.size());
    for (size_t i = 0; i < c.notes.size(); ++i) {
        EXPECT_NE(decision.notes[i].find(c.notes[i]), std::string::npos) << decision.notes[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoginDecisionTest,
    ::testing::Values(
        StoreCase{"unmanaged: the home file is never read",
                  [](Store& s) { Store::write(s.config.policyPath("kid"), s.policy(60), 0644); },
                  false,
                  {}},
        StoreCase{"time used up",
                  [](Store& s) { Store::write(s.entry(), s.policy(60)); },
                  true,
                  {"login of kid refused: " + kTimeUp}},
        StoreCase{"time left", [](Store& s) { Store::write(s.entry(), s.policy(59)); }, false, {}},
        StoreCase{"time used up, more given today",
                  [](Store& s) {
                      Store::write(s.entry(), s.policy(60));
                      std::filesystem::create_directories(s.config.storeRoot + "/grants");
                      Store::write(s.config.storeGrantPath("kid"), formatGrant(Grant{localDay(s.now), 5}));
                  },
                  false,
                  {}},
        StoreCase{"time left, all of it taken away today",
                  [](Store& s) {
                      Store::write(s.entry(), s.policy(0));
                      std::filesystem::create_directories(s.config.storeRoot + "/grants");
                      Store::write(s.config.storeGrantPath("kid"), formatGrant(Grant{localDay(s.now), -60}));
                  },
                  true,
                  {"login of kid refused"}},
        StoreCase{"time used up, a grant the child could write",
                  [](Store& s) {
                      Store::write(s.entry(), s.policy(60));
                      std::filesystem::create_directories(s.config.storeRoot + "/grants");
                      Store::write(s.config.storeGrantPath("kid"), formatGrant(Grant{localDay(s.now), 5}), 0666);
                  },
                  true,
                  {"login of kid refused"}},
        StoreCase{"corrupt entry, good previous copy",
                  [](Store& s) {
                      Store::write(s.entry(), "bplist00 garbage");
                      Store::write(s.previous(), s.policy(60));
                  },
                  true,
                  {"kid.horavel cannot be used", "login of kid refused"}},
        StoreCase{"corrupt entry, corrupt previous copy",
                  [](Store& s) {
                      Store::write(s.entry(), "bplist00 garbage");
                      Store::write(s.previous(), "");
                  },
                  false,
                  {"nor its previous copy"}},
        StoreCase{"no entry, only its previous copy",
                  [](Store& s) { Store::write(s.previous(), s.policy(60)); },
                  true,
                  {"kid.horavel cannot be used", "login of kid refused"}},
        StoreCase{"corrupt entry, no previous copy",
                  [](Store& s) { Store::write(s.entry(), "bplist00 garbage"); },
                  false,
                  {"login of kid allowed"}},
        StoreCase{
            "a list of something else",
            [](Store& s) { Store::write(s.entry(), keyedArchive(Value(Array{"kid"})).value()); },
            false,
            {"element 0 is not a policy record"}},
        StoreCase{"entry is a link",
                  [](Store& s) {
                      Store::write(s.dir.file("elsewhere"), s.policy(60));
                      std::filesystem::create_symlink(s.dir.file("elsewhere"), s.entry());
                  },
                  false,
                  {"is a symbolic link"}},
        StoreCase{"entry writable by others",
                  [](Store& s) { Store::write(s.entry(), s.policy(60), 0666); },
                  false,
                  {"writable only by root"}},
        StoreCase{"monitoring off",
                  [](Store& s) {
                      Store::write(s.entry(), s.policy(60));
                      s.settings(0);
                  },
                  false,
                  {}},
        StoreCase{"no settings file",
                  [](Store& s) {
                      Store::write(s.entry(), s.policy(60));
                      std::filesystem::remove(s.config.settingsFile);
                  },
                  false,
                  {}},
        StoreCase{"settings writable by others",
                  [](Store& s) {
                      Store::write(s.entry(), s.policy(60));
                      s.settings(1, 0666);
                  },
                  false,
                  {"settings file"}}),
    [](const ::testing::TestParamInfo<StoreCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(LoginDecision, ANameThatLeavesTheStoreIsNotManaged) {
    Store store;
    store.settings(1);
    Store::write(store.config.storeRoot + "/kid.horavel", store.policy(60));
    EXPECT_FALSE(decideLogin(store.config, "../kid", store.now, ::getuid()).refuse);
    EXPECT_FALSE(decideLogin(store.config, "", store.now, ::getuid()).refuse);
}

TEST(LoginDecision, FilesOfAnotherOwnerAreNotUsed) {
    Store store;
    store.settings(1);
    Store::write(store.entry(), store.policy(60));
    // Decided as if root had to own them: this test's files belong to someone else (unless the
    // test runs as root, when another owner stands in).
    const uid_t other = ::getuid() == 0 ? 4242 : 0;
    const LoginDecision decision = decideLogin(store.config, "kid", store.now, other);
    EXPECT_FALSE(decision.refuse);
    ASSERT_FALSE(decision.notes.empty());
    EXPECT_NE(decision.notes[0].find("writable only by root"), std::string::npos);
}

}  // namespace
}  // namespace hv
