#include "settings/admin_client.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QMap>
#include <QRegularExpression>

namespace hv::settings {

namespace {

// Long enough for an administrator to find and type a password at polkit's prompt; the window does
// not wait for it, so this only bounds how long a call is shown as pending.
constexpr int kCallTimeoutMs = 10 * 60 * 1000;

}  // namespace

AdminClient::AdminClient(const QDBusConnection& connection, QObject* parent)
    : QObject(parent),
      bus(connection) {
    qDBusRegisterMetaType<QMap<QString, QString>>();
}

void AdminClient::call(const QString& method, const QVariantList& arguments, QObject* context, Reply ok,
                       Failure failed) {
    // A plain message rather than a QDBusInterface, which would introspect the service (and so
    // start it) synchronously when made.
    QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(kAdminService), QLatin1String(kAdminPath),
                                                          QLatin1String(kAdminInterface), method);
    message.setArguments(arguments);
    message.setInteractiveAuthorizationAllowed(true);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, kCallTimeoutMs), context);
    connect(watcher, &QDBusPendingCallWatcher::finished, context,
            [watcher, ok = std::move(ok), failed = std::move(failed)] {
                watcher->deleteLater();
                const QDBusMessage reply = watcher->reply();
                if (watcher->isError()) {
                    failed(describe(watcher->error()));
                } else {
                    ok(reply.arguments());
                }
            });
}

QString AdminClient::describe(const QDBusError& error) {
    const QString name = error.name();
    // The service's lines are horavelctl's, which begin with the command that refused ("horavelctl
    // policy: ") and, for a policy, with where the policy came from ("standard input: "). The parent
    // ran neither: the window shows what is wrong and leaves those out.
    static const QRegularExpression command(QStringLiteral("^horavelctl [a-z]+: (standard input: )?"));
    const QString message = error.message().remove(command);
    if (name == QLatin1String("org.horavel.Admin1.Error.Invalid")) return message;
    if (name == QLatin1String("org.horavel.Admin1.Error.NotAuthorized")) {
        return tr("Not authorised: %1").arg(message);
    }
    if (name == QLatin1String("org.horavel.Admin1.Error.Failed")) {
        return tr("Failed: %1").arg(message);
    }
    return tr("The admin service did not answer: %1")
        .arg(message);
}

}  // namespace hv::settings
