#pragma once

// Test support for the monitors (time and network ranges, applications, disk, power): policy
// records built in memory and a Monitor whose list is set directly, on the shared MonitorTest
// fixture (a FakeSystem in UTC, where 2026-12-06 is a Sunday).

#include <memory>
#include <string>
#include <vector>

#include "daemon/monitor_fixture.h"

namespace hv::test {

inline void setDay(TableElement& record, int dayOfWeek, Value v) {
    switch (dayOfWeek) {
        case 0:
            record.setSunday(std::move(v));
            break;
        case 1:
            record.setMonday(std::move(v));
            break;
        case 2:
            record.setTuesday(std::move(v));
            break;
        case 3:
            record.setWednesday(std::move(v));
            break;
        case 4:
            record.setThursday(std::move(v));
            break;
        case 5:
            record.setFriday(std::move(v));
            break;
        default:
            record.setSaturday(std::move(v));
            break;
    }
}

// A range record holding `sunday` as Sunday's minute of the day; every other weekday holds a
// different value, so a reading of the wrong weekday shows.
inline std::shared_ptr<TableElement> rangeRecord(int32_t sunday) {
    auto record = std::make_shared<TableElement>();
    record->setMmode("Range");
    for (int day = 1; day < 7; ++day) setDay(*record, day, Value::integer(1439, 'i'));
    setDay(*record, 0, Value::integer(sunday, 'i'));
    return record;
}

// A limit record for "kid" with `ranges` time ranges and `netranges` network ranges.
inline std::shared_ptr<TableElement> rangedLimit(int32_t ranges, int32_t netranges) {
    auto record = limitRecord(0, 0);
    record->setRanges(ranges);
    record->setNetRanges(netranges);
    return record;
}

// An application record allowing `sundayMinutes` on Sunday, with `usage` minutes used.
inline std::shared_ptr<TableElement> appRecord(Value name, Value sundayMinutes, Value usage) {
    auto record = std::make_shared<TableElement>();
    record->setMmode("App");
    record->setUser(std::move(name));
    setDay(*record, 0, std::move(sundayMinutes));
    record->setUsage(std::move(usage));
    return record;
}

inline double sunday(int hour, int minute, int second = 0) {
    return utc(2026, 12, 6, hour, minute, second);
}

class MonitorsTest : public MonitorTest {
  protected:
    // A Monitor for "kid" at the console, with `records` as its policy list, set in memory.
    Monitor& monitorWith(const std::vector<std::shared_ptr<TableElement>>& records) {
        if (!monitor) {
            monitor = std::make_unique<Monitor>(sys, config);
            sys.events.clear();
        }
        if (!sys.session) sys.login("kid");
        monitor->user = "kid";
        monitor->userlist = listOf(records);
        return *monitor;
    }

    // The journal of visible actions without the log appends (monitorLog() has those).
    std::vector<std::string> actionsButLog() const {
        std::vector<std::string> out;
        for (const std::string& e : sys.events) {
            if (e.rfind("append ", 0) != 0) out.push_back(e);
        }
        return out;
    }

    // Lines the monitors logged (start-up's line left out).
    std::vector<std::string> monitorLog() const {
        std::vector<std::string> lines;
        for (const std::string& line : logMessages()) {
            if (line != "initialization complete") lines.push_back(line);
        }
        return lines;
    }
};

}  // namespace hv::test
