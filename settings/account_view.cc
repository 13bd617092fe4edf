#include "settings/account_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "settings/admin_client.h"
#include "settings/history_page.h"
#include "settings/policy_pages.h"
#include "settings/today_page.h"

namespace hv::settings {

AccountView::AccountView(AdminClient* c, QWidget* parent)
    : QWidget(parent),
      client(c),
      heading(new QLabel(this)),
      stack(new QStackedWidget(this)),
      waiting(new QLabel(tr("Fetching the account's rules…"), this)),
      unmanaged(new QWidget(this)),
      limit(new QPushButton(tr("Limit this account"), this)),
      pages(new QTabWidget(this)),
      today(new TodayPage(c, this)),
      allowance(new AllowancePage(this)),
      hours(new HoursPage(this)),
      apps(new AppsPage(this)),
      disk(new DiskPage(this)),
      history(new HistoryPage(c, this)),
      status(new QLabel(this)),
      removeButton(new QPushButton(tr("Remove limits…"), this)),
      saveButton(new QPushButton(tr("Save"), this)),
      discardButton(new QPushButton(tr("Discard"), this)) {
    auto* unmanagedLayout = new QVBoxLayout(unmanaged);
    auto* explanation = new QLabel(tr("This account has no limits. Limiting it starts with one hour a day "
                                      "from Monday to Friday and two hours on Saturday and Sunday; change "
                                      "them on the pages that follow, then save."),
                                   unmanaged);
    explanation->setWordWrap(true);
    unmanagedLayout->addWidget(explanation);
    unmanagedLayout->addWidget(limit, 0, Qt::AlignLeft);
    unmanagedLayout->addStretch();
    stack->addWidget(unmanaged);
    waiting->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    stack->addWidget(waiting);

    pages->addTab(today, tr("Today"));
    pages->addTab(allowance, tr("Allowance"));
    pages->addTab(hours, tr("Hours"));
    pages->addTab(apps, tr("Applications"));
    pages->addTab(disk, tr("Disk"));
    pages->addTab(history, tr("History"));
    stack->addWidget(pages);
    policyPages = {allowance, hours, apps, disk};
    for (PolicyPage* page : policyPages) connect(page, &PolicyPage::edited, this, &AccountView::edited);

    auto* layout = new QVBoxLayout(this);
    QFont big = heading->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    heading->setFont(big);
    layout->addWidget(heading);
    layout->addWidget(stack);
    status->setWordWrap(true);
    layout->addWidget(status);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(removeButton);
    buttons->addStretch();
    buttons->addWidget(discardButton);
    buttons->addWidget(saveButton);
    layout->addLayout(buttons);

    connect(limit, &QPushButton::clicked, this, [this] { showPolicy(kDefaultPolicy, false); });
    connect(saveButton, &QPushButton::clicked, this, &AccountView::save);
    connect(discardButton, &QPushButton::clicked, this, &AccountView::discard);
    connect(removeButton, &QPushButton::clicked, this, &AccountView::removeLimits);
    connect(today, &TodayPage::done, this, [this](const QString& text) {
        showMessage(text, false);
        emit accountChanged();
    });
    connect(today, &TodayPage::failed, this, [this](const QString& text) { showMessage(text, true); });
    edited();
}

void AccountView::setAccount(const Account& a) {
    account = a;
    heading->setText(account.name);
    policy.reset();
    savedJson.clear();
    status->clear();
    today->setAccount(account);
    stack->setCurrentWidget(account.managed ? static_cast<QWidget*>(waiting) : unmanaged);
    if (account.managed) {
        // The pages stay hidden until the policy is there to fill them; a refusal is shown below.
        client->call(
            QStringLiteral("GetPolicy"), {account.name}, this,
            [this, name = account.name](const QVariantList& reply) {
                if (name == account.name) showPolicy(reply.value(0).toString().toUtf8(), true);
            },
            [this](const QString& text) { showMessage(text, true); });
        history->setUser(account.name);
    }
    edited();
}

void AccountView::updateAccount(const Account& a) {
    if (a.name != account.name) return;
    account = a;
    today->setAccount(account);
}

void AccountView::showPolicy(const QByteArray& json, bool saved) {
    QString error;
    policy = Policy::fromJson(json, &error);
    if (!policy) {
        showMessage(tr("The policy cannot be shown: %1").arg(error), true);
        return;
    }
    savedJson = saved ? policy->toJson() : QByteArray();
    for (PolicyPage* page : policyPages) page->setPolicy(&*policy);
    stack->setCurrentWidget(pages);
    if (!saved) pages->setCurrentWidget(allowance);
    pages->setTabEnabled(pages->indexOf(today), account.managed);
    pages->setTabEnabled(pages->indexOf(history), account.managed);
    edited();
}

bool AccountView::isDirty() const {
    return policy && policy->toJson() != savedJson;
}

void AccountView::edited() {
    const bool dirty = isDirty();
    saveButton->setEnabled(dirty);
    discardButton->setEnabled(dirty);
    removeButton->setEnabled(account.managed);
    emit dirtyChanged(dirty);
}

void AccountView::save() {
    if (!isDirty()) return;
    showMessage(tr("Saving…"), false);
    const QByteArray json = policy->toJson();
    client->call(
        QStringLiteral("SetPolicy"), {account.name, QString::fromUtf8(json)}, this,
        [this, json, name = account.name](const QVariantList&) {
            emit accountChanged();
            // The window may have moved on to another account meanwhile.
            if (name != account.name) return;
            account.managed = true;
            // What was sent is now what is installed, and the base that later edits compare with.
            showPolicy(json, true);
            showMessage(tr("Saved."), false);
            history->setUser(account.name);
        },
        [this, name = account.name](const QString& text) { showMessage(tr("%1: %2").arg(name, text), true); });
}

void AccountView::discard() {
    status->clear();
    if (savedJson.isEmpty()) {
        setAccount(account);
        return;
    }
    showPolicy(savedJson, true);
}

void AccountView::removeLimits() {
    const auto answer = QMessageBox::question(
        this, tr("Remove limits"), tr("Remove every limit of %1? Today's counts are dropped as well.").arg(account.name));
    if (answer != QMessageBox::Yes) return;
    client->call(
        QStringLiteral("RemovePolicy"), {account.name}, this,
        [this](const QVariantList&) {
            account.managed = false;
            setAccount(account);
            emit accountChanged();
        },
        [this](const QString& text) { showMessage(text, true); });
}

void AccountView::showMessage(const QString& text, bool error) {
    status->setStyleSheet(error ? QStringLiteral("color: #b00020") : QString());
    status->setText(text);
}

}  // namespace hv::settings
