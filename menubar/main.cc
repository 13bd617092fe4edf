// HoravelMenu: the console user's tray display of the time left. Started by the session's
// autostart; takes no options.

#include <QApplication>
#include <QtGlobal>

#include "menubar/display.h"
#include "menubar/tray_wait.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("HoravelMenu"));
    // The menu is the only window; closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    hv::menu::Display display;
    hv::menu::TrayWait trayWait;
    QObject::connect(&trayWait, &hv::menu::TrayWait::ready, &display, &hv::menu::Display::awakeFromNib);
    QObject::connect(&trayWait, &hv::menu::TrayWait::timedOut, [] {
        qWarning("HoravelMenu: no system tray appeared within 60 seconds");
        QCoreApplication::exit(1);
    });
    trayWait.start();
    return QApplication::exec();
}
