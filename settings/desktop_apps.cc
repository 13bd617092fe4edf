#include "settings/desktop_apps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>

#include <algorithm>

namespace hv::settings {

namespace {

// The words of an Exec value, with double quotes and backslash escapes inside them resolved.
QStringList execWords(const QString& exec) {
    QStringList words;
    QString word;
    bool quoted = false;
    bool inWord = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted && c == QLatin1Char('\\') && i + 1 < exec.size()) {
            word += exec[++i];
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inWord = true;
        } else if (c.isSpace() && !quoted) {
            if (inWord) words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.append(word);
    return words;
}

struct Entry {
    QString type;
    QString name;
    QString exec;
    bool hidden = false;
};

// The keys of the [Desktop Entry] group the picker needs; localized names are not.
Entry readEntry(const QString& path) {
    Entry entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return entry;
    QTextStream in(&file);
    bool inGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inGroup) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Type")) entry.type = value;
        if (key == QLatin1String("Name")) entry.name = value;
        if (key == QLatin1String("Exec")) entry.exec = value;
        if ((key == QLatin1String("NoDisplay") || key == QLatin1String("Hidden")) && value == QLatin1String("true")) {
            entry.hidden = true;
        }
    }
    return entry;
}

}  // namespace

QString programOfExec(const QString& exec) {
    QStringList words = execWords(exec);
    if (!words.isEmpty() && QFileInfo(words.first()).fileName() == QLatin1String("env")) {
        words.removeFirst();
        while (!words.isEmpty() && words.first().contains(QLatin1Char('='))) words.removeFirst();
    }
    return words.isEmpty() ? QString() : QFileInfo(words.first()).fileName();
}

QList<DesktopApp> installedApps(const QStringList& dataDirs) {
    QList<DesktopApp> apps;
    QSet<QString> seen;
    for (const QString& dataDir : dataDirs) {
        const QDir dir(dataDir + QStringLiteral("/applications"));
        for (const QString& fileName : dir.entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable)) {
            // The first directory with a file id decides it, hidden or not.
            if (seen.contains(fileName)) continue;
            seen.insert(fileName);
            const Entry entry = readEntry(dir.filePath(fileName));
            const QString program = programOfExec(entry.exec);
            if (entry.type != QLatin1String("Application") || entry.hidden || program.isEmpty()) continue;
            apps.append(DesktopApp{entry.name.isEmpty() ? program : entry.name, program});
        }
    }
    std::sort(apps.begin(), apps.end(), [](const DesktopApp& a, const DesktopApp& b) {
        return QString::localeAwareCompare(a.title, b.title) < 0;
    });
    return apps;
}

}  // namespace hv::settings
