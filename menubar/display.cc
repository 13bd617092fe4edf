#include "menubar/display.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>

#include <algorithm>
#include <utility>

#include "menubar/status_images.h"

namespace hv::menu {

QString userLineFor(int rmin, int rsec, int warn) {
    // rmin 0 is a day without a limit (seconds 0), the last minute of one (the seconds left in
    // rsec), or, marked in the warn word, no time left at all.
    const bool noTimeLeft = (warn & RemainingTimeRecord::kNoTimeLeft) != 0;
    if (rmin == 0 && !noTimeLeft && (rsec <= 0 || rsec > 59)) return QCoreApplication::translate("hv::menu::Display", "U: no limit");
    // A count below 0 (an older daemon's wrapped one) is no time left.
    if (rmin < 0 || noTimeLeft) return QCoreApplication::translate("hv::menu::Display", "U: %1").arg(QStringLiteral("00:00:00"));
    return QCoreApplication::translate("hv::menu::Display", "U: %1")
        .arg(QString::asprintf("%02d:%02d:%02d", rmin / 60, rmin % 60, std::clamp(rsec, 0, 59)));
}

QString networkLineFor(int nmin, int netback) {
    if (nmin == -1) return QCoreApplication::translate("hv::menu::Display", "N: no limit");
    if (nmin == -2 && netback >= 0 && netback < 24 * 60) {
        return QCoreApplication::translate("hv::menu::Display", "N: off until %1").arg(QString::asprintf("%02d:%02d", netback / 60, netback % 60));
    }
    if (nmin == -2) return QCoreApplication::translate("hv::menu::Display", "N: off");
    const int left = std::max(nmin, 0);
    return QCoreApplication::translate("hv::menu::Display", "N: %1").arg(QString::asprintf("%02d:%02d:00", left / 60, left % 60));
}

QString imageFor(int rmin, int nmin, int warn) {
    if (warn == 0) return rmin >= 0 && nmin == -2 ? kUserGR : kUserGG;
    if (nmin >= -1) return kUserOG;
    if (nmin == -2) return kUserOR;
    return kUserGG;
}

Display::Display(DisplayOptions options, QObject* parent)
    : QObject(parent), options(std::move(options)), channel(this->options.channel) {}

Display::~Display() = default;

void Display::awakeFromNib() {
    ugg = loadStatusImage(kUserGG);
    ugr = loadStatusImage(kUserGR);
    uog = loadStatusImage(kUserOG);
    uor = loadStatusImage(kUserOR);
    usy = loadStatusImage(kUserSync);
    rmin = 0;
    rsec = 0;
    nmin = 0;
    logtext = tr("U: sync");
    nettext = tr("N: sync");
    hosted = true;
    createItem();
    setImage(kUserSync);

    runlooptimer.setInterval(kPollIntervalMs);
    connect(&runlooptimer, &QTimer::timeout, this, &Display::showRemain);
    runlooptimer.start();
}

void Display::trayHostAppeared() {
    if (!runlooptimer.isActive()) {
        awakeFromNib();
        return;
    }
    hosted = true;
    if (hasitem || rmin == -1) return;
    createItem();
    setImage(image);
}

void Display::trayHostGone() {
    hosted = false;
    si.reset();
    hasitem = false;
}

void Display::createItem() {
    si = std::make_unique<QSystemTrayIcon>();
    // Panels differ on which button opens an item's menu; both open ours.
    connect(si.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) menuClicked();
    });
    hasitem = true;
}

void Display::setImage(const QString& name) {
    image = name;
    const QIcon& icon = name == kUserGR     ? ugr
                        : name == kUserOG   ? uog
                        : name == kUserOR   ? uor
                        : name == kUserSync ? usy
                                            : ugg;
    si->setIcon(icon);
    si->setToolTip(logtext + QLatin1Char('\n') + nettext);
    // Shown only once it has a picture, so the host never gets an empty item.
    if (!si->isVisible()) si->show();
}

void Display::showRemain() {
    ChannelRead read = channel.read();
    switch (read.status) {
        case ChannelRead::Status::kBusy:
            return;
        case ChannelRead::Status::kNoSegment:
            // No daemon, or it is starting again: old values would no longer be true.
            if (!hasitem) return;
            logtext = tr("U: sync");
            nettext = tr("N: sync");
            setImage(kUserSync);
            return;
        case ChannelRead::Status::kRead:
            applyRecord(read.record);
            return;
    }
}

void Display::applyRecord(const RemainingTimeRecord& record) {
    rmin = record.rmin;
    nmin = record.nmin;
    warn = record.warn;
    rsec = record.rsec;

    if (!hasitem) {
        if (rmin == -1 || !hosted) return;
        createItem();
        setImage(kUserGG);
    } else if (rmin == -1) {
        // Hidden until a poll reads another value; texts and picture stay as they were.
        si.reset();
        hasitem = false;
        return;
    }

    logtext = userLineFor(rmin, rsec, warn);
    nettext = networkLineFor(nmin, record.netback);
    setImage(imageFor(rmin, nmin, warn));
}

void Display::menuClicked() {
    menu = std::make_unique<QMenu>();
    // Items without an action are information only.
    menu->addAction(logtext)->setEnabled(false);
    menu->addAction(nettext)->setEnabled(false);
    menu->addAction(tr("Preferences"), this, &Display::prefs);
    menu->addAction(tr("Quit"), this, &Display::termApp);
    menu->popup(popupPosition());
}

QPoint Display::popupPosition() const {
    // Just off the panel, by the item: below it on a top panel, above it on a bottom one. Hosts
    // that do not tell where the item is get the menu at the pointer. Qt keeps it on screen.
    const QRect item = si ? si->geometry() : QRect();
    const QScreen* screen = item.isValid() ? QGuiApplication::screenAt(item.center()) : nullptr;
    if (screen == nullptr) return QCursor::pos();
    if (item.center().y() < screen->geometry().center().y()) return item.bottomLeft() + QPoint(0, 1);
    return item.topLeft() - QPoint(0, menu->sizeHint().height() + 1);
}

void Display::prefs() {
    const bool started = options.startProgram ? options.startProgram(kSettingsProgram)
                                              : QProcess::startDetached(kSettingsProgram, {});
    if (started) return;
    if (options.tell) {
        options.tell(kSettingsMissing);
    } else if (si) {
        si->showMessage(QStringLiteral("Horavel"), kSettingsMissing, QSystemTrayIcon::Warning);
    }
}

void Display::termApp() {
    QCoreApplication::exit(0);
}

}  // namespace hv::menu
