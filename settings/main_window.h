#pragma once

// MainWindow: the accounts (ListAccounts) on the left, with "Settings" for the system-wide keys
// below them, and the chosen one's pages on the right. The title carries a marker while anything
// is unsaved; leaving an account or closing the window with unsaved changes asks whether to save
// them, drop them, or stay.

#include <QList>
#include <QMainWindow>

#include "settings/accounts.h"

class QListWidget;
class QStackedWidget;

namespace hv::settings {

class AccountView;
class AdminClient;
class SettingsPage;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(AdminClient* client, QWidget* parent = nullptr);

    // Fetches the accounts again; the chosen one stays chosen.
    void refresh();

    // Chooses the account called `name` in the list, as a click on it would (unsaved changes of
    // the one shown are asked about first, and staying keeps it). False when the list, as last
    // fetched, has no such account.
    bool selectAccount(const QString& name);

    QListWidget* accountList() const { return list; }
    AccountView* accountView() const { return account; }
    SettingsPage* settingsPage() const { return settings; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Asks what to do with unsaved changes; false when the user chose to stay.
    bool settleChanges();
    void chosen(int row);
    void dirtyChanged();

    AdminClient* client;
    QList<Account> accounts;
    QListWidget* list;
    QStackedWidget* stack;
    AccountView* account;
    SettingsPage* settings;
    int currentRow = -1;
};

}  // namespace hv::settings
