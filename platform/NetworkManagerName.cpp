#include "platform/NetworkManagerName.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace tallimer {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSystemBusName = QStringLiteral("tallimer-system-bus");

}  // namespace

NetworkManagerName::NetworkManagerName(int timeoutMs) : timeoutMs_(timeoutMs) {}

NetworkManagerName::NetworkManagerName(const QDBusConnection& bus, int timeoutMs)
    : bus_(bus), timeoutMs_(timeoutMs) {}

QDBusConnection NetworkManagerName::bus() {
    if (bus_) return *bus_;
    // A bus that was not up at the last reading may be now: a failed connection is dropped
    // and tried again.
    QDBusConnection c = QDBusConnection::connectToBus(QDBusConnection::SystemBus, kSystemBusName);
    if (!c.isConnected()) {
        QDBusConnection::disconnectFromBus(kSystemBusName);
    }
    return c;
}

std::optional<QVariant> NetworkManagerName::property(const QDBusConnection& bus,
                                                     const QString& path, const QString& interface,
                                                     const QString& name) const {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << name;
    // Blocking on the GUI thread: the timeout bounds how long a hung bus can hold it.
    QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant first = reply.arguments().constFirst();
    if (!first.canConvert<QDBusVariant>()) return std::nullopt;
    return qvariant_cast<QDBusVariant>(first).variant();
}

std::string NetworkManagerName::defaultConnectionName() {
    QDBusConnection b = bus();
    if (!b.isConnected()) return {};
    auto primary = property(b, QStringLiteral("/org/freedesktop/NetworkManager"), kService,
                            QStringLiteral("PrimaryConnection"));
    if (!primary || primary->metaType() != QMetaType::fromType<QDBusObjectPath>()) return {};
    const QString path = qvariant_cast<QDBusObjectPath>(*primary).path();
    if (path.isEmpty() || path == QLatin1String("/")) return {};
    auto id = property(b, path, QStringLiteral("org.freedesktop.NetworkManager.Connection.Active"),
                       QStringLiteral("Id"));
    if (!id || id->metaType() != QMetaType::fromType<QString>()) return {};
    return id->toString().toStdString();
}

#ifdef Q_OS_WIN
std::string RemoteAccessName::defaultConnectionName() {
    QSettings key(QStringLiteral("HKEY_CURRENT_USER\\RemoteAccess"), QSettings::NativeFormat);
    return key.value(QStringLiteral("default")).toString().toStdString();
}
#endif

std::unique_ptr<ConnectionNameSource> MakeConnectionNameSource() {
#ifdef Q_OS_WIN
    return std::make_unique<RemoteAccessName>();
#else
    return std::make_unique<NetworkManagerName>();
#endif
}

}  // namespace tallimer
