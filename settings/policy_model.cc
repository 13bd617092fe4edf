#include "settings/policy_model.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>

namespace hv::settings {

namespace {

// The days a day key of the policy names: one day, a group, or none for an unknown key.
QList<int> daysOf(const QString& key) {
    if (key == QLatin1String("all")) return {0, 1, 2, 3, 4, 5, 6};
    if (key == QLatin1String("weekdays")) return {0, 1, 2, 3, 4};
    if (key == QLatin1String("weekend")) return {5, 6};
    for (int d = 0; d < kDays; ++d) {
        if (key == QLatin1String(kDayKeys[d])) return {d};
    }
    return {};
}

// How specific a key is: a day overrides its group, a group overrides "all".
int rank(const QString& key) {
    if (key == QLatin1String("all")) return 0;
    if (key == QLatin1String("weekdays") || key == QLatin1String("weekend")) return 1;
    return 2;
}

std::optional<PerDay> readPerDay(const QJsonValue& value, const QString& where, QString* error) {
    PerDay out{};
    if (value.isDouble()) {
        out.fill(value.toInt());
        return out;
    }
    if (!value.isObject()) {
        *error = where + QStringLiteral(": a number or an object of days");
        return std::nullopt;
    }
    PerDay ranks{};
    ranks.fill(-1);
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QList<int> days = daysOf(it.key());
        if (days.isEmpty() || !it.value().isDouble()) {
            *error = where + QStringLiteral(": unknown day or value \"") + it.key() + QLatin1Char('"');
            return std::nullopt;
        }
        for (int d : days) {
            if (rank(it.key()) > ranks[d]) {
                ranks[d] = rank(it.key());
                out[d] = it.value().toInt();
            }
        }
    }
    return out;
}

std::optional<int> parseMinute(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 2 || parts[1].size() != 2) return std::nullopt;
    bool okH = false;
    bool okM = false;
    const int h = parts[0].toInt(&okH);
    const int m = parts[1].toInt(&okM);
    if (!okH || !okM || h < 0 || h > 23 || m < 0 || m > 59) return std::nullopt;
    return h * 60 + m;
}

std::optional<DayRanges> readRanges(const QJsonValue& value, const QString& where, QString* error) {
    DayRanges out;
    if (!value.isArray()) {
        *error = where + QStringLiteral(": a list of ranges");
        return std::nullopt;
    }
    const QJsonArray list = value.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject entry = list[i].toObject();
        const QList<int> days = daysOf(entry.value(QLatin1String("day")).toString());
        const auto start = parseMinute(entry.value(QLatin1String("start")).toString());
        const auto end = parseMinute(entry.value(QLatin1String("end")).toString());
        if (days.isEmpty() || !start || !end) {
            *error = QStringLiteral("%1[%2]: a day, a start and an end are needed").arg(where).arg(i);
            return std::nullopt;
        }
        for (int d : days) out[d].append(Range{*start, *end});
    }
    for (auto& day : out) {
        std::sort(day.begin(), day.end(), [](const Range& a, const Range& b) { return a.start < b.start; });
    }
    return out;
}

// The shortest JSON for one value per day: a number when all agree, else an object that uses the
// groups where their days agree.
QJsonValue writePerDay(const PerDay& values) {
    if (std::all_of(values.begin(), values.end(), [&](int v) { return v == values[0]; })) return values[0];
    QJsonObject object;
    if (std::all_of(values.begin(), values.begin() + 5, [&](int v) { return v == values[0]; })) {
        object.insert(QLatin1String("weekdays"), values[0]);
    } else {
        for (int d = 0; d < 5; ++d) object.insert(QLatin1String(kDayKeys[d]), values[d]);
    }
    if (values[5] == values[6]) {
        object.insert(QLatin1String("weekend"), values[5]);
    } else {
        object.insert(QLatin1String(kDayKeys[5]), values[5]);
        object.insert(QLatin1String(kDayKeys[6]), values[6]);
    }
    return object;
}

void appendRanges(QJsonArray* out, const char* day, const QList<Range>& ranges) {
    for (const Range& r : ranges) {
        out->append(QJsonObject{{QLatin1String("day"), QLatin1String(day)},
                                {QLatin1String("start"), minuteText(r.start)},
                                {QLatin1String("end"), minuteText(r.end)}});
    }
}

