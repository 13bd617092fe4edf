// The settings application's window against fake_admin.py on a private bus: what a parent does on
// the pages and what the admin service is sent, the service's refusals as shown, and the policy
// document's round trip.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QTest>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QStackedBarSeries>

#include <memory>

#include "settings/account_view.h"
#include "settings/admin_client.h"
#include "settings/desktop_apps.h"
#include "settings/history_page.h"
#include "settings/main_window.h"
#include "settings/policy_model.h"
#include "settings/policy_pages.h"
#include "settings/settings_page.h"
#include "settings/tests/fake_admin_bus.h"
#include "settings/tests/grid_drag.h"
#include "settings/today_page.h"

namespace hv::settings {

namespace {

constexpr int kWaitMs = 10000;
const QString kInvalid = QStringLiteral("org.horavel.Admin1.Error.Invalid");

QJsonObject lastPolicySent(const test::FakeAdminBus& fake, const QString& user) {
    const QJsonArray calls = fake.callsOf(QStringLiteral("SetPolicy"));
    for (qsizetype i = calls.size() - 1; i >= 0; --i) {
        const QJsonArray args = calls[i].toArray();
        if (args[0].toString() == user) return QJsonDocument::fromJson(args[1].toString().toUtf8()).object();
    }
    return {};
}

QJsonObject range(const char* day, const char* start, const char* end) {
    return {{QStringLiteral("day"), QLatin1String(day)}, {QStringLiteral("start"), QLatin1String(start)},
            {QStringLiteral("end"), QLatin1String(end)}};
}

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void paintingTheGridsSendsTheirRanges();
    void grantButtonsSendGrant();
    void refusalsAreShown();
    void chartHasOneEntryPerDay();
    void discardRestores();
    void limitingAnAccountStartsWithTheDefaults();
    void policyRoundTripKeepsWhatIsNotEdited();
    void desktopEntriesNameTheirPrograms();
    void germanIsCompleteAndLoads();

private:
    // Chooses `user` in the list and waits until its policy pages are shown.
    void choose(const QString& user);

    std::unique_ptr<test::FakeAdminBus> fake;
    std::unique_ptr<AdminClient> client;
    std::unique_ptr<MainWindow> window;
    // A modal question nobody answers would hang the test: each one is closed (a message box then
    // answers Cancel) and named as the case's failure.
    QTimer dialogWatch;
    QStringList unexpectedDialogs;
};

void SettingsTest::initTestCase() {
    dialogWatch.setInterval(100);
    QObject::connect(&dialogWatch, &QTimer::timeout, this, [this] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            unexpectedDialogs << (box ? box->text() : modal->windowTitle());
            modal->close();
        }
    });
    fake = std::make_unique<test::FakeAdminBus>();
    QString error;
    QVERIFY2(fake->start(&error), qPrintable(error));
    client = std::make_unique<AdminClient>(fake->connection());
    window = std::make_unique<MainWindow>(client.get());
    window->show();
    dialogWatch.start();
    QTRY_VERIFY_WITH_TIMEOUT(window->accountList()->count() == 4, kWaitMs);
    dialogWatch.stop();
    QVERIFY2(unexpectedDialogs.isEmpty(), qPrintable(QStringLiteral("a dialog asked: ") + unexpectedDialogs.join(", ")));
}

void SettingsTest::init() {
    unexpectedDialogs.clear();
    dialogWatch.start();
}

void SettingsTest::cleanup() {
    dialogWatch.stop();
    QVERIFY2(unexpectedDialogs.isEmpty(), qPrintable(QStringLiteral("a dialog asked: ") + unexpectedDialogs.join(", ")));
}

void SettingsTest::cleanupTestCase() {
    window.reset();
    client.reset();
    fake.reset();
}

void SettingsTest::choose(const QString& user) {
    QVERIFY(window->selectAccount(user));
    AccountView* view = window->accountView();
    QCOMPARE(view->user(), user);
    QTRY_VERIFY_WITH_TIMEOUT(view->tabs()->isVisible() || view->limitButton()->isVisible(), kWaitMs);
}

