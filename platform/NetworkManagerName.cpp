#include "platform/NetworkManagerName.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace tallimer {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSystemBusName = QStringLiteral("tallimer-system-bus");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");

// Read at each connection rather than once per process as the bus library does, so a system
// bus started anew elsewhere is found.
QString SystemBusAddress() {
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    return address.isEmpty() ? QStringLiteral("unix:path=/run/dbus/system_bus_socket") : address;
}

}  // namespace

void NetworkManagerName::Fill(Primary& primary, const QDBusMessage& active) {
    const QVariantMap values = qdbus_cast<QVariantMap>(active.arguments()[0]);
    auto text = [&](const char* name) {
        const QVariant v = values.value(QLatin1String(name));
        return v.metaType() == QMetaType::fromType<QString>() ? v.toString() : QString();
    };
    primary.id = text("Id");
    primary.uuid = text("Uuid");
    const auto devices =
        qdbus_cast<QList<QDBusObjectPath>>(values.value(QStringLiteral("Devices")));
    if (!devices.isEmpty()) primary.device = devices.first().path();
}

NetworkManagerName::NetworkManagerName(int timeoutMs) : timeoutMs_(timeoutMs) {}

NetworkManagerName::NetworkManagerName(const QDBusConnection& bus, int timeoutMs, int askMs)
    : bus_(bus), timeoutMs_(timeoutMs), askMs_(askMs) {}

QDBusConnection NetworkManagerName::bus(bool renew) {
    if (bus_) {
        subscribe(*bus_);
        return *bus_;
    }
    QDBusConnection c = QDBusConnection::connectToBus(SystemBusAddress(), kSystemBusName);
    // A connection that has died (the daemon restarted) stays under its name until dropped:
    // dropped now, so this reading gets a live one.
    if (renew || !c.isConnected()) {
        QDBusConnection::disconnectFromBus(kSystemBusName);
        subscribed_ = false;
        // A new bus gives unique names afresh: the old NetworkManager's may come back.
        known_.owner.clear();
        c = QDBusConnection::connectToBus(SystemBusAddress(), kSystemBusName);
        if (!c.isConnected()) {
            QDBusConnection::disconnectFromBus(kSystemBusName);
            return c;
        }
    }
    joined_ = true;
    subscribe(c);
    return c;
}

void NetworkManagerName::subscribe(QDBusConnection& bus) {
    if (subscribed_ || !onSwitch_ || !bus.isConnected()) return;
    subscribed_ =
        bus.connect(kService, kManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("PropertiesChanged"), this,
                    SLOT(propertiesChanged(QDBusMessage))) &&
        bus.connect(kBusService, QStringLiteral("/org/freedesktop/DBus"), kBusService,
                    QStringLiteral("NameOwnerChanged"), {kService}, QString(), this,
                    SLOT(managerChanged(QString, QString, QString)));
}

void NetworkManagerName::setOnSwitch(std::function<void()> callback) {
    onSwitch_ = std::move(callback);
    if (!onSwitch_) return;
    QDBusConnection b = bus(false);
    subscribe(b);
}

void NetworkManagerName::tick() {
    // A system bus that restarts takes the connection down with it, silently: looked at
    // with each tick of metering, so the new bus is joined at once. A machine that never had
    // one is not asked every second.
    if (bus_ || !onSwitch_ || !joined_) return;
    if (subscribed_ && QDBusConnection(kSystemBusName).isConnected()) return;
    // The bus is back: what happened meanwhile is read at once.
    if (bus(false).isConnected() && subscribed_) recheck();
}

void NetworkManagerName::propertiesChanged(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || args[0].toString() != kService) return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(args[1]);
    if (changed.contains(QStringLiteral("PrimaryConnection"))) recheck();
}

void NetworkManagerName::managerChanged(const QString&, const QString&, const QString& newOwner) {
    // NetworkManager is back: a switch made while it was away is told now, not at the next
    // connection.
    if (!newOwner.isEmpty()) recheck();
}

void NetworkManagerName::recheck() {
    if (!onSwitch_) return;
    QDBusConnection b = bus(false);
    readLater(b, [this](std::optional<Primary> now, Failure) {
        if (!onSwitch_ || !now || now->path.isEmpty() || now->path == QLatin1String("/")) return;
        const Primary before = known_;
        known_ = *now;
        // Nothing known yet is no switch: the connection in progress keeps the name it has.
        if (before.path.isEmpty()) return;
        if (now->path == before.path && now->owner == before.owner) return;  // read already
        // A restarted NetworkManager taking the same connection over is no new call; the same
        // NetworkManager making it active again (a new path) is a redial.
        if (now->owner != before.owner && !now->uuid.isEmpty() && now->uuid == before.uuid) return;
        std::function<void(void)> callback = onSwitch_;  // may be replaced while it runs
        fresh_ = true;
        callback();
        fresh_ = false;
    });
}

