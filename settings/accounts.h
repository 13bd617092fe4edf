#pragma once

// The accounts the admin service lists (ListAccounts): managed ones with today's figures, and the
// ordinary accounts that could be.

#include <QList>
#include <QString>

namespace hv::settings {

struct Account {
    QString name;
    qint64 uid = 0;
    bool managed = false;
    int used = 0;       // minutes used today
    int allowance = 0;  // today's allowance in minutes; 0 = no limit today
    int granted = 0;    // minutes given today (negative when taken)
};

// The accounts of ListAccounts' JSON array, in its order; entries without a name are skipped and
// an answer that is not an array gives none.
QList<Account> parseAccounts(const QByteArray& json);

}  // namespace hv::settings
