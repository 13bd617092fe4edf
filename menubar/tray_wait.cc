#include "menubar/tray_wait.h"

#include <QSystemTrayIcon>
#include <QTimer>

#include <utility>

namespace hv::menu {

TrayWait::TrayWait(TrayWaitOptions options, QObject* parent) : QObject(parent), options(std::move(options)) {
    if (!this->options.available) this->options.available = &QSystemTrayIcon::isSystemTrayAvailable;
}

void TrayWait::start() {
    // Even the first check waits for the event loop, so that a quit on timeout is not lost
    // before the loop runs.
    checks = 0;
    QTimer::singleShot(0, this, &TrayWait::check);
}

void TrayWait::check() {
    if (options.available()) {
        emit ready();
    } else if (++checks >= options.maxChecks) {
        emit timedOut();
    } else {
        QTimer::singleShot(options.intervalMs, this, &TrayWait::check);
    }
}

}  // namespace hv::menu
