#include "menubar/tray_wait.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <string>
#include <vector>

#include "menubar/test_application.h"

namespace hv::menu {
namespace {

// Runs a watch for `checks` checks over a host that is there exactly at the checks in `hostAt`
// (counting from 1), and returns what it emitted, as "appeared@N" and "vanished@N".
std::vector<std::string> runWatch(const std::vector<std::pair<int, int>>& hostAt, int checks) {
    testing::application();
    std::vector<std::string> emitted;
    int done = 0;
    QEventLoop loop;
    TrayWaitOptions options;
    options.intervalMs = 0;
    options.available = [&] {
        ++done;
        if (done == checks) QTimer::singleShot(0, &loop, &QEventLoop::quit);
        // Checks that slip in before the loop quits see the host as the last one did.
        const int at = std::min(done, checks);
        for (const auto& [from, to] : hostAt) {
            if (from <= at && at <= to) return true;
        }
        return false;
    };
    TrayWait wait(options);
    QObject::connect(&wait, &TrayWait::appeared, [&] { emitted.push_back("appeared@" + std::to_string(done)); });
    QObject::connect(&wait, &TrayWait::vanished, [&] { emitted.push_back("vanished@" + std::to_string(done)); });
    wait.start();
    EXPECT_EQ(done, 0) << "checks belong to the event loop";
    loop.exec();
    return emitted;
}

// The panel may come late, go away and come back at any time of the session: the watch never
// gives up, and says each change once.
TEST(TrayWaitTest, FollowsTheHostForTheWholeSession) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> hostAt;
        std::vector<std::string> emitted;
    };
    const Case cases[] = {
        {"already there", {{1, 500}}, {"appeared@1"}},
        {"never there", {}, {}},
        {"long after the old 60 checks", {{400, 500}}, {"appeared@400"}},
        {"gone and back", {{3, 10}, {200, 500}}, {"appeared@3", "vanished@11", "appeared@200"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runWatch(c.hostAt, 500), c.emitted);
    }
}

}  // namespace
}  // namespace hv::menu
