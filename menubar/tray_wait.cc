#include "menubar/tray_wait.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>

#include <utility>

#include "menubar/tray_host.h"

namespace hv::menu {

TrayWait::TrayWait(TrayWaitOptions options, QObject* parent) : QObject(parent), options(std::move(options)) {
    if (!this->options.available) this->options.available = &trayHostPresent;
    poll.setInterval(this->options.intervalMs);
    connect(&poll, &QTimer::timeout, this, &TrayWait::check);
}

void TrayWait::start() {
    watchSessionBus();
    // Even the first check waits for the event loop, so that what it emits reaches a loop that
    // runs.
    QTimer::singleShot(0, this, &TrayWait::check);
    poll.start();
}

void TrayWait::watchSessionBus() {
    if (!options.watchSessionBus) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    auto* watcher = new QDBusServiceWatcher(kStatusNotifierWatcher, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &TrayWait::check);
    // A watcher may come up before the panel that registers with it as its host.
    bus.connect(kStatusNotifierWatcher, kStatusNotifierWatcherPath, kStatusNotifierWatcher,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(check()));
}

void TrayWait::check() {
    const bool now = options.available();
    if (now == present) return;
    present = now;
    if (present) {
        emit appeared();
    } else {
        emit vanished();
    }
}

}  // namespace hv::menu
