#include "settings/tests/fake_admin_bus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>

namespace hv::settings::test {

namespace {

const QString kConnectionName = QStringLiteral("horavel-fake-admin");
constexpr int kStartMs = 20000;

// A call to the fake's own control interface (a plain message: QDBusInterface would introspect).
QDBusMessage control(const QString& method) {
    return QDBusMessage::createMethodCall(QStringLiteral("org.horavel.Admin1"), QStringLiteral("/org/horavel/Admin1"),
                                          QStringLiteral("org.horavel.test.FakeAdmin"), method);
}

}  // namespace

FakeAdminBus::~FakeAdminBus() {
    QDBusConnection::disconnectFromBus(kConnectionName);
    for (QProcess* p : {&service, &daemon}) {
        p->terminate();
        if (!p->waitForFinished(3000)) p->kill();
        p->waitForFinished(3000);
    }
}

bool FakeAdminBus::start(QString* error) {
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted() || !daemon.waitForReadyRead(kStartMs)) {
        *error = QStringLiteral("dbus-daemon did not start: ") + daemon.errorString();
        return false;
    }
    address = QString::fromUtf8(daemon.readLine()).trimmed();

    const QString ready = dir.filePath(QStringLiteral("ready"));
    service.setProcessChannelMode(QProcess::ForwardedChannels);
    // Debian's interpreter, which has python3-dbus, whatever python3 comes first on the PATH.
    service.start(QStringLiteral("/usr/bin/python3"), {qEnvironmentVariable("HORAVEL_FAKE_ADMIN"), QStringLiteral("--address"),
                                                       address, QStringLiteral("--ready"), ready});
    const QDeadlineTimer deadline(kStartMs);
    while (!QFile::exists(ready)) {
        if (deadline.hasExpired() || service.state() == QProcess::NotRunning) {
            *error = QStringLiteral("fake_admin.py did not come up (HORAVEL_FAKE_ADMIN=%1)")
                         .arg(qEnvironmentVariable("HORAVEL_FAKE_ADMIN"));
            return false;
        }
        service.waitForFinished(50);
    }
    const QDBusConnection bus = QDBusConnection::connectToBus(address, kConnectionName);
    if (!bus.isConnected()) {
        *error = QStringLiteral("cannot connect to the private bus: ") + bus.lastError().message();
        return false;
    }
    return true;
}

QDBusConnection FakeAdminBus::connection() const {
    return QDBusConnection(kConnectionName);
}

QJsonArray FakeAdminBus::calls() const {
    const QDBusReply<QString> reply = connection().call(control(QStringLiteral("Calls")));
    return QJsonDocument::fromJson(reply.value().toUtf8()).array();
}

QJsonArray FakeAdminBus::callsOf(const QString& method) const {
    QJsonArray out;
    for (const QJsonValue& call : calls()) {
        QJsonArray args = call.toArray();
        if (args.first().toString() != method) continue;
        args.removeFirst();
        out.append(args);
    }
    return out;
}

void FakeAdminBus::refuse(const QString& method, const QString& name, const QString& message) const {
    connection().call(control(QStringLiteral("Refuse")) << method << name << message);
}

}  // namespace hv::settings::test
