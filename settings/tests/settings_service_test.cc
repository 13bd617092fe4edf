// The settings application's window against the real admin service on the system bus, run by the
// end-to-end scenario settings_window (tests/e2e/scenarios_settings.py), which installs the example
// policy for "kid", picks the test functions, sets what polkit answers and checks the store with
// horavelctl afterwards. What is asserted here is what the parent sees and what the service answers
// when asked again, never what was sent.
//
// HORAVEL_EXPECTED_REFUSAL holds the line the window must show for the refused notice text.

#include <QDBusConnection>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>

#include <memory>
#include <optional>

#include "settings/account_view.h"
#include "settings/admin_client.h"
#include "settings/main_window.h"
#include "settings/policy_model.h"
#include "settings/policy_pages.h"
#include "settings/settings_page.h"
#include "settings/today_page.h"
#include "settings/tests/grid_drag.h"

namespace hv::settings {

namespace {

// The service may start and polkit answer first; generous, since everything runs under the sanitizers.
constexpr int kWaitMs = 10000;
const QString kNotAuthorised = QStringLiteral("Not authorised: ");

}  // namespace

class SettingsServiceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void paintedHoursAreSaved();
    void plusFifteenGrants();
    void badNoticeTextIsRefused();
    void polkitRefusalIsShown();

private:
    // The account's policy as the service gives it now.
    std::optional<Policy> fetchPolicy(const QString& user);

    std::unique_ptr<AdminClient> client;
    std::unique_ptr<MainWindow> window;
};

void SettingsServiceTest::initTestCase() {
    // main() uses the same connection: the sandbox's system bus is at the standard address.
    client = std::make_unique<AdminClient>(QDBusConnection::systemBus());
    window = std::make_unique<MainWindow>(client.get());
    window->show();
}

void SettingsServiceTest::cleanupTestCase() {
    window.reset();
    client.reset();
}

std::optional<Policy> SettingsServiceTest::fetchPolicy(const QString& user) {
    std::optional<Policy> policy;
    bool answered = false;
    client->call(
        QStringLiteral("GetPolicy"), {user}, this,
        [&](const QVariantList& reply) {
            QString error;
            policy = Policy::fromJson(reply.value(0).toString().toUtf8(), &error);
            answered = true;
        },
        [&](const QString&) { answered = true; });
    if (!QTest::qWaitFor([&] { return answered; }, kWaitMs)) return std::nullopt;
    return policy;
}

void SettingsServiceTest::paintedHoursAreSaved() {
    QTRY_VERIFY_WITH_TIMEOUT(window->selectAccount(QStringLiteral("kid")), kWaitMs);
    AccountView* view = window->accountView();
    QTRY_VERIFY_WITH_TIMEOUT(view->tabs()->isVisible(), kWaitMs);
    view->tabs()->setCurrentWidget(view->hoursPage());
    // Saturday 21:00 to 22:30 added to the computer's 07:00 to 20:30; the network's 16:00 to 17:00
    // taken away on Monday and Tuesday.
    test::drag(view->hoursPage()->timeGrid(), 5, 42, 5, 44);
    test::drag(view->hoursPage()->networkGrid(), 0, 32, 1, 33);
    QVERIFY(window->isWindowModified());
    view->save();
    QTRY_COMPARE_WITH_TIMEOUT(view->message()->text(), QStringLiteral("Saved."), kWaitMs);
    QVERIFY(!window->isWindowModified());

    const std::optional<Policy> installed = fetchPolicy(QStringLiteral("kid"));
    QVERIFY(installed);
    const QList<Range> day{{7 * 60, 20 * 60 + 30}};
    const QList<Range> saturday{{7 * 60, 20 * 60 + 30}, {21 * 60, 22 * 60 + 30}};
    QCOMPARE(installed->ranges, (DayRanges{day, day, day, day, day, saturday, day}));
    const QList<Range> evening{{16 * 60, 19 * 60}};
    const QList<Range> later{{17 * 60, 19 * 60}};
    QCOMPARE(installed->network, (DayRanges{later, later, evening, evening, evening, evening, evening}));
    QCOMPARE(installed->allowance, (PerDay{60, 60, 60, 60, 60, 120, 120}));
}

void SettingsServiceTest::plusFifteenGrants() {
    QTRY_VERIFY_WITH_TIMEOUT(window->selectAccount(QStringLiteral("kid")), kWaitMs);
    AccountView* view = window->accountView();
    QTRY_VERIFY_WITH_TIMEOUT(view->tabs()->isVisible(), kWaitMs);
    view->tabs()->setCurrentWidget(view->todayPage());
    QTest::mouseClick(view->todayPage()->grantButton(15), Qt::LeftButton);
    // The total is the service's answer: nothing was given before.
    QTRY_COMPARE_WITH_TIMEOUT(view->message()->text(),
                              QStringLiteral("15 min more today; 15 min given in all."), kWaitMs);
}

void SettingsServiceTest::badNoticeTextIsRefused() {
    // "Settings" is the list's last row, there once the accounts are.
    QListWidget* list = window->accountList();
    QTRY_VERIFY_WITH_TIMEOUT(list->count() > 0, kWaitMs);
    list->setCurrentRow(list->count() - 1);
    SettingsPage* settings = window->settingsPage();
    auto* warning = qobject_cast<QLineEdit*>(settings->field(QStringLiteral("warnmsg")));
    QTRY_VERIFY_WITH_TIMEOUT(!warning->text().isEmpty(), kWaitMs);
    warning->setText(QStringLiteral("Only %m minutes left, %q"));
    settings->save();
    QCOMPARE(settings->message()->text(), QStringLiteral("Saving…"));
    QTRY_COMPARE_WITH_TIMEOUT(settings->message()->text(), qEnvironmentVariable("HORAVEL_EXPECTED_REFUSAL"), kWaitMs);
    QVERIFY(settings->isDirty());
    settings->discard();
}

void SettingsServiceTest::polkitRefusalIsShown() {
    QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().startsWith(kNotAuthorised), kWaitMs);
    QCOMPARE(window->accountList()->count(), 0);
    SettingsPage* settings = window->settingsPage();
    QTRY_VERIFY_WITH_TIMEOUT(settings->message()->text().startsWith(kNotAuthorised), kWaitMs);
    // A change tried anyway is refused as well.
    qobject_cast<QSpinBox*>(settings->field(QStringLiteral("warntime")))->setValue(20);
    settings->save();
    QCOMPARE(settings->message()->text(), QStringLiteral("Saving…"));
    QTRY_VERIFY_WITH_TIMEOUT(settings->message()->text().startsWith(kNotAuthorised), kWaitMs);
    QVERIFY(settings->isDirty());
}

}  // namespace hv::settings

QTEST_MAIN(hv::settings::SettingsServiceTest)
#include "settings_service_test.moc"
