#pragma once

// Policy: one account's rules as the settings pages edit them, read from and written back to the
// policy JSON of the admin service (GetPolicy / SetPolicy). Values given per day or per group
// ("weekdays", "weekend", "all") are spread over the seven days for editing. Writing back starts
// from the document that was read: a key whose per-day values are unchanged is written exactly as
// it was, and keys the pages do not show (such as "script") are never touched.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace hv::settings {

// Days in the order the pages show them: Monday first.
inline constexpr int kDays = 7;
inline constexpr std::array<const char*, kDays> kDayKeys{"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

using PerDay = std::array<int, kDays>;

// A range of minutes of the day as the policy holds it: start and end "hh:mm" as minutes.
struct Range {
    int start = 0;
    int end = 0;
    bool operator==(const Range&) const = default;
};
using DayRanges = std::array<QList<Range>, kDays>;

struct App {
    QString name;
    PerDay minutes{};
    bool operator==(const App&) const = default;
};

class Policy {
public:
    // Reads the JSON of GetPolicy. Returns nothing, with a one-line reason in *error, when the text
    // is not a JSON object or a key the pages edit has a shape they cannot show.
    static std::optional<Policy> fromJson(const QByteArray& json, QString* error);

    // The document for SetPolicy: the one read, with each edited key rewritten in its shortest
    // form (one value for every day, "weekdays"/"weekend", or single days).
    QByteArray toJson() const;

    PerDay allowance{};          // minutes per day; 0 = no daily limit that day
    DayRanges ranges;            // times of day the computer may be used, earliest first
    DayRanges network;           // times of day the network is on
    QList<App> apps;             // by process name, without the store's ".app"
    std::optional<int> quotaMb;  // none: no "quota_mb" key

    // Text of keys the pages only show (the quota script), empty when absent.
    QString script() const;

private:
    QJsonObject original;
    PerDay originalAllowance{};
    DayRanges originalRanges;
    DayRanges originalNetwork;
    QList<App> originalApps;
    std::optional<int> originalQuota;
};

// "hh:mm" for a minute of the day.
QString minuteText(int minute);

}  // namespace hv::settings
