#include "settings/accounts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace hv::settings {

QList<Account> parseAccounts(const QByteArray& json) {
    QList<Account> out;
    for (const QJsonValue& value : QJsonDocument::fromJson(json).array()) {
        const QJsonObject o = value.toObject();
        Account account;
        account.name = o.value(QLatin1String("name")).toString();
        if (account.name.isEmpty()) continue;
        account.uid = o.value(QLatin1String("uid")).toInteger();
        account.managed = o.value(QLatin1String("managed")).toBool();
        const QJsonObject today = o.value(QLatin1String("today")).toObject();
        account.used = today.value(QLatin1String("used")).toInt();
        account.allowance = today.value(QLatin1String("allowance")).toInt();
        account.granted = today.value(QLatin1String("granted")).toInt();
        out.append(account);
    }
    return out;
}

}  // namespace hv::settings
