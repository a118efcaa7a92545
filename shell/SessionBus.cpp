#include "shell/SessionBus.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMetaProperty>
#include <QTimer>

#include "metering/JournalStats.h"
#include "metering/Report.h"

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

void SessionBus::changed() {
    if (!offered_) return;
    const SessionState now = state_();
    const bool step = !sent_ || now.online != lastState_.online ||
                      now.account != lastState_.account || now.rateIcon != lastState_.rateIcon;
    if (!step && followers_.empty() && !pending_->isActive()) return;
    const std::int64_t since = clock_.monotonicMs() - lastSent_;
    if (!sent_ || since >= kGapMs)
        emitNow();
    else if (!pending_->isActive())
        pending_->start(static_cast<int>(kGapMs - since));
}

void SessionBus::emitNow() {
    pending_->stop();
    sent_ = true;
    lastSent_ = clock_.monotonicMs();
    lastState_ = state_();
    emit Changed(properties());
}

QVariantMap SessionBus::properties() const {
    QVariantMap map;
    const QMetaObject* meta = metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        map.insert(meta->property(i).name(), meta->property(i).read(this));
    return map;
}

QString SessionBus::compte() const {
    return QString::fromStdString(Utf8(state_().account));
}

QString SessionBus::finPeriode() const {
    const DateTime end = state_().periodEnd;
    return end == 0 ? QString() : QString::fromStdString(IsoDay(end));
}

QString SessionBus::ligne() const {
    return QString::fromStdString(StatusLine(state_(), Locale::french()));
}

void SessionBus::Suivre() {
    if (!calledFromDBus()) return;
    const QString caller = message().service();
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
}

void SessionBus::Afficher() {
    if (showStatistics_) showStatistics_();
}

}  // namespace tallimer
