// horavel-settings: the parents' window onto Horavel. Run by a parent in the desktop session, never
// as root: every change goes through the admin service on the system bus, which asks polkit for an
// administrator's password. "--bus-address ADDRESS" talks to the service on another bus instead.

#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>

#include <cstdio>
#include <cstring>

#include "settings/admin_client.h"
#include "settings/main_window.h"
#include "settings/translations.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("horavel-settings %s\n", HORAVEL_VERSION);
        return 0;
    }
    if (geteuid() == 0) {
        std::fprintf(stderr,
                     "horavel-settings: do not run this as root; start it as yourself, and the admin service "
                     "asks for an administrator's password when it needs one\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("horavel-settings"));
    QApplication::setApplicationVersion(QStringLiteral(HORAVEL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("horavel-settings"));
    hv::settings::loadTranslations(&app);

    QCommandLineParser options;
    options.setApplicationDescription(QApplication::translate("main", "Sets the limits of the children's accounts."));
    options.addHelpOption();
    const QCommandLineOption busAddress(QStringLiteral("bus-address"),
                                        QApplication::translate("main", "Talk to the admin service on the bus at ADDRESS."),
                                        QStringLiteral("ADDRESS"));
    options.addOption(busAddress);
    options.process(app);

    QDBusConnection bus = options.isSet(busAddress)
                              ? QDBusConnection::connectToBus(options.value(busAddress), QStringLiteral("horavel-admin"))
                              : QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "horavel-settings: cannot connect to the bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    hv::settings::AdminClient client(bus);
    hv::settings::MainWindow window(&client);
    window.resize(980, 640);
    window.show();
    return QApplication::exec();
}
