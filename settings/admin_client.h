#pragma once

// AdminClient: the application's only way to the system, the admin service org.horavel.Admin1 at
// /org/horavel/Admin1 on one D-Bus connection (the system bus, or the bus a test names). Every call
// is asynchronous: the service may wait for an administrator to answer polkit's password prompt,
// and the window keeps painting meanwhile. The answer, or the failure as one line fit to show, is
// handed to a callback run in the event loop; none is run once `context` is destroyed.

#include <QDBusConnection>
#include <QDBusError>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <functional>

namespace hv::settings {

inline constexpr const char* kAdminService = "org.horavel.Admin1";
inline constexpr const char* kAdminPath = "/org/horavel/Admin1";
inline constexpr const char* kAdminInterface = "org.horavel.Admin1";

class AdminClient : public QObject {
    Q_OBJECT

public:
    using Reply = std::function<void(const QVariantList& arguments)>;
    using Failure = std::function<void(const QString& message)>;

    explicit AdminClient(const QDBusConnection& connection, QObject* parent = nullptr);

    // Calls `method` with `arguments` (their D-Bus types as QtDBus maps them; a{ss} as
    // QMap<QString, QString>), allowing polkit to ask for a password. Exactly one of `ok` and
    // `failed` runs later, unless `context` is gone by then.
    void call(const QString& method, const QVariantList& arguments, QObject* context, Reply ok, Failure failed);

    // The line shown to the user for a failed call: the service's own message without the name of
    // the horavelctl command it comes from, prefixed by what kind of failure it is unless it is bad
    // input.
    static QString describe(const QDBusError& error);

private:
    QDBusConnection bus;
};

}  // namespace hv::settings
