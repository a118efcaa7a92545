#include "platform/NetworkManagerName.h"

#include <QDBusArgument>
#include <QDBusError>
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
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");

}  // namespace

NetworkManagerName::NetworkManagerName(int timeoutMs) : timeoutMs_(timeoutMs) {}

NetworkManagerName::NetworkManagerName(const QDBusConnection& bus, int timeoutMs)
    : bus_(bus), timeoutMs_(timeoutMs) {}

QDBusConnection NetworkManagerName::bus(bool renew) {
    if (bus_) {
        subscribe(*bus_);
        return *bus_;
    }
    QDBusConnection c = QDBusConnection::connectToBus(QDBusConnection::SystemBus, kSystemBusName);
    // A connection that has died (the daemon restarted) stays under its name until dropped:
    // dropped now, so this reading gets a live one.
    if (renew || !c.isConnected()) {
        QDBusConnection::disconnectFromBus(kSystemBusName);
        subscribed_ = false;
        c = QDBusConnection::connectToBus(QDBusConnection::SystemBus, kSystemBusName);
        if (!c.isConnected()) {
            QDBusConnection::disconnectFromBus(kSystemBusName);
            return c;
        }
    }
    subscribe(c);
    return c;
}

void NetworkManagerName::subscribe(QDBusConnection& bus) {
    if (subscribed_ || !onSwitch_ || !bus.isConnected()) return;
    subscribed_ = bus.connect(
        kService, kManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), this, SLOT(propertiesChanged(QDBusMessage)));
}

void NetworkManagerName::setOnSwitch(std::function<void()> callback) {
    onSwitch_ = std::move(callback);
    if (!onSwitch_) return;
    QDBusConnection b = bus(false);
    subscribe(b);
}

bool NetworkManagerName::reportsSwitches() const {
    // A bus that has gone (the daemon restarted) brings no signal until the next reading.
    const bool live = bus_ ? bus_->isConnected() : QDBusConnection(kSystemBusName).isConnected();
    return subscribed_ && live && !primary_.isEmpty() && primary_ != QLatin1String("/");
}

void NetworkManagerName::propertiesChanged(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || args[0].toString() != kService) return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(args[1]);
    const auto it = changed.constFind(QStringLiteral("PrimaryConnection"));
    if (it == changed.constEnd() || it->metaType() != QMetaType::fromType<QDBusObjectPath>())
        return;
    const QString path = qvariant_cast<QDBusObjectPath>(*it).path();
    if (path == primary_) return;  // already read at the connection's start
    primary_ = path;
    if (path.isEmpty() || path == QLatin1String("/") || !onSwitch_) return;
    std::function<void()> callback = onSwitch_;  // may be replaced while it runs
    callback();
}

std::optional<QVariant> NetworkManagerName::property(const QDBusConnection& bus,
                                                     const QString& path, const QString& interface,
                                                     const QString& name, Failure& failure) const {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << name;
    // Blocking on the GUI thread: the timeout bounds how long a hung bus can hold it.
    QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QDBusError::ErrorType type = QDBusError(reply).type();
        failure = type == QDBusError::NoReply || type == QDBusError::Timeout ||
                          type == QDBusError::TimedOut
                      ? Failure::Timeout
                      : Failure::Other;
        return std::nullopt;
    }
    if (reply.arguments().isEmpty()) return QVariant();
    const QVariant first = reply.arguments().constFirst();
    if (!first.canConvert<QDBusVariant>()) return QVariant();
    return qvariant_cast<QDBusVariant>(first).variant();
}

// The name, or nothing when NetworkManager did not answer.
std::optional<std::string> NetworkManagerName::read(const QDBusConnection& b, Failure& failure) {
    auto primary =
        property(b, kManagerPath, kService, QStringLiteral("PrimaryConnection"), failure);
    if (!primary) return std::nullopt;
    if (primary->metaType() != QMetaType::fromType<QDBusObjectPath>()) return std::string();
    const QString path = qvariant_cast<QDBusObjectPath>(*primary).path();
    primary_ = path;
    if (path.isEmpty() || path == QLatin1String("/")) return std::string();
    // An active connection that is gone by now (a restart) is no answer: read again.
    auto id = property(b, path, QStringLiteral("org.freedesktop.NetworkManager.Connection.Active"),
                       QStringLiteral("Id"), failure);
    if (!id) return std::nullopt;
    if (id->metaType() != QMetaType::fromType<QString>()) return std::string();
    return id->toString().toStdString();
}

std::string NetworkManagerName::defaultConnectionName() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        QDBusConnection b = bus(attempt > 0);
        if (!b.isConnected()) continue;
        Failure failure = Failure::None;
        if (std::optional<std::string> name = read(b, failure)) return *name;
        // A bus that hangs is waited for once: a second wait would freeze the window twice.
        if (failure == Failure::Timeout) break;
    }
    primary_.clear();
    return {};
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
