#include "platform/linux/console_watch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/test_dir.h"

namespace hv {
namespace {

void put(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

void putRenamed(const std::string& path, const std::string& content) {
    put(path + ".new", content);
    std::filesystem::rename(path + ".new", path);
}

// Each case changes something (or nothing) after the watch has settled, and says whether the
// next call is to report a change; the call after that, with nothing changed, must not. Each runs
// twice: with the watch reading its events itself, and followed by a loop that hands them over.
TEST(ConsoleWatch, ReportsEachChangeOfTheRecordsOnceAndNothingElse) {
    struct Case {
        const char* what;
        std::function<void(const TestDir&)> change;
        bool reported;
    } cases[] = {
        {"nothing", [](const TestDir&) {}, false},
        {"seat renamed into place", [](const TestDir& d) { putRenamed(d.file("seats/seat0"), "ACTIVE=3\n"); }, true},
        {"session written in place", [](const TestDir& d) { put(d.file("sessions/3"), "CLASS=greeter\n"); }, true},
        {"session removed", [](const TestDir& d) { std::filesystem::remove(d.file("sessions/2")); }, true},
        {"user database replaced", [](const TestDir& d) { putRenamed(d.file("passwd"), "kid:x:1001:1001::/:/bin/sh\n"); },
         true},
        {"user database written in place", [](const TestDir& d) { put(d.file("passwd"), "kid:x:1002:1002::/home:/bin/sh\n"); },
         true},
        {"user database removed", [](const TestDir& d) { std::filesystem::remove(d.file("passwd")); }, true},
        {"another file beside the user database", [](const TestDir& d) { put(d.file("group"), "kid:x:1001:\n"); },
         false},
        {"a file read", [](const TestDir& d) { std::ifstream(d.file("seats/seat0")).get(); }, false},
    };
    for (const bool followed : {false, true}) {
    for (const Case& c : cases) {
        SCOPED_TRACE(followed ? "followed" : "reading itself");
        TestDir dir;
        std::filesystem::create_directory(dir.file("seats"));
        std::filesystem::create_directory(dir.file("sessions"));
        put(dir.file("seats/seat0"), "ACTIVE=2\n");
        put(dir.file("sessions/2"), "CLASS=user\n");
        put(dir.file("passwd"), "kid:x:1000:1000::/:/bin/sh\n");
        ConsoleWatch watch({dir.file("seats"), dir.file("sessions"), dir.file("passwd")});
        if (followed) {
            ASSERT_GE(watch.follow(), 0);
        }
        // Unfollowed, taking events (as after a sleep) must leave them to changed().
        const auto ask = [&] {
            watch.takeEvents();
            return watch.changed();
        };
        EXPECT_TRUE(ask()) << c.what << ": the first call";
        EXPECT_FALSE(ask()) << c.what << ": settled";
        c.change(dir);
        // Followed, it looks at nothing itself until the loop hands the events over.
        if (followed) {
            EXPECT_FALSE(watch.changed()) << c.what << ": before the events are taken";
        }
        EXPECT_EQ(ask(), c.reported) << c.what;
        EXPECT_FALSE(ask()) << c.what << ": once only";
    }
    }
}

// Without a watch on a directory (logind not started yet, or its directory replaced) every call
// reports a change, until the directory can be watched again.
TEST(ConsoleWatch, ADirectoryItCannotWatchIsReadAfreshEveryTime) {
    TestDir dir;
    std::filesystem::create_directory(dir.file("sessions"));
    ConsoleWatch watch({dir.file("seats"), dir.file("sessions"), dir.file("passwd")});
    EXPECT_TRUE(watch.changed());
    EXPECT_TRUE(watch.changed());
    std::filesystem::create_directory(dir.file("seats"));
    EXPECT_TRUE(watch.changed());
    EXPECT_FALSE(watch.changed());
    std::filesystem::remove(dir.file("seats"));
    EXPECT_TRUE(watch.changed());
    EXPECT_TRUE(watch.changed());
    std::filesystem::create_directory(dir.file("seats"));
    putRenamed(dir.file("seats/seat0"), "ACTIVE=3\n");
    EXPECT_TRUE(watch.changed());
    EXPECT_FALSE(watch.changed());
}

}  // namespace
}  // namespace hv
