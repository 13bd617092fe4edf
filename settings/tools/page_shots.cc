// hv_settings_shots: photographs every page of the settings window, as a parent sees it, into
// OUT_DIR/settings-PAGE.png: the pages of the managed account MANAGED, the offer to limit the
// account UNMANAGED, and the system-wide settings. It talks to the admin service on the bus at
// ADDRESS (the fake service on the screenshot script's private bus, or the real one in the
// sandbox), and is run under a real X server (Xvfb). A History page the service cannot give is
// left out, saying so. With a SUFFIX it takes the Today page alone, as
// OUT_DIR/settings-todaySUFFIX.png, in the language of the locale, to show a translation.
//
//   hv_settings_shots ADDRESS OUT_DIR MANAGED UNMANAGED [SUFFIX]

#include <QApplication>
#include <QDBusConnection>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QChart>
#include <QLabel>

#include <cstdio>

#include "settings/account_view.h"
#include "settings/admin_client.h"
#include "settings/history_page.h"
#include "settings/main_window.h"
#include "settings/translations.h"

namespace {

constexpr int kWaitMs = 10000;

bool shoot(QWidget* window, const QString& dir, const QString& name) {
    // Lets pending answers and repaints land first.
    QTest::qWait(400);
    const QString path = dir + QStringLiteral("/settings-") + name + QStringLiteral(".png");
    if (!window->grab().save(path)) {
        std::fprintf(stderr, "hv_settings_shots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: hv_settings_shots ADDRESS OUT_DIR MANAGED UNMANAGED [SUFFIX]\n");
        return 2;
    }
    const QString managed = QString::fromLocal8Bit(argv[3]);
    const QString unmanaged = QString::fromLocal8Bit(argv[4]);
    hv::settings::loadTranslations(&app);
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), QStringLiteral("shots"));
    hv::settings::AdminClient client(bus);
    hv::settings::MainWindow window(&client);
    window.resize(1000, 660);
    window.show();
    if (!QTest::qWaitFor([&] { return window.accountList()->count() > 1; }, kWaitMs) ||
        !window.selectAccount(managed)) {
        std::fprintf(stderr, "hv_settings_shots: the service listed no account \"%s\"\n", argv[3]);
        return 1;
    }
    hv::settings::AccountView* view = window.accountView();
    QTabWidget* tabs = view->tabs();
    if (!QTest::qWaitFor([&] { return tabs->isVisible() && !view->historyPage()->chart()->series().isEmpty(); }, kWaitMs)) {
        std::fprintf(stderr, "hv_settings_shots: the pages of \"%s\" did not come\n", argv[3]);
        return 1;
    }
    if (argc == 6) return shoot(&window, outDir, QStringLiteral("today") + QString::fromLocal8Bit(argv[5])) ? 0 : 1;
    const char* names[] = {"today", "allowance", "hours", "applications", "disk", "history"};
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        const QString refusal = view->historyPage()->message()->text();
        if (tabs->currentWidget() == view->historyPage() && !refusal.isEmpty()) {
            std::fprintf(stderr, "hv_settings_shots: no history page: %s\n", qPrintable(refusal));
            continue;
        }
        if (!shoot(&window, outDir, QLatin1String(names[i]))) return 1;
    }
    if (!window.selectAccount(unmanaged) ||
        !QTest::qWaitFor([&] { return view->limitButton()->isVisible(); }, kWaitMs) || !shoot(&window, outDir, QStringLiteral("limit"))) {
        return 1;
    }
    // "Settings" is the list's last row.
    window.accountList()->setCurrentRow(window.accountList()->count() - 1);
    return shoot(&window, outDir, QStringLiteral("system")) ? 0 : 1;
}
