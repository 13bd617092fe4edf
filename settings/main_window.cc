#include "settings/main_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>

#include "settings/account_view.h"
#include "settings/admin_client.h"
#include "settings/settings_page.h"

namespace hv::settings {

MainWindow::MainWindow(AdminClient* c, QWidget* parent)
    : QMainWindow(parent),
      client(c),
      list(new QListWidget(this)),
      stack(new QStackedWidget(this)),
      account(new AccountView(c, this)),
      settings(new SettingsPage(c, this)) {
    setWindowTitle(tr("Horavel parental controls[*]"));
    auto* splitter = new QSplitter(this);
    list->setMinimumWidth(150);
    splitter->addWidget(list);
    stack->addWidget(account);
    stack->addWidget(settings);
    splitter->addWidget(stack);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);
    connect(list, &QListWidget::currentRowChanged, this, &MainWindow::chosen);
    connect(account, &AccountView::dirtyChanged, this, &MainWindow::dirtyChanged);
    connect(settings, &SettingsPage::dirtyChanged, this, &MainWindow::dirtyChanged);
    connect(account, &AccountView::accountChanged, this, &MainWindow::refresh);
    settings->load();
    refresh();
}

void MainWindow::refresh() {
    client->call(
        QStringLiteral("ListAccounts"), {}, this,
        [this](const QVariantList& reply) {
            accounts = parseAccounts(reply.value(0).toString().toUtf8());
            const QSignalBlocker blocker(list);
            list->clear();
            int keep = -1;
            for (int i = 0; i < accounts.size(); ++i) {
                const Account& a = accounts[i];
                auto* item = new QListWidgetItem(a.managed ? a.name : tr("%1 (no limits)").arg(a.name), list);
                if (!a.managed) item->setForeground(palette().color(QPalette::PlaceholderText));
                if (a.name == account->user()) keep = i;
                account->updateAccount(a);
            }
            auto* settingsItem = new QListWidgetItem(tr("Settings"), list);
            QFont bold = settingsItem->font();
            bold.setBold(true);
            settingsItem->setFont(bold);
            if (currentRow == static_cast<int>(accounts.size()) || keep >= 0) {
                currentRow = keep >= 0 ? keep : static_cast<int>(accounts.size());
                list->setCurrentRow(currentRow);
            } else if (!accounts.isEmpty()) {
                list->setCurrentRow(0);
                currentRow = -1;
                chosen(0);
            }
            statusBar()->clearMessage();
        },
        [this](const QString& message) { statusBar()->showMessage(message); });
}

bool MainWindow::selectAccount(const QString& name) {
    for (int i = 0; i < accounts.size(); ++i) {
        if (accounts[i].name == name) {
            list->setCurrentRow(i);
            return true;
        }
    }
    return false;
}

void MainWindow::chosen(int row) {
    if (row < 0 || row == currentRow) return;
    if (!settleChanges()) {
        const QSignalBlocker blocker(list);
        list->setCurrentRow(currentRow);
        return;
    }
    currentRow = row;
    if (row >= accounts.size()) {
        stack->setCurrentWidget(settings);
        return;
    }
    account->setAccount(accounts[row]);
    stack->setCurrentWidget(account);
}

bool MainWindow::settleChanges() {
    const bool accountDirty = account->isDirty();
    const bool settingsDirty = settings->isDirty();
    if (!accountDirty && !settingsDirty) return true;
    const auto answer = QMessageBox::question(this, tr("Unsaved changes"), tr("Save the changes first?"),
                                              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel) return false;
    if (answer == QMessageBox::Save) {
        if (accountDirty) account->save();
        if (settingsDirty) settings->save();
    } else {
        if (accountDirty) account->discard();
        if (settingsDirty) settings->discard();
    }
    return true;
}

void MainWindow::dirtyChanged() {
    setWindowModified(account->isDirty() || settings->isDirty());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (settleChanges()) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace hv::settings
