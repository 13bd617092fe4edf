#pragma once

// The desktop's installed applications, from the .desktop files in the applications folder of each
// XDG data directory (the user's own first, as the desktop reads them): what the applications
// picker offers. A program is named as the daemon matches it: the file name of the command its Exec
// line runs ("/usr/games/supertuxkart %F" is "supertuxkart").

#include <QList>
#include <QString>
#include <QStringList>

namespace hv::settings {

struct DesktopApp {
    QString title;    // the entry's Name
    QString program;  // Exec's command, file name only
};

// Every shown application entry below `dataDirs`, sorted by title; an entry that is hidden,
// NoDisplay, not an application, or whose file id a directory earlier in the list already had, is
// left out. Unreadable files are skipped.
QList<DesktopApp> installedApps(const QStringList& dataDirs);

// The file name of the command of an Exec value: quotes honoured, an "env VAR=value" prefix skipped.
QString programOfExec(const QString& exec);

}  // namespace hv::settings
