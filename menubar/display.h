#pragma once

// Display: the tray item that shows the console user how much time is left. Every 5 seconds it
// reads the remaining-time record that the daemon publishes and picks the item's picture from
// it; a click opens a menu with the time left, the network time left, "Preferences" and "Quit".

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

#include "menubar/channel_reader.h"

namespace hv::menu {

// What "Preferences" starts: the settings application, found in PATH. It asks the admin service,
// which asks polkit for an administrator's password, so the child can open it but change nothing.
inline const QString kSettingsProgram = QStringLiteral("horavel-settings");
// What the tray says when the settings application cannot be started (not installed).
inline const QString kSettingsMissing = QStringLiteral(
    "The settings application (horavel-settings) could not be started: is it installed? "
    "An administrator can change the settings with horavelctl.");

struct DisplayOptions {
    ChannelNames channel;
    // Starts a program detached, true when it started; empty means QProcess::startDetached.
    std::function<bool(const QString& program)> startProgram;
    // Tells the user something; empty means a message from the tray item.
    std::function<void(const QString& text)> tell;
};

class Display : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollIntervalMs = 5000;

    // Opens the reader's side of the channel. Nothing is shown until awakeFromNib().
    explicit Display(DisplayOptions options = {}, QObject* parent = nullptr);
    // Closes the channel: detach, remove the segment if nobody else is attached, close the lock.
    ~Display() override;

    // Creates the tray item with the "usersync" picture and the texts "U: sync" and "N: sync",
    // and starts the poll timer; the first poll comes one interval later. Call once, after a
    // tray host is there.
    void awakeFromNib();

    bool itemShown() const { return hasitem; }
    QSystemTrayIcon* statusItem() const { return si.get(); }
    // Name of the picture the item shows (or showed last, while hidden).
    const QString& shownImage() const { return image; }
    const QString& userLine() const { return logtext; }
    const QString& networkLine() const { return nettext; }
    // The menu of the latest click; each click replaces (and frees) the one before.
    QMenu* popupMenu() const { return menu.get(); }
    const QTimer& pollTimer() const { return runlooptimer; }

public slots:
    // A tray host came: the first time this is awakeFromNib(); after trayHostGone() the item is
    // made anew (a new host knows nothing of the old item) with the last poll's picture, unless
    // the daemon asks for it hidden.
    void trayHostAppeared();
    // The tray host went away and took the item with it: the item is dropped, and polls go on
    // without making one until a host appears again.
    void trayHostGone();
    // One poll: read the record, show or hide the item, set texts and picture.
    void showRemain();
    // Builds a new menu from the texts of the last poll and pops it up by the item.
    void menuClicked();
    // Starts kSettingsProgram, or says kSettingsMissing when it cannot be started.
    void prefs();
    // Ends the application at once.
    void termApp();

private:
    void createItem();
    void setImage(const QString& name);
    void applyRecord(const RemainingTimeRecord& record);
    QPoint popupPosition() const;

    DisplayOptions options;
    ChannelReader channel;
    QTimer runlooptimer;
    std::unique_ptr<QSystemTrayIcon> si;
    int rmin = 0;
    int rsec = 0;
    int nmin = 0;
    int warn = 0;
    bool hasitem = false;
    bool hosted = false;
    QIcon ugg;
    QIcon ugr;
    QIcon uog;
    QIcon uor;
    QIcon usy;
    QString image;
    QString logtext;
    QString nettext;
    std::unique_ptr<QMenu> menu;
};

// The menu lines for the values of one poll (rmin -1, hide, is handled before).
QString userLineFor(int rmin, int rsec, int warn);
// `netback`: while the network is off, the minute of the day it comes back (-1: not today).
QString networkLineFor(int nmin, int netback);
// The picture for the values of one poll in which the item is shown.
QString imageFor(int rmin, int nmin, int warn);

}  // namespace hv::menu
