#pragma once

// AccountView: the pages of one account. A managed account's policy is fetched (GetPolicy), edited
// by the policy pages and installed with Save (SetPolicy); Discard goes back to what was fetched.
// An account that is not managed yet offers "Limit this account", which starts an unsaved policy
// with an hour a day on school days and two at the weekend. Messages and the service's refusals are
// shown under the pages.

#include <QWidget>

#include <optional>

#include "settings/accounts.h"
#include "settings/policy_model.h"

class QLabel;
class QPushButton;
class QStackedWidget;
class QTabWidget;

namespace hv::settings {

class AdminClient;
class AllowancePage;
class AppsPage;
class DiskPage;
class HistoryPage;
class HoursPage;
class PolicyPage;
class TodayPage;

// The policy a newly limited account starts with.
inline constexpr const char* kDefaultPolicy = R"({"allowance":{"weekdays":60,"weekend":120}})";

class AccountView : public QWidget {
    Q_OBJECT

public:
    AccountView(AdminClient* client, QWidget* parent = nullptr);

    // Shows `account`, fetching its policy when it is managed; unsaved changes are dropped.
    void setAccount(const Account& account);
    // Today's figures changed; the policy being edited is kept.
    void updateAccount(const Account& account);
    const QString& user() const { return account.name; }

    bool isDirty() const;
    void save();
    void discard();

    QTabWidget* tabs() const { return pages; }
    TodayPage* todayPage() const { return today; }
    HoursPage* hoursPage() const { return hours; }
    AllowancePage* allowancePage() const { return allowance; }
    AppsPage* appsPage() const { return apps; }
    HistoryPage* historyPage() const { return history; }
    QPushButton* limitButton() const { return limit; }
    QLabel* message() const { return status; }

signals:
    void dirtyChanged(bool dirty);
    // The service changed something about the account: the list should be fetched again.
    void accountChanged();

private:
    void showPolicy(const QByteArray& json, bool saved);
    void edited();
    void removeLimits();
    void showMessage(const QString& text, bool error);

    AdminClient* client;
    Account account;
    std::optional<Policy> policy;
    QByteArray savedJson;  // the document as fetched; empty for a policy not installed yet
    QLabel* heading;
    QStackedWidget* stack;
    QLabel* waiting;
    QWidget* unmanaged;
    QPushButton* limit;
    QTabWidget* pages;
    TodayPage* today;
    AllowancePage* allowance;
    HoursPage* hours;
    AppsPage* apps;
    DiskPage* disk;
    HistoryPage* history;
    QList<PolicyPage*> policyPages;
    QLabel* status;
    QPushButton* removeButton;
    QPushButton* saveButton;
    QPushButton* discardButton;
};

}  // namespace hv::settings