void SettingsTest::paintingTheGridsSendsTheirRanges() {
    choose(QStringLiteral("anna"));
    AccountView* view = window->accountView();
    QTRY_VERIFY_WITH_TIMEOUT(view->tabs()->isVisible(), kWaitMs);
    view->tabs()->setCurrentWidget(view->hoursPage());
    // Saturday 21:00 to 22:30 added; the network taken away on Monday and Tuesday 16:00 to 17:00.
    test::drag(view->hoursPage()->timeGrid(), 5, 42, 5, 44);
    test::drag(view->hoursPage()->networkGrid(), 0, 32, 1, 33);
    QVERIFY(window->isWindowModified());
    view->save();
    QTRY_VERIFY_WITH_TIMEOUT(!lastPolicySent(*fake, QStringLiteral("anna")).isEmpty(), kWaitMs);

    const QJsonObject sent = lastPolicySent(*fake, QStringLiteral("anna"));
    // Days not painted keep their minute-exact 07:10.
    QCOMPARE(sent[QStringLiteral("ranges")].toArray(),
             (QJsonArray{range("weekdays", "07:10", "20:30"), range("sat", "07:10", "20:30"),
                         range("sat", "21:00", "22:30"), range("sun", "07:10", "20:30")}));
    QCOMPARE(sent[QStringLiteral("network")].toArray(),
             (QJsonArray{range("mon", "17:00", "19:00"), range("tue", "17:00", "19:00"), range("wed", "16:00", "19:00"),
                         range("thu", "16:00", "19:00"), range("fri", "16:00", "19:00"), range("weekend", "16:00", "19:00")}));
    QCOMPARE(sent[QStringLiteral("script")].toString(), QStringLiteral("/usr/local/sbin/clean-kid"));
    QCOMPARE(sent[QStringLiteral("quota_mb")].toInt(), 500);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isWindowModified(), kWaitMs);
}