// Ranges grouped the same way: "all" when every day has the same, else "weekdays"/"weekend" where
// their days agree, else one entry per day.
QJsonArray writeRanges(const DayRanges& days) {
    QJsonArray out;
    auto same = [&](int from, int to) {
        return std::all_of(days.begin() + from, days.begin() + to, [&](const QList<Range>& r) { return r == days[from]; });
    };
    if (same(0, kDays)) {
        appendRanges(&out, "all", days[0]);
        return out;
    }
    if (same(0, 5)) {
        appendRanges(&out, "weekdays", days[0]);
    } else {
        for (int d = 0; d < 5; ++d) appendRanges(&out, kDayKeys[d], days[d]);
    }
    if (same(5, kDays)) {
        appendRanges(&out, "weekend", days[5]);
    } else {
        for (int d = 5; d < kDays; ++d) appendRanges(&out, kDayKeys[d], days[d]);
    }
    return out;
}

}  // namespace

QString minuteText(int minute) {
    return QStringLiteral("%1:%2").arg(minute / 60, 2, 10, QLatin1Char('0')).arg(minute % 60, 2, 10, QLatin1Char('0'));
}

std::optional<Policy> Policy::fromJson(const QByteArray& json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("the policy is not a JSON object: ") + parseError.errorString();
        return std::nullopt;
    }
    Policy policy;
    policy.original = document.object();
    const QJsonObject& o = policy.original;
    if (o.contains(QLatin1String("allowance"))) {
        auto allowance = readPerDay(o.value(QLatin1String("allowance")), QStringLiteral("allowance"), error);
        if (!allowance) return std::nullopt;
        policy.allowance = *allowance;
    }
    for (auto [key, target] : {std::pair{"ranges", &policy.ranges}, std::pair{"network", &policy.network}}) {
        if (!o.contains(QLatin1String(key))) continue;
        auto ranges = readRanges(o.value(QLatin1String(key)), QLatin1String(key), error);
        if (!ranges) return std::nullopt;
        *target = *ranges;
    }
    const QJsonArray apps = o.value(QLatin1String("apps")).toArray();
    for (qsizetype i = 0; i < apps.size(); ++i) {
        const QJsonObject entry = apps[i].toObject();
        auto minutes = readPerDay(entry.value(QLatin1String("minutes")), QStringLiteral("apps[%1]").arg(i), error);
        if (!minutes) return std::nullopt;
        // The service gives the names as the store keeps them, "firefox.app"; the pages show and
        // compare the process name, which is also what the service takes back.
        QString name = entry.value(QLatin1String("name")).toString();
        if (name.endsWith(QLatin1String(".app"))) name.chop(4);
        policy.apps.append(App{name, *minutes});
    }
    if (o.contains(QLatin1String("quota_mb"))) policy.quotaMb = o.value(QLatin1String("quota_mb")).toInt();

    policy.originalAllowance = policy.allowance;
    policy.originalRanges = policy.ranges;
    policy.originalNetwork = policy.network;
    policy.originalApps = policy.apps;
    policy.originalQuota = policy.quotaMb;
    return policy;
}

QByteArray Policy::toJson() const {
    QJsonObject out = original;
    if (allowance != originalAllowance) out.insert(QLatin1String("allowance"), writePerDay(allowance));
    if (ranges != originalRanges) out.insert(QLatin1String("ranges"), writeRanges(ranges));
    if (network != originalNetwork) out.insert(QLatin1String("network"), writeRanges(network));
    if (apps != originalApps) {
        QJsonArray list;
        for (const App& app : apps) {
            list.append(QJsonObject{{QLatin1String("name"), app.name}, {QLatin1String("minutes"), writePerDay(app.minutes)}});
        }
        out.insert(QLatin1String("apps"), list);
    }
    if (quotaMb != originalQuota) {
        if (quotaMb) {
            out.insert(QLatin1String("quota_mb"), *quotaMb);
        } else {
            out.remove(QLatin1String("quota_mb"));
        }
    }
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

QString Policy::script() const {
    return original.value(QLatin1String("script")).toString();
}

}  // namespace hv::settings
