#include "menubar/tray_host.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QVariant>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace hv::menu {

namespace {

// The screen number of the X display Qt connected to: the part after the '.' of ":D.S" (0 when
// absent), as xcb_connect would take it.
int defaultScreen() {
    const QString display = qEnvironmentVariable("DISPLAY");
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    const qsizetype dot = display.indexOf(QLatin1Char('.'), colon < 0 ? 0 : colon);
    return dot < 0 ? 0 : display.mid(dot + 1).toInt();
}

}  // namespace

bool statusNotifierHostPresent() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(kStatusNotifierWatcher)) {
        return false;
    }
    QDBusInterface watcher(kStatusNotifierWatcher, kStatusNotifierWatcherPath, kStatusNotifierWatcher,
                           bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

bool xembedTrayPresent() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (connection == nullptr) return false;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(defaultScreen());
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.constData()),
                              nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE) return false;
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

bool trayHostPresent() {
    return xembedTrayPresent() || statusNotifierHostPresent();
}

}  // namespace hv::menu
