#include "shell/SessionBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMetaProperty>
#include <QTimer>
#include <cstdlib>

#include "metering/JournalStats.h"
#include "metering/Report.h"
#include "support/FieldText.h"

namespace tallimer {

namespace {

// The metering tick's second, give or take the slack the system allows its timer: a tick a
// little early still goes out, and nothing goes out twice within one tick.
constexpr std::int64_t kGapMs = 900;

}  // namespace

SessionBus::SessionBus(std::function<SessionState()> state, std::function<void()> showStatistics,
                       const Clock& clock, QObject* parent)
    : QObject(parent),
      state_(std::move(state)),
      showStatistics_(std::move(showStatistics)),
      clock_(clock),
      bus_(QString()),
      pending_(new QTimer(this)) {
    pending_->setSingleShot(true);
    connect(pending_, &QTimer::timeout, this, &SessionBus::emitNow);
}

void SessionBus::offer(QDBusConnection bus) {
    if (!bus.isConnected() || offered_) return;
    bus_ = bus;
    if (!bus_.registerObject(kBusPath, this,
                             QDBusConnection::ExportAllProperties |
                                 QDBusConnection::ExportScriptableSlots |
                                 QDBusConnection::ExportScriptableSignals))
        return;
    // DO_NOT_QUEUE: a copy that does not get the name does not wait in line for it.
    QDBusMessage request = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName");
    request << QString(kBusName) << 4u;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(request), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<uint> reply = *call;
                call->deleteLater();
                if (!reply.isError() && reply.value() == 1)  // the primary owner
                    offered_ = true;
                else
                    bus_.unregisterObject(kBusPath);
            });
}

namespace {

// What a widget must hear at once: another connection, its end, another account or rate.
bool Step(const SessionState& a, const SessionState& b) {
    return a.online != b.online || a.account != b.account || a.rateIcon != b.rateIcon ||
           a.connection != b.connection;
}

}  // namespace

void SessionBus::changed(const std::optional<SessionState>& ended) {
    if (!offered_) return;
    if (ended) ended_.push_back(*ended);
    const bool step = !ended_.empty() || !sent_ || Step(state_(), lastState_);
    if (!step && followers_.empty() && !pending_->isActive()) return;
    const std::int64_t since = clock_.monotonicMs() - lastSent_;
    if (!sent_ || since >= kGapMs)
        emitNow();
    else if (!pending_->isActive())
        pending_->start(static_cast<int>(kGapMs - since));
}

void SessionBus::emitNow() {
    pending_->stop();
    SessionState s;
    if (!ended_.empty()) {
        s = std::move(ended_.front());
        ended_.pop_front();
    } else {
        s = state_();
    }
    sent_ = true;
    lastSent_ = clock_.monotonicMs();
    lastState_ = s;
    publish(s);
    // A switch told its connection's last figures: the new one's follow a second later.
    if (!ended_.empty() || Step(state_(), lastState_)) pending_->start(static_cast<int>(kGapMs));
}

void SessionBus::publish(const SessionState& s) {
    publishing_ = &s;
    const QVariantMap all = properties();
    publishing_ = nullptr;
    const QString interface = QStringLiteral("org.example.tallimer.Session");
    QList<QDBusMessage> out{
        QDBusMessage::createSignal(kBusPath, interface, QStringLiteral("Changed"))};
    out.front() << all;
    QVariantMap changed;
    for (auto it = all.begin(); it != all.end(); ++it)
        if (published_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    published_ = all;
    if (!changed.isEmpty()) {
        out << QDBusMessage::createSignal(kBusPath,
                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                          QStringLiteral("PropertiesChanged"));
        out.back() << interface << changed << QStringList();
    }
    // Each message sent from this thread wakes the bus's own thread: handed over together,
    // they go out in one wake-up.
    QObject* const busSide = bus_.interface();
    if (busSide && busSide->thread() != thread()) {
        QMetaObject::invokeMethod(
            busSide,
            [bus = bus_, out] {
                for (const QDBusMessage& m : out) bus.send(m);
            },
            Qt::QueuedConnection);
    } else {
        for (const QDBusMessage& m : out) bus_.send(m);
    }
    emit publications_.sent(all);
}

QVariantMap SessionBus::properties() const {
    // One reading of the state for all of them.
    const SessionState s = state();
    const SessionState* const before = publishing_;
    publishing_ = &s;
    QVariantMap map;
    const QMetaObject* meta = metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        map.insert(meta->property(i).name(), meta->property(i).read(this));
    publishing_ = before;
    return map;
}

double SessionBus::Euros(float amount) {
    return std::strtod(NumberField(amount).c_str(), nullptr);
}

QString SessionBus::compte() const {
    return QString::fromStdString(Utf8(state().account));
}

QString SessionBus::finPeriode() const {
    const SessionState s = state();
    return !s.online || s.periodEnd == 0 ? QString() : QString::fromStdString(IsoDay(s.periodEnd));
}

QString SessionBus::ligne() const {
    return QString::fromStdString(StatusLine(state(), Locale::french()));
}

void SessionBus::Suivre() {
    if (calledFromDBus()) follow(message().service());
}

void SessionBus::follow(const QString& caller) {
    if (!followers_.insert(caller).second) return;
    if (!leaving_) {
        leaving_ = new QDBusServiceWatcher(this);
        leaving_->setConnection(bus_);
        leaving_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(leaving_, &QDBusServiceWatcher::serviceUnregistered, this,
                [this](const QString& name) {
                    followers_.erase(name);
                    leaving_->removeWatchedService(name);
                });
    }
    leaving_->addWatchedService(caller);
    // A caller gone before the watch was set would never be told of: the bus, asked after
    // setting it, says whether it is still there.
    QDBusMessage ask = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner");
    ask << caller;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, caller](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<bool> reply = *call;
                call->deleteLater();
                if (reply.isError() || reply.value()) return;
                followers_.erase(caller);
                leaving_->removeWatchedService(caller);
            });
}

void SessionBus::Afficher() {
    if (showStatistics_) showStatistics_();
}

}  // namespace tallimer
