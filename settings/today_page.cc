#include "settings/today_page.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "settings/admin_client.h"

namespace hv::settings {

namespace {

QString minutesText(int minutes) {
    return QCoreApplication::translate("hv::settings::TodayPage", "%n min", nullptr, minutes);
}

}  // namespace

TodayPage::TodayPage(AdminClient* c, QWidget* parent)
    : QWidget(parent),
      client(c),
      allowance(new QLabel(this)),
      given(new QLabel(this)),
      used(new QLabel(this)),
      left(new QLabel(this)) {
    auto* form = new QFormLayout(this);
    form->addRow(tr("Allowance today"), allowance);
    form->addRow(tr("Given today"), given);
    form->addRow(tr("Used today"), used);
    form->addRow(tr("Left today"), left);
    auto* buttons = new QHBoxLayout;
    for (auto [minutes, text] : {std::pair{15, tr("+15 minutes")}, std::pair{30, tr("+30 minutes")},
                                 std::pair{-15, tr("−15 minutes")}}) {
        auto* button = new QPushButton(text, this);
        connect(button, &QPushButton::clicked, this, [this, minutes = minutes] { grant(minutes); });
        buttons->addWidget(button);
        grants.append({minutes, button});
    }
    buttons->addStretch();
    form->addRow(buttons);
    auto* logoutButton = new QPushButton(tr("Log out now"), this);
    connect(logoutButton, &QPushButton::clicked, this, &TodayPage::logout);
    form->addRow(logoutButton);
    form->itemAt(form->rowCount() - 1, QFormLayout::SpanningRole)->setAlignment(Qt::AlignLeft);
}

QPushButton* TodayPage::grantButton(int minutes) const {
    for (const auto& [m, button] : grants) {
        if (m == minutes) return button;
    }
    return nullptr;
}

void TodayPage::setAccount(const Account& a) {
    account = a;
    allowance->setText(account.allowance == 0 ? tr("no limit today") : minutesText(account.allowance));
    given->setText(minutesText(account.granted));
    used->setText(minutesText(account.used));
    // The day's time is the allowance and the grant together, never below nothing.
    left->setText(account.allowance == 0 ? tr("no limit today")
                                         : minutesText(std::max(0, account.allowance + account.granted - account.used)));
}

void TodayPage::grant(int minutes) {
    client->call(
        QStringLiteral("Grant"), {account.name, minutes}, this,
        [this, minutes](const QVariantList& reply) {
            const int total = reply.value(0).toInt();
            emit done(minutes > 0 ? tr("%1 more today; %2 given in all.").arg(minutesText(minutes), minutesText(total))
                                  : tr("%1 taken; %2 given in all.").arg(minutesText(-minutes), minutesText(total)));
        },
        [this](const QString& message) { emit failed(message); });
}

void TodayPage::logout() {
    client->call(
        QStringLiteral("Logout"), {account.name}, this,
        [this](const QVariantList&) { emit done(tr("%1 is being logged out.").arg(account.name)); },
        [this](const QString& message) { emit failed(message); });
}

}  // namespace hv::settings
