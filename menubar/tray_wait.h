#pragma once

// Follows, for the life of the session, whether a tray host (a panel that shows tray items) is
// there. A program started with the session often comes up before the panel, and a panel may
// restart; the tray item must be made only while a host is there, and made again for a new one.

#include <QObject>
#include <QTimer>

#include <functional>

namespace hv::menu {

struct TrayWaitOptions {
    // Whether a host is there now. Empty means trayHostPresent() (tray_host.h).
    std::function<bool()> available;
    // Between two checks. Hosts announced on the session bus are also checked the moment they
    // come or go, so this slow check mostly serves XEmbed trays, which announce nothing there.
    int intervalMs = 5000;
    // Check at once whenever the StatusNotifierItem watcher comes or goes on the session bus, or
    // a host registers with it (a D-Bus signal watch, no polling).
    bool watchSessionBus = false;
};

class TrayWait : public QObject {
    Q_OBJECT

public:
    explicit TrayWait(TrayWaitOptions options = {}, QObject* parent = nullptr);

    // Starts checking from the event loop: at once, then every interval, until destroyed. Never
    // gives up.
    void start();

    bool hostPresent() const { return present; }

signals:
    // A host came (the first one, or one after a vanished()).
    void appeared();
    // The host that appeared has gone.
    void vanished();

private slots:
    void check();

private:
    void watchSessionBus();

    TrayWaitOptions options;
    QTimer poll;
    bool present = false;
};

}  // namespace hv::menu
