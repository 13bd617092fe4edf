#pragma once

// Test support for the Monitor: a FakeSystem in UTC, policy files and settings planted in its
// in-memory file system, and helpers to run ticks and read back what the daemon wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/table_element.h"
#include "daemon/monitor.h"
#include "foundation/calendar_date.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/scoped_time_zone.h"

namespace hv::test {

// Unix time of a UTC wall-clock moment.
inline double utc(int year, int month, int day, int hour, int minute, int second = 0) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<double>(timegm(&t));
}

// A limit record allowing `minutes` on every weekday, with a stored usage and date.
inline std::shared_ptr<TableElement> limitRecord(int32_t minutes, std::optional<int32_t> usage = {},
                                                 std::optional<double> stamped = {}) {
    auto record = std::make_shared<TableElement>();
    record->setUser("kid");
    for (int day = 0; day < 7; ++day) {
        const Value v = Value::integer(minutes, 'i');
        switch (day) {
            case 0: record->setSunday(v); break;
            case 1: record->setMonday(v); break;
            case 2: record->setTuesday(v); break;
            case 3: record->setWednesday(v); break;
            case 4: record->setThursday(v); break;
            case 5: record->setFriday(v); break;
            default: record->setSaturday(v); break;
        }
    }
    record->setUsage(usage ? Value::integer(*usage, 'i') : Value());
    if (stamped) {
        record->setDate(CalendarDate(*stamped).toValue());
    }
    return record;
}

inline Array listOf(const std::vector<std::shared_ptr<TableElement>>& records) {
    Array list;
    for (const auto& r : records) list.emplace_back(std::shared_ptr<Object>(r));
    return list;
}

class MonitorTest : public ::testing::Test {
protected:
    // 2026-12-06 is a Sunday.
    static constexpr int kYear = 2026, kMonth = 12, kDay = 6;

    MonitorTest() : zone_("UTC") {
        static const bool registered = (registerTableElement(), true);
        (void)registered;
        sys.setTime(utc(kYear, kMonth, kDay, 10, 0));
    }

    std::string policyPath(const std::string& name = "kid") const { return config.policyPath(name); }

    // A policy file in the account's home. One that root alone could have written is the
    // administrator's, installed as horavelset does: in the store too.
    void plantPolicy(const Array& list, const std::string& name = "kid", uid_t owner = 0,
                     mode_t mode = S_IFREG | 0644) {
        const std::optional<std::string> bytes = keyedArchive(Value(list));
        ASSERT_TRUE(bytes.has_value());
        sys.files[policyPath(name)] = FakeFile{*bytes, mode, owner};
        if (writableOnlyByRoot(FileInfo{owner, mode})) plantStore(list, name);
    }

    // The account's entry in the root-held store, as root writes it.
    void plantStore(const Array& list, const std::string& name = "kid") {
        const std::optional<std::string> bytes = keyedArchive(Value(list));
        ASSERT_TRUE(bytes.has_value());
        sys.files[config.storePolicyPath(name)] = FakeFile{*bytes, S_IFREG | 0600, 0};
    }

    void plantSettings(Dictionary dict) {
        const std::optional<std::string> bytes = writeXmlPropertyList(Value(std::move(dict)));
        ASSERT_TRUE(bytes.has_value());
        sys.files[config.settingsFile] = FakeFile{*bytes, S_IFREG | 0644, 0};
    }

    // Settings with monitoring and publishing on and the given extra keys.
    void plantRunningSettings(Dictionary extra = {}) {
        Dictionary dict = {{"status", Value::integer(1)},
                           {"showremain", Value::integer(1)},
                           {"warntime", Value::integer(5)},
                           {"warnmsg", "%m minutes left"},
                           {"logoutmsg", "time is up, %u"}};
        for (auto& kv : extra) dict.push_back(std::move(kv));
        plantSettings(std::move(dict));
    }

    // The policy list saved in the fake file system for `name` (its home file, unless another
    // path is given).
    std::vector<std::shared_ptr<TableElement>> savedPolicy(const std::string& name = "kid",
                                                           std::optional<std::string> path = {}) {
        std::vector<std::shared_ptr<TableElement>> records;
        const DecodeResult decoded = keyedUnarchive(sys.contents(path.value_or(policyPath(name))));
        EXPECT_TRUE(decoded.ok());
        if (const Array* list = decoded.value.array()) {
            for (size_t i = 0; i < list->size(); ++i) records.push_back(recordAt(*list, i));
        }
        return records;
    }

    // Creates the Monitor on first use (its timers live in `sys` as long as the test), then loads
    // settings and policy as start-up does. Later calls only reload, like SIGUSR1 and SIGHUP.
    Monitor& start() {
        if (!monitor) monitor = std::make_unique<Monitor>(sys, config);
        monitor->loadUserStatus();
        monitor->loadUserData();
        return *monitor;
    }

    // The daemon restarted: a new Monitor, knowing nothing of the old one's memory, on the same
    // system (its files, clock and console).
    void restart() {
        monitor.reset();
        sys.endProcess();
    }

    // One tick of the real timer.
    void tick() { sys.advance(kTickInterval); }

    // Ticks until `done` holds; fails the test after `limit` ticks.
    void tickUntil(const std::function<bool()>& done, int limit = 2000) {
        for (int i = 0; i < limit; ++i) {
            if (done()) return;
            tick();
        }
        FAIL() << "condition not reached in " << limit << " ticks";
    }

    std::vector<std::string> logLines() const { return sys.appendedLines(config.logFile); }
    // The log lines without their 24-character stamp and blank.
    std::vector<std::string> logMessages() const {
        std::vector<std::string> messages;
        for (const std::string& line : logLines()) messages.push_back(line.substr(25));
        return messages;
    }
    size_t countWrites(const std::string& path) const {
        return static_cast<size_t>(std::count(sys.atomicWrites.begin(), sys.atomicWrites.end(), path));
    }
    size_t countLog(const std::string& message) const {
        size_t n = 0;
        for (const std::string& m : logMessages()) n += (m == message);
        return n;
    }

    ScopedTimeZone zone_;
    FakeSystem sys;
    Config config;
    std::unique_ptr<Monitor> monitor;
};

}  // namespace hv::test
