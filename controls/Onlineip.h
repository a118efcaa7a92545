#pragma once
// TOnlineIP: decides by polling whether the machine is on line, and keeps its address.
// On line means only that the machine's address list ends with an address other than the
// loopback one.
#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QTimer;

namespace tallimer {

class TOnlineIP : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(uint DispatchInterval READ DispatchInterval WRITE SetDispatchInterval)
    Q_PROPERTY(bool Online READ Online WRITE SetNoneBool)
    Q_PROPERTY(QString IP READ IP WRITE SetNoneStr)

  public:
    // The machine's addresses in the order that decides: the last one wins.
    using AddressList = std::function<std::vector<std::string>()>;
    using ChangedHandler = std::function<void(QObject* sender)>;

    // Polls every 1000 ms from the start; addresses default to the machine's own.
    explicit TOnlineIP(QObject* owner = nullptr, AddressList addresses = {});
    ~TOnlineIP() override;

    bool Enabled() const { return enabled_; }
    unsigned DispatchInterval() const { return dispatchInterval_; }
    bool Online() const { return online_; }
    QString IP() const { return ip_; }
    const ChangedHandler& OnChangedHandler() const { return handler_; }

    // Act only on a change, so the running timer keeps its phase.
    void SetEnabled(bool enabled);
    void SetDispatchInterval(unsigned milliseconds);
    // Online and IP are results; what is written to them is ignored.
    void SetNoneBool(bool) {}
    void SetNoneStr(const QString&) {}
    // Called after the OnChanged signal, with the detector as sender.
    void SetOnChanged(ChangedHandler handler) { handler_ = std::move(handler); }

    // Stops the timer and, when enabled with a period, starts it again: the next poll comes
    // one full period after the call.
    void UpdateTimer();
    // One poll, as the timer runs it. Errors go to the standard error report.
    void Poll();

    // While the one-second tick of a metered connection runs, the polls ride on it (Tick
    // every tickMs) instead of waking the process on a timer of their own: one wake-up a
    // second, a poll every DispatchInterval as before. 0 gives the detector its own timer
    // back, the next poll keeping its phase.
    void RideTick(unsigned tickMs);
    void Tick();
    bool Riding() const { return ridingTick_ != 0; }

  signals:
    // Online has changed; IP and Online already hold the new values.
    void OnChanged(QObject* sender);
    // On line before and after, under another address. Only the address shown follows it:
    // which connection is in use is the connection name source's to say.
    void OnIPChanged(QObject* sender);

  private:
    void report(const std::exception& error);
    // Emits, reporting what the slots throw; false when the detector is gone meanwhile.
    bool notify(void (TOnlineIP::*event)(QObject*));
    void timerFired();
    bool polling() const { return enabled_ && dispatchInterval_ != 0; }
    int period() const;

    bool enabled_ = true;
    unsigned dispatchInterval_ = 1000;
    QTimer* timer_;
    bool online_ = false;
    QString ip_;
    ChangedHandler handler_;
    AddressList addresses_;
    bool reporting_ = false;
    unsigned ridingTick_ = 0;
    long long dueInMs_ = 0;  // while riding: time left until the next poll
};

}  // namespace tallimer