void NetworkManagerName::readLater(const QDBusConnection& b,
                                   std::function<void(std::optional<Primary>, Failure)> done) {
    auto failure = [](const QDBusError& error) {
        const QDBusError::ErrorType type = error.type();
        return type == QDBusError::NoReply || type == QDBusError::Timeout ||
                       type == QDBusError::TimedOut
                   ? Failure::Timeout
                   : Failure::Other;
    };
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kService << QStringLiteral("PrimaryConnection");
    auto* first = new QDBusPendingCallWatcher(b.asyncCall(get, askMs_), this);
    connect(first, &QDBusPendingCallWatcher::finished, this,
            [this, b, done, failure](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusMessage reply = call->reply();
                if (call->isError()) return done(std::nullopt, failure(call->error()));
                Primary primary;
                primary.owner = reply.service();
                const QList<QVariant> args = reply.arguments();
                if (!args.isEmpty() && args[0].canConvert<QDBusVariant>()) {
                    const QVariant path = qvariant_cast<QDBusVariant>(args[0]).variant();
                    if (path.metaType() == QMetaType::fromType<QDBusObjectPath>())
                        primary.path = qvariant_cast<QDBusObjectPath>(path).path();
                }
                if (primary.path.isEmpty() || primary.path == QLatin1String("/"))
                    return done(primary, Failure::None);
                QDBusMessage all = QDBusMessage::createMethodCall(
                    kService, primary.path, QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("GetAll"));
                all << kActive;
                auto* second = new QDBusPendingCallWatcher(b.asyncCall(all, askMs_), this);
                connect(second, &QDBusPendingCallWatcher::finished, this,
                        [done, primary, failure](QDBusPendingCallWatcher* call) mutable {
                            call->deleteLater();
                            // An active connection gone by now (a restart) is no answer.
                            if (call->isError())
                                return done(std::nullopt, failure(call->error()) == Failure::Timeout
                                                              ? Failure::Timeout
                                                              : Failure::Gone);
                            const QDBusMessage active = call->reply();
                            if (!active.arguments().isEmpty()) Fill(primary, active);
                            done(primary, Failure::None);
                        });
            });
}

void NetworkManagerName::askName(std::function<void(std::string)> answer) {
    askName(std::move(answer), 2);
}

void NetworkManagerName::askName(std::function<void(std::string)> answer, int again) {
    // A switch being told: its connection was read just now.
    if (fresh_) return answer(known_.id.toStdString());
    QDBusConnection b = bus(false);
    if (!b.isConnected()) return answer({});
    readLater(b, [this, answer, again](std::optional<Primary> primary, Failure failure) {
        if (primary) {
            if (!primary->id.isEmpty() || !primary->uuid.isEmpty()) known_ = *primary;
            return answer(primary->id.toStdString());
        }
        // Stopped or busy: waited for again; its connection gone meanwhile: read again, a few
        // times. Gone, or never there: no name.
        if (failure == Failure::Timeout) return askName(answer, again);
        if (failure == Failure::Gone && again > 0) return askName(answer, again - 1);
        answer({});
    });
}

std::optional<QDBusMessage> NetworkManagerName::call(const QDBusConnection& bus,
                                                     const QString& path, const QString& method,
                                                     const QList<QVariant>& arguments,
                                                     Failure& failure) const {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, path, QStringLiteral("org.freedesktop.DBus.Properties"), method);
    call.setArguments(arguments);
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
    return reply;
}

// The primary connection, or nothing when NetworkManager did not answer.
std::optional<NetworkManagerName::Primary> NetworkManagerName::read(const QDBusConnection& b,
                                                                    Failure& failure) {
    auto reply = call(b, kManagerPath, QStringLiteral("Get"),
                      {kService, QStringLiteral("PrimaryConnection")}, failure);
    if (!reply) return std::nullopt;
    Primary primary;
    primary.owner = reply->service();
    const QList<QVariant> args = reply->arguments();
    if (args.isEmpty() || !args[0].canConvert<QDBusVariant>()) return primary;
    const QVariant path = qvariant_cast<QDBusVariant>(args[0]).variant();
    if (path.metaType() != QMetaType::fromType<QDBusObjectPath>()) return primary;
    primary.path = qvariant_cast<QDBusObjectPath>(path).path();
    if (primary.path.isEmpty() || primary.path == QLatin1String("/")) return primary;
    // An active connection that is gone by now (a restart) is no answer: read again.
    auto active = call(b, primary.path, QStringLiteral("GetAll"), {kActive}, failure);
    if (!active) return std::nullopt;
    if (!active->arguments().isEmpty()) Fill(primary, *active);
    return primary;
}

std::string NetworkManagerName::defaultConnectionName() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        QDBusConnection b = bus(attempt > 0);
        if (!b.isConnected()) continue;
        Failure failure = Failure::None;
        if (std::optional<Primary> primary = read(b, failure)) {
            if (!primary->id.isEmpty() || !primary->uuid.isEmpty()) known_ = *primary;
            return primary->id.toStdString();
        }
        // A bus that hangs is waited for once: a second wait would freeze the window twice.
        if (failure == Failure::Timeout) break;
    }
    return {};
}

bool NetworkManagerName::linkMetered() {
    QDBusConnection b = bus(false);
    if (!b.isConnected()) return false;
    Failure failure = Failure::None;
    const std::optional<Primary> primary = read(b, failure);
    if (!primary || primary->device.isEmpty()) return false;
    auto reply =
        call(b, primary->device, QStringLiteral("Get"),
             {QStringLiteral("org.freedesktop.NetworkManager.Device"), QStringLiteral("Metered")},
             failure);
    if (!reply || reply->arguments().isEmpty()) return false;
    const QVariant value = qvariant_cast<QDBusVariant>(reply->arguments()[0]).variant();
    if (value.metaType() != QMetaType::fromType<uint>()) return false;
    constexpr uint kMeteredYes = 1, kMeteredGuessYes = 3;  // NetworkManager's NMMetered
    return value.toUInt() == kMeteredYes || value.toUInt() == kMeteredGuessYes;
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
