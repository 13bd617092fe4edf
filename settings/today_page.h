#pragma once

// TodayPage: one managed account's day: minutes used, left and given, buttons that give or take
// minutes (Grant) and one that ends the account's sessions now (Logout). Calls go to the admin
// service; done() follows each success so that the figures can be fetched again, failed(message)
// each failure.

#include <QWidget>

#include "settings/accounts.h"

class QLabel;
class QPushButton;

namespace hv::settings {

class AdminClient;

class TodayPage : public QWidget {
    Q_OBJECT

public:
    TodayPage(AdminClient* client, QWidget* parent = nullptr);
    void setAccount(const Account& account);

    // The button that sends Grant(user, minutes), for minutes 15, 30 and -15.
    QPushButton* grantButton(int minutes) const;

signals:
    void done(const QString& message);
    void failed(const QString& message);

private:
    void grant(int minutes);
    void logout();

    AdminClient* client;
    Account account;
    QLabel* allowance;
    QLabel* given;
    QLabel* used;
    QLabel* left;
    QList<QPair<int, QPushButton*>> grants;
};

}  // namespace hv::settings
