#pragma once

// Waits, within a bound, for a tray host (a panel that shows tray items). Qt decides once per
// tray item whether a tray exists, and a program started with the session often comes up before
// the panel, so the item must not be made before the host is there.

#include <QObject>

#include <functional>

namespace hv::menu {

struct TrayWaitOptions {
    // Empty means QSystemTrayIcon::isSystemTrayAvailable.
    std::function<bool()> available;
    int intervalMs = 1000;
    int maxChecks = 60;
};

class TrayWait : public QObject {
    Q_OBJECT

public:
    explicit TrayWait(TrayWaitOptions options = {}, QObject* parent = nullptr);

    // Checks from the event loop: at once, then every interval. Emits ready() or timedOut()
    // exactly once, after at most maxChecks checks.
    void start();

signals:
    void ready();
    void timedOut();

private:
    void check();

    TrayWaitOptions options;
    int checks = 0;
};

}  // namespace hv::menu
