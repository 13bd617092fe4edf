#pragma once

// Whether the desktop has a tray host (a panel that shows tray items) right now, asked the way Qt
// asks when a tray item is made, but without asking Qt: Qt settles once per process whether a
// StatusNotifierItem host exists, the first time it is asked, so asking before the host is up
// would rule that kind of host out for the whole session.

#include <QString>

namespace hv::menu {

// The StatusNotifierItem watcher on the session bus, and its object.
inline const QString kStatusNotifierWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
inline const QString kStatusNotifierWatcherPath = QStringLiteral("/StatusNotifierWatcher");

// A StatusNotifierItem host: the watcher is on the session bus and says a host has registered
// with it. False when there is no session bus.
bool statusNotifierHostPresent();
// An XEmbed tray: on X11, the screen's "_NET_SYSTEM_TRAY_S<n>" selection has an owner. False on
// any other platform.
bool xembedTrayPresent();
// Either of the two.
bool trayHostPresent();

}  // namespace hv::menu
