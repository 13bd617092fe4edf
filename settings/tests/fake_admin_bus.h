#pragma once

// FakeAdminBus: a private D-Bus daemon with fake_admin.py serving org.horavel.Admin1 on it, for the
// tests. The script's path comes from HORAVEL_FAKE_ADMIN. Both processes end with the object.

#include <QDBusConnection>
#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace hv::settings::test {

class FakeAdminBus {
public:
    FakeAdminBus() = default;
    ~FakeAdminBus();

    // Starts both and waits until the service owns its name; false, with the reason in *error,
    // when either does not come up.
    bool start(QString* error);

    QDBusConnection connection() const;

    // Every call the service has had, oldest first, each [method, arguments...].
    QJsonArray calls() const;
    // The calls of `method` only, each its arguments.
    QJsonArray callsOf(const QString& method) const;
    // The next call of `method` fails with D-Bus error `name` and `message`.
    void refuse(const QString& method, const QString& name, const QString& message) const;

private:
    QTemporaryDir dir;
    QProcess daemon;
    QProcess service;
    QString address;
};

}  // namespace hv::settings::test
