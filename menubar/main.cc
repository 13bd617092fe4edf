// HoravelMenu: the console user's tray display of the time left. Started by the session's
// autostart; answers "--version" alone (before any display is opened) and otherwise takes Qt's
// own options only.

#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include "menubar/display.h"
#include "menubar/tray_wait.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("HoravelMenu %s\n", HORAVEL_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("HoravelMenu"));
    // The menu in the user's language: the translation beside the program (a build tree), else the
    // installed one; none leaves the English texts.
    QTranslator translator;
    const QLocale locale = QLocale::system();
    if (translator.load(locale, QStringLiteral("HoravelMenu"), QStringLiteral("_"), QApplication::applicationDirPath()) ||
        translator.load(locale, QStringLiteral("HoravelMenu"), QStringLiteral("_"), QStringLiteral(HORAVEL_TRANSLATIONS_DIR))) {
        QApplication::installTranslator(&translator);
    }
    // The menu is the only window; closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    hv::menu::Display display;
    // The panel may come up long after the session starts, or restart during it: the item is
    // shown whenever a tray host is there, for the whole session.
    hv::menu::TrayWaitOptions options;
    options.watchSessionBus = true;
    hv::menu::TrayWait trayWait(options);
    QObject::connect(&trayWait, &hv::menu::TrayWait::appeared, &display, &hv::menu::Display::trayHostAppeared);
    QObject::connect(&trayWait, &hv::menu::TrayWait::vanished, &display, &hv::menu::Display::trayHostGone);
    trayWait.start();
    return QApplication::exec();
}
