#pragma once
// The metering session on the desktop's session bus, under the program's AppStream id: its
// state as properties, a Changed signal at most once a second, and « Afficher », which opens
// the statistics window. Changed goes out when a connection starts, ends or changes account
// or rate, and at every tick only while some client follows it (« Suivre »): each signal
// wakes the bus's thread, and a meter nobody watches keeps to one wake-up a second.
// PropertiesChanged, with the properties that changed, goes out with each Changed, for the
// clients that keep a copy of the properties. Without a
// session bus, or with the name already someone else's, nothing is offered and the program runs as
// before.
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QVariantMap>
#include <deque>
#include <functional>
#include <optional>
#include <set>

#include "metering/SessionState.h"
#include "support/Clock.h"

class QDBusServiceWatcher;
class QTimer;

namespace tallimer {

inline constexpr const char* kBusName = "org.example.tallimer";
inline constexpr const char* kBusPath = "/org/example/tallimer";

// Within the program, what Changed has just carried. Not the service's own signal: every
// signal of the service, exported or not, costs the bus's thread a wake-up.
class Publications : public QObject {
    Q_OBJECT
  signals:
    void sent(const QVariantMap& etat);
};

class SessionBus : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.example.tallimer.Session")
    Q_PROPERTY(bool EnLigne READ enLigne)
    Q_PROPERTY(QString Compte READ compte)
    Q_PROPERTY(qlonglong DureeConnexionMs READ dureeConnexionMs)
    Q_PROPERTY(double CoutConnexionEur READ coutConnexionEur)
    Q_PROPERTY(int Tarif READ tarif)
    Q_PROPERTY(qlonglong DureePeriodeMs READ dureePeriodeMs)
    Q_PROPERTY(double CoutPeriodeEur READ coutPeriodeEur)
    Q_PROPERTY(bool Forfait READ forfait)
    Q_PROPERTY(qlonglong ForfaitRestantMs READ forfaitRestantMs)
    Q_PROPERTY(QString FinPeriode READ finPeriode)
    Q_PROPERTY(qlonglong DureeTotaleMs READ dureeTotaleMs)
    Q_PROPERTY(double CoutTotalEur READ coutTotalEur)
    Q_PROPERTY(QString Ligne READ ligne)

  public:
    // state: the session's state as it stands; showStatistics: what Ctrl+T does.
    SessionBus(std::function<SessionState()> state, std::function<void()> showStatistics,
               const Clock& clock, QObject* parent = nullptr);
    // Asks for the name without waiting for the answer; offered() once it is ours.
    void offer(QDBusConnection bus);
    bool offered() const { return offered_; }
    // After each metering step: Changed goes out now, or once the second is over. `ended`: the
    // last figures of a connection that a switch ended, told before the new one's.
    void changed(const std::optional<SessionState>& ended = std::nullopt);
    // Every property by name, as Changed carries them.
    QVariantMap properties() const;
    Publications* publications() { return &publications_; }
    // The callers of « Suivre » still on the bus.
    std::size_t followers() const { return followers_.size(); }

    bool enLigne() const { return state().online; }
    QString compte() const;
    qlonglong dureeConnexionMs() const { return state().connectionMs; }
    double coutConnexionEur() const { return Euros(state().connectionCost); }
    int tarif() const { return state().rateIcon; }
    qlonglong dureePeriodeMs() const { return state().periodMs; }
    double coutPeriodeEur() const { return Euros(state().periodCost); }
    bool forfait() const { return state().packageEnabled; }
    qlonglong forfaitRestantMs() const { return state().packageLeftMs; }
    QString finPeriode() const;
    qlonglong dureeTotaleMs() const { return state().overallMs; }
    double coutTotalEur() const { return Euros(state().overallCost); }
    QString ligne() const;

    // An amount as the double nearest the shortest decimal of its float: 0.74, not
    // 0.7400000095367432, for the clients that print what they receive.
    static double Euros(float amount);

  public slots:
    Q_SCRIPTABLE void Afficher();
    // The caller gets Changed at every tick until it leaves the bus.
    Q_SCRIPTABLE void Suivre();

  signals:
    // Described on the bus; sent as a message with PropertiesChanged, never emitted here.
    Q_SCRIPTABLE void Changed(const QVariantMap& etat);

  private:
    void emitNow();
    // The state being published, or the session's as it stands.
    SessionState state() const { return publishing_ ? *publishing_ : state_(); }
    // Every property of `s` that differs from what was last published.
    void publish(const SessionState& s);
    void follow(const QString& caller);

    std::function<SessionState()> state_;
    std::function<void()> showStatistics_;
    const Clock& clock_;
    QDBusConnection bus_;
    QTimer* pending_;
    QDBusServiceWatcher* leaving_ = nullptr;
    std::set<QString> followers_;
    bool offered_ = false;
    bool sent_ = false;
    SessionState lastState_;
    std::int64_t lastSent_ = 0;
    std::deque<SessionState> ended_;  // last figures still to tell, in order
    mutable const SessionState* publishing_ = nullptr;
    QVariantMap published_;  // as PropertiesChanged last told them
    Publications publications_;
};

}  // namespace tallimer
