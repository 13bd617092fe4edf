#include "menubar/tray_wait.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include "menubar/test_application.h"

namespace hv::menu {
namespace {

struct Outcome {
    int ready = 0;
    int timedOut = 0;
    int checks = 0;
};

// Runs a wait whose host appears at the given check (0: never) until it gives its answer.
Outcome runWait(int hostAtCheck, int maxChecks) {
    testing::application();
    Outcome outcome;
    TrayWaitOptions options;
    options.intervalMs = 0;
    options.maxChecks = maxChecks;
    options.available = [&outcome, hostAtCheck] { return ++outcome.checks == hostAtCheck; };
    TrayWait wait(options);
    QEventLoop loop;
    QObject::connect(&wait, &TrayWait::ready, [&] { ++outcome.ready; });
    QObject::connect(&wait, &TrayWait::timedOut, [&] { ++outcome.timedOut; });
    QObject::connect(&wait, &TrayWait::ready, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QObject::connect(&wait, &TrayWait::timedOut, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    wait.start();
    EXPECT_EQ(outcome.checks, 0) << "checks belong to the event loop";
    loop.exec();
    // Let any further check that was wrongly scheduled run before counting.
    QCoreApplication::processEvents();
    return outcome;
}

TEST(TrayWaitTest, ReadyOnceTheHostAppears) {
    struct Case {
        int hostAt;
        int maxChecks;
        Outcome expected;
    };
    const Case cases[] = {
        {1, 60, {1, 0, 1}},   // already there: no delay
        {4, 60, {1, 0, 4}},   // the panel came up a little later
        {60, 60, {1, 0, 60}}, // just in time
        {0, 60, {0, 1, 60}},  // no tray in this session
        {61, 60, {0, 1, 60}}, // too late
    };
    for (const Case& c : cases) {
        Outcome got = runWait(c.hostAt, c.maxChecks);
        SCOPED_TRACE(::testing::Message() << "host at check " << c.hostAt);
        EXPECT_EQ(got.ready, c.expected.ready);
        EXPECT_EQ(got.timedOut, c.expected.timedOut);
        EXPECT_EQ(got.checks, c.expected.checks);
    }
}

}  // namespace
}  // namespace hv::menu
