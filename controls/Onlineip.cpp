#include "controls/Onlineip.h"

#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <memory>
#include <stdexcept>

#include "controls/ErrorReport.h"
#include "platform/HostAddresses.h"

namespace tallimer {

namespace {

// The machine's own list, read over one socket for the detector's whole life.
TOnlineIP::AddressList MachineAddresses() {
    return [reader = std::make_shared<HostAddressReader>()] { return reader->read(); };
}

}  // namespace

TOnlineIP::TOnlineIP(QObject* owner, AddressList addresses)
    : QObject(owner),
      timer_(new QTimer(this)),
      addresses_(addresses ? std::move(addresses) : MachineAddresses()) {
    // Precise: the next poll comes one full period after a restart, not up to 5% sooner.
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &TOnlineIP::timerFired);
    UpdateTimer();
}

TOnlineIP::~TOnlineIP() {
    enabled_ = false;
    UpdateTimer();
}

void TOnlineIP::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    UpdateTimer();
}

void TOnlineIP::SetDispatchInterval(unsigned milliseconds) {
    if (milliseconds == dispatchInterval_) return;
    dispatchInterval_ = milliseconds;
    UpdateTimer();
}

// QTimer counts in int: a longer period is as good as never.
int TOnlineIP::period() const {
    return static_cast<int>(std::min<unsigned>(dispatchInterval_, INT_MAX));
}

void TOnlineIP::UpdateTimer() {
    timer_->stop();
    dueInMs_ = period();
    if (polling() && !Riding()) timer_->start(period());
}

void TOnlineIP::timerFired() {
    // The first poll after riding came early to keep the phase; the period follows.
    if (timer_->interval() != period()) timer_->setInterval(period());
    Poll();
}

void TOnlineIP::RideTick(unsigned tickMs) {
    if (tickMs == ridingTick_) return;
    const bool wasRiding = Riding();
    ridingTick_ = tickMs;
    if (Riding() && !wasRiding) {
        dueInMs_ = timer_->isActive() ? timer_->remainingTime() : period();
        timer_->stop();
    } else if (!Riding() && polling()) {
        timer_->start(static_cast<int>(std::clamp<long long>(dueInMs_, 0, period())));
    }
}

void TOnlineIP::Tick() {
    if (!Riding() || !polling()) return;
    dueInMs_ -= ridingTick_;
    // The tick nearest the due time polls: every second tick for 2 s over 1 s.
    if (dueInMs_ > static_cast<long long>(ridingTick_ / 2)) return;
    dueInMs_ = std::max<long long>(dueInMs_ + period(), ridingTick_);
    Poll();
}

void TOnlineIP::report(const std::exception& error) {
    // Queued: the poll never waits for a person, and a poll that fails the same way while
    // the box is up adds none.
    if (reporting_) return;
    reporting_ = true;
    try {
        ReportExceptionLater(this, error);
    } catch (...) {
    }
    reporting_ = false;
}

bool TOnlineIP::notify(void (TOnlineIP::*event)(QObject*)) {
    QPointer<TOnlineIP> alive(this);
    try {
        emit(this->*event)(this);
    } catch (const std::exception& e) {
        report(e);
    } catch (...) {
        report(std::runtime_error("Exception inconnue"));
    }
    return alive;
}

void TOnlineIP::Poll() {
    const QString previous = ip_;
    try {
        const std::vector<std::string> list = addresses_();
        ip_ = list.empty() ? QString() : QString::fromStdString(list.back());
    } catch (const std::exception& e) {
        report(e);
        return;
    } catch (...) {
        report(std::runtime_error("Exception inconnue"));
        return;
    }
    const bool was = online_;
    online_ = !ip_.isEmpty() && ip_ != QLatin1String("127.0.0.1");
    if (online_ && was && ip_ != previous) {
        notify(&TOnlineIP::OnIPChanged);
        return;
    }
    if (online_ == was) return;

    // A failing slot does not keep the handler from hearing of the change.
    if (!notify(&TOnlineIP::OnChanged) || !handler_) return;
    try {
        ChangedHandler handler = handler_;  // may be replaced while it runs
        handler(this);
    } catch (const std::exception& e) {
        report(e);
    } catch (...) {
        report(std::runtime_error("Exception inconnue"));
    }
}

}  // namespace tallimer