void SettingsTest::grantButtonsSendGrant() {
    choose(QStringLiteral("anna"));
    TodayPage* today = window->accountView()->todayPage();
    window->accountView()->tabs()->setCurrentWidget(today);
    QTest::mouseClick(today->grantButton(15), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(fake->callsOf(QStringLiteral("Grant")).size(), 1, kWaitMs);
    QCOMPARE(fake->callsOf(QStringLiteral("Grant"))[0].toArray(), (QJsonArray{QStringLiteral("anna"), 15}));
    QTest::mouseClick(today->grantButton(-15), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(fake->callsOf(QStringLiteral("Grant")).size(), 2, kWaitMs);
    QCOMPARE(fake->callsOf(QStringLiteral("Grant"))[1].toArray(), (QJsonArray{QStringLiteral("anna"), -15}));
    // The service's total after both comes back into the page once the list is fetched again.
    QTRY_VERIFY_WITH_TIMEOUT(window->accountView()->message()->text().contains(QStringLiteral("0 min")), kWaitMs);
}

void SettingsTest::refusalsAreShown() {
    choose(QStringLiteral("anna"));
    AccountView* view = window->accountView();
    // The service's lines are horavelctl's; the window leaves out the command and the input's name.
    const QString refusal = QStringLiteral("allowance: 1500 is over 1440 minutes");
    fake->refuse(QStringLiteral("SetPolicy"), kInvalid, QStringLiteral("horavelctl policy: standard input: ") + refusal);
    view->allowancePage()->dayBox(2)->setValue(75);
    view->save();
    QTRY_COMPARE_WITH_TIMEOUT(view->message()->text(), QStringLiteral("anna: ") + refusal, kWaitMs);
    QVERIFY(view->isDirty());

    const QString settingsRefusal = QStringLiteral("warntime: 2000 is over 1440");
    fake->refuse(QStringLiteral("SetSettings"), kInvalid, QStringLiteral("horavelctl settings: ") + settingsRefusal);
    SettingsPage* settings = window->settingsPage();
    QTRY_COMPARE_WITH_TIMEOUT(qobject_cast<QSpinBox*>(settings->field(QStringLiteral("warntime")))->value(), 5, kWaitMs);
    qobject_cast<QSpinBox*>(settings->field(QStringLiteral("warntime")))->setValue(20);
    settings->save();
    QTRY_COMPARE_WITH_TIMEOUT(settings->message()->text(), settingsRefusal, kWaitMs);
    const QJsonArray sent = fake->callsOf(QStringLiteral("SetSettings")).last().toArray();
    QCOMPARE(sent[0].toObject(), (QJsonObject{{QStringLiteral("warntime"), QStringLiteral("20")}}));
    view->discard();
    settings->discard();
}

void SettingsTest::chartHasOneEntryPerDay() {
    choose(QStringLiteral("anna"));
    HistoryPage* history = window->accountView()->historyPage();
    for (int days : {14, 30}) {
        history->daysChoice()->setCurrentIndex(history->daysChoice()->findData(days));
        QTRY_VERIFY_WITH_TIMEOUT(!history->chart()->series().isEmpty() &&
                                     qobject_cast<QStackedBarSeries*>(history->chart()->series()[0])->barSets()[0]->count() == days,
                                 kWaitMs);
        auto* bars = qobject_cast<QStackedBarSeries*>(history->chart()->series()[0]);
        // supertuxkart, firefox and the rest of the day's use.
        QCOMPARE(bars->count(), 3);
        for (QBarSet* set : bars->barSets()) QCOMPARE(set->count(), days);
        const auto* x = qobject_cast<QBarCategoryAxis*>(history->chart()->axes(Qt::Horizontal)[0]);
        QCOMPARE(x->count(), days);
        QCOMPARE(fake->callsOf(QStringLiteral("History")).last().toArray(), (QJsonArray{QStringLiteral("anna"), days}));
        QVERIFY(history->message()->text().isEmpty());
    }

    // A history the service cannot give is said on the page; the account's message line keeps what
    // the parent's last action said.
    window->accountView()->message()->setText(QStringLiteral("Saved."));
    fake->refuse(QStringLiteral("History"), QStringLiteral("org.horavel.Admin1.Error.Failed"),
                 QStringLiteral("horavelctl history: the usage records cannot be read"));
    history->daysChoice()->setCurrentIndex(history->daysChoice()->findData(14));
    QTRY_COMPARE_WITH_TIMEOUT(history->message()->text(), QStringLiteral("Failed: the usage records cannot be read"), kWaitMs);
    QCOMPARE(qobject_cast<QBarCategoryAxis*>(history->chart()->axes(Qt::Horizontal)[0])->count(), 0);
    QCOMPARE(window->accountView()->message()->text(), QStringLiteral("Saved."));
    history->daysChoice()->setCurrentIndex(history->daysChoice()->findData(30));
    QTRY_VERIFY_WITH_TIMEOUT(history->message()->text().isEmpty(), kWaitMs);
}

void SettingsTest::discardRestores() {
    choose(QStringLiteral("anna"));
    AccountView* view = window->accountView();
    AllowancePage* allowance = view->allowancePage();
    QCOMPARE(allowance->dayBox(0)->value(), 60);
    allowance->sameSwitch()->setChecked(true);
    allowance->dayBox(0)->setValue(90);
    QCOMPARE(allowance->dayBox(6)->value(), 90);
    QVERIFY(window->isWindowModified());
    view->discard();
    QVERIFY(!window->isWindowModified());
    QVERIFY(!allowance->sameSwitch()->isChecked());
    QCOMPARE(allowance->dayBox(0)->value(), 60);
    QCOMPARE(allowance->dayBox(6)->value(), 120);

    auto* text = qobject_cast<QLineEdit*>(window->settingsPage()->field(QStringLiteral("warnmsg")));
    const QString before = text->text();
    text->setText(QStringLiteral("hurry"));
    QVERIFY(window->isWindowModified());
    window->settingsPage()->discard();
    QCOMPARE(text->text(), before);
    QVERIFY(!window->isWindowModified());
}

void SettingsTest::limitingAnAccountStartsWithTheDefaults() {
    // The list shows "ben (no limits)"; only the account's name chooses it.
    QVERIFY(!window->selectAccount(QStringLiteral("ben (no limits)")));
    choose(QStringLiteral("ben"));
    AccountView* view = window->accountView();
    QTRY_VERIFY_WITH_TIMEOUT(view->limitButton()->isVisible(), kWaitMs);
    QTest::mouseClick(view->limitButton(), Qt::LeftButton);
    QCOMPARE(view->allowancePage()->dayBox(4)->value(), 60);
    QCOMPARE(view->allowancePage()->dayBox(5)->value(), 120);
    QVERIFY(window->isWindowModified());
    view->save();
    QTRY_VERIFY_WITH_TIMEOUT(!lastPolicySent(*fake, QStringLiteral("ben")).isEmpty(), kWaitMs);
    QCOMPARE(lastPolicySent(*fake, QStringLiteral("ben")),
             QJsonDocument::fromJson(kDefaultPolicy).object());
    QTRY_VERIFY_WITH_TIMEOUT(window->accountList()->currentItem()->text() == QStringLiteral("ben"), kWaitMs);
}

void SettingsTest::policyRoundTripKeepsWhatIsNotEdited() {
    const QByteArray text = R"({"allowance":{"all":90,"fri":120,"weekend":180},"ranges":[{"day":"mon","start":"7:05","end":"08:00"}],)"
                            R"("apps":[{"name":"steam.app","minutes":{"all":30,"sun":60}}],"script":"x"})";
    QString error;
    auto policy = Policy::fromJson(text, &error);
    QVERIFY2(policy, qPrintable(error));
    QCOMPARE(policy->allowance, (PerDay{90, 90, 90, 90, 120, 180, 180}));
    QCOMPARE(policy->apps[0].minutes, (PerDay{30, 30, 30, 30, 30, 30, 60}));
    // The page shows the process name, as the application picker gives it.
    QCOMPARE(policy->apps[0].name, QStringLiteral("steam"));
    QCOMPARE(policy->ranges[0], (QList<Range>{{425, 480}}));
    QCOMPARE(QJsonDocument::fromJson(policy->toJson()), QJsonDocument::fromJson(text));

    policy->allowance[4] = 90;
    policy->quotaMb = 300;
    const QJsonObject out = QJsonDocument::fromJson(policy->toJson()).object();
    QCOMPARE(out[QStringLiteral("allowance")].toObject(),
             (QJsonObject{{QStringLiteral("weekdays"), 90}, {QStringLiteral("weekend"), 180}}));
    QCOMPARE(out[QStringLiteral("ranges")].toArray()[0].toObject()[QStringLiteral("start")].toString(), QStringLiteral("7:05"));
    QCOMPARE(out[QStringLiteral("quota_mb")].toInt(), 300);
    QCOMPARE(out[QStringLiteral("script")].toString(), QStringLiteral("x"));

    QVERIFY(!Policy::fromJson(R"({"allowance":"lots"})", &error));
    QVERIFY(error.startsWith(QStringLiteral("allowance")));
}

void SettingsTest::desktopEntriesNameTheirPrograms() {
    QTemporaryDir home;
    QTemporaryDir system;
    auto write = [](const QTemporaryDir& dir, const char* name, const char* text) {
        QDir().mkpath(dir.filePath(QStringLiteral("applications")));
        QFile file(dir.filePath(QStringLiteral("applications/") + QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write(system, "kart.desktop", "[Desktop Entry]\nType=Application\nName=Kart\nExec=/usr/games/supertuxkart %F\n");
    write(system, "web.desktop", "[Desktop Entry]\nType=Application\nName=Web\nExec=env A=1 \"/opt/my web/browser\" %u\n");
    write(system, "hidden.desktop", "[Desktop Entry]\nType=Application\nName=Hidden\nNoDisplay=true\nExec=hidden\n");
    // The user's own entry of the same id hides the system one.
    write(home, "web.desktop", "[Desktop Entry]\nType=Application\nName=Web\nHidden=true\nExec=browser\n");
    write(system, "link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org\n");

    QList<DesktopApp> apps = installedApps({system.path()});
    QCOMPARE(apps.size(), 2);
    QCOMPARE(apps[0].title, QStringLiteral("Kart"));
    QCOMPARE(apps[0].program, QStringLiteral("supertuxkart"));
    QCOMPARE(apps[1].program, QStringLiteral("browser"));
    apps = installedApps({home.path(), system.path()});
    QCOMPARE(apps.size(), 1);
}

void SettingsTest::germanIsCompleteAndLoads() {
    const QString source = qEnvironmentVariable("HORAVEL_SOURCE_DIR");
    for (const char* ts : {"settings/translations/horavel-settings_de.ts", "menubar/translations/HoravelMenu_de.ts"}) {
        QFile file(source + QLatin1Char('/') + QLatin1String(ts));
        QVERIFY2(file.open(QIODevice::ReadOnly), ts);
        QXmlStreamReader xml(&file);
        int messages = 0;
        QString sourceText;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == QLatin1String("source")) sourceText = xml.readElementText();
            if (xml.name() == QLatin1String("translation")) {
                ++messages;
                const bool unfinished = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
                const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                QVERIFY2(!unfinished && !text.trimmed().isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(ts), sourceText)));
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(messages > 0);
    }

    // The compiled German is what a German locale gets: the window's own texts change.
    QTranslator german;
    QVERIFY(german.load(QLocale(QLocale::German), QStringLiteral("horavel-settings"), QStringLiteral("_"),
                        QCoreApplication::applicationDirPath()));
    QCoreApplication::installTranslator(&german);
    const MainWindow translated(client.get());
    QCoreApplication::removeTranslator(&german);
    QCOMPARE(translated.windowTitle(), QStringLiteral("Horavel Jugendschutz[*]"));
    QCOMPARE(translated.accountView()->tabs()->tabText(0), QStringLiteral("Heute"));
}

}  // namespace hv::settings

QTEST_MAIN(hv::settings::SettingsTest)
#include "settings_test.moc"
