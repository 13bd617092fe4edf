#include "platform/linux/power.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/test_child.h"

namespace hv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A private bus with (optionally) the fake logind on it, and a client connection for the test
// to drive the fake with.
class PrivateBus {
  public:
    PrivateBus() {
        std::string pattern = (fs::temp_directory_path() / "hv-bus-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        std::ofstream(dir_ / "bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration "
               "1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <listen>unix:path="
            << (dir_ / "socket").string()
            << "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow eavesdrop=\"true\"/>\n"
               "    <allow own=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n";
        daemon_ = std::make_unique<TestChild>(std::vector<std::string>{
            "/usr/bin/dbus-daemon", "--config-file=" + (dir_ / "bus.conf").string(), "--nofork",
            "--print-address=1"});
        address_ = daemon_->readLine();
    }
    ~PrivateBus() {
        sd_bus_flush_close_unref(client_);
        logind_.reset();
        daemon_.reset();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    const std::string& address() const { return address_; }

    bool startLogind() {
        logind_ = std::make_unique<TestChild>(std::vector<std::string>{
            "/usr/bin/python3", testSourceFile("power_test_logind.py"), address_});
        if (logind_->readLine() != "ready") return false;
        return sd_bus_new(&client_) >= 0 && sd_bus_set_address(client_, address_.c_str()) >= 0 &&
               sd_bus_set_bus_client(client_, 1) >= 0 && sd_bus_start(client_) >= 0;
    }

    void emit(bool start) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        EXPECT_GE(sd_bus_call_method(client_, "org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.horavel.Test", "Emit", &error, nullptr, "b", start),
                  0)
            << error.message;
        sd_bus_error_free(&error);
    }

    // Locks granted by the fake whose descriptor some client still holds open.
    uint32_t heldLocks() {
        sd_bus_message* reply = nullptr;
        uint32_t held = 999;
        if (sd_bus_call_method(client_, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.horavel.Test", "HeldLocks", nullptr, &reply, "") >= 0) {
            sd_bus_message_read(reply, "u", &held);
        }
        sd_bus_message_unref(reply);
        return held;
    }

    // The unique bus name of the last client that asked the fake for a lock; "" when none.
    std::string lastInhibitor() {
        std::string name;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(client_, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.horavel.Test", "Inhibitors", nullptr, &reply, "") >= 0 &&
            sd_bus_message_enter_container(reply, 'a', "s") >= 0) {
            const char* each = nullptr;
            while (sd_bus_message_read(reply, "s", &each) > 0) name = each;
        }
        sd_bus_message_unref(reply);
        return name;
    }

    // Sends PrepareForSleep from the test's own connection, not logind's, straight to
    // `destination`: what any local account can do on the system bus.
    void forge(const std::string& destination, bool start) {
        sd_bus_message* signal = nullptr;
        ASSERT_GE(sd_bus_message_new_signal(client_, &signal, "/org/freedesktop/login1",
                                            "org.freedesktop.login1.Manager", "PrepareForSleep"),
                  0);
        EXPECT_GE(sd_bus_message_set_destination(signal, destination.c_str()), 0);
        EXPECT_GE(sd_bus_message_append(signal, "b", start), 0);
        EXPECT_GE(sd_bus_send(client_, signal, nullptr), 0);
        sd_bus_message_unref(signal);
    }

    std::vector<std::string> requests() {
        std::vector<std::string> out;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(client_, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.horavel.Test", "Requests", nullptr, &reply, "") < 0) {
            return out;
        }
        if (sd_bus_message_enter_container(reply, 'a', "(ssss)") >= 0) {
            const char *what, *who, *why, *mode;
            while (sd_bus_message_read(reply, "(ssss)", &what, &who, &why, &mode) > 0) {
                out.push_back(std::string(what) + "|" + who + "|" + mode);
            }
        }
        sd_bus_message_unref(reply);
        return out;
    }

  private:
    fs::path dir_;
    std::unique_ptr<TestChild> daemon_;
    std::unique_ptr<TestChild> logind_;
    std::string address_;
    sd_bus* client_ = nullptr;
};

struct EventDeleter {
    void operator()(sd_event* e) const { sd_event_unref(e); }
};
using Event = std::unique_ptr<sd_event, EventDeleter>;

Event newEvent() {
    sd_event* e = nullptr;
    return Event(sd_event_new(&e) >= 0 ? e : nullptr);
}

// Runs the loop until `done` holds, within a bounded time.
template <class Done>
bool runUntil(sd_event* event, Done done) {
    const auto deadline = Clock::now() + kTestPatience;
    while (!done() && Clock::now() < deadline) sd_event_run(event, 100'000);
    return done();
}

TEST(LogindPower, HoldsTheDelayLockAndReleasesItForSleepAndRetakesItOnWake) {
    if (!busToolsPresent()) GTEST_SKIP() << "dbus-daemon or python3-dbus missing";
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    ASSERT_TRUE(bus.startLogind());
    Event event = newEvent();
    ASSERT_TRUE(event);

    std::vector<PowerEvent> seen;
    LogindPower* power = nullptr;
    auto connected = LogindPower::connect(event.get(), bus.address(), [&](PowerEvent e) {
        seen.push_back(e);
        if (e == PowerEvent::WillSleep) power->allowPowerChange();
    });
    ASSERT_TRUE(connected);
    power = connected.get();
    EXPECT_TRUE(power->holdsLock());
    EXPECT_EQ(bus.heldLocks(), 1u);
    EXPECT_EQ(bus.requests(), std::vector<std::string>{"sleep|Horavel|delay"});

    bus.emit(true);
    ASSERT_TRUE(runUntil(event.get(), [&] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<PowerEvent>{PowerEvent::WillSleep});
    EXPECT_FALSE(power->holdsLock());
    EXPECT_EQ(bus.heldLocks(), 0u);

    bus.emit(false);
    ASSERT_TRUE(runUntil(event.get(), [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen.back(), PowerEvent::HasPoweredOn);
    EXPECT_TRUE(power->holdsLock());
    EXPECT_EQ(bus.heldLocks(), 1u);
    EXPECT_EQ(bus.requests().size(), 2u);

    // A second wake while the lock is held takes no second lock.
    bus.emit(false);
    ASSERT_TRUE(runUntil(event.get(), [&] { return seen.size() == 3; }));
    EXPECT_EQ(bus.requests().size(), 2u);

    connected.reset();
    EXPECT_EQ(bus.heldLocks(), 0u);
}

// Any account may send a signal addressed to the daemon alone. A forged "will sleep" would make the
// daemon drop its lock, so that a real sleep no longer waits for it to be recorded, and a forged
// "wake" would time a sleep that never happened; only logind's broadcasts count.
TEST(LogindPower, IgnoresPrepareForSleepAddressedToItByAnotherClient) {
    if (!busToolsPresent()) GTEST_SKIP() << "dbus-daemon or python3-dbus missing";
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    ASSERT_TRUE(bus.startLogind());
    Event event = newEvent();
    ASSERT_TRUE(event);

    std::vector<PowerEvent> seen;
    auto power =
        LogindPower::connect(event.get(), bus.address(), [&](PowerEvent e) { seen.push_back(e); });
    ASSERT_TRUE(power);
    const std::string daemon = bus.lastInhibitor();
    ASSERT_FALSE(daemon.empty());

    // The bus delivers one sender's messages in the order sent, so logind's broadcast, asked
    // for after the forgeries, arrives after them.
    bus.forge(daemon, true);
    bus.forge(daemon, false);
    bus.emit(false);
    ASSERT_TRUE(runUntil(event.get(), [&] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<PowerEvent>{PowerEvent::HasPoweredOn});
    EXPECT_TRUE(power->holdsLock());
    EXPECT_EQ(bus.heldLocks(), 1u);
}

TEST(LogindPower, FailsWithoutABusOrWithoutLogind) {
    if (!busToolsPresent()) GTEST_SKIP() << "dbus-daemon or python3-dbus missing";
    Event event = newEvent();
    ASSERT_TRUE(event);
    const auto ignore = [](PowerEvent) {};
    EXPECT_FALSE(LogindPower::connect(event.get(), "unix:path=/nonexistent/hv-bus", ignore));

    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    EXPECT_FALSE(LogindPower::connect(event.get(), bus.address(), ignore));
}

}  // namespace
}  // namespace hv
