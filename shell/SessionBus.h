#pragma once
// The metering session on the desktop's session bus, under the program's AppStream id: its
// state as properties, a Changed signal at most once a second, and « Afficher », which opens
// the statistics window. Changed goes out when a connection starts, ends or changes account
// or rate, and at every tick only while some client follows it (« Suivre »): each signal
// wakes the bus's thread, and a meter nobody watches keeps to one wake-up a second. Without a
// session bus, or with the name already someone else's, nothing is offered and the program runs as
// before.
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QVariantMap>
#include <functional>
#include <set>

#include "metering/SessionState.h"
#include "support/Clock.h"

class QDBusServiceWatcher;
class QTimer;

namespace tallimer {

inline constexpr const char* kBusName = "org.example.tallimer";
inline constexpr const char* kBusPath = "/org/example/tallimer";

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
    // After each metering step: Changed goes out now, or once the second is over.
    void changed();
    // Every property by name, as Changed carries them.
    QVariantMap properties() const;

    bool enLigne() const { return state_().online; }
    QString compte() const;
    qlonglong dureeConnexionMs() const { return state_().connectionMs; }
    double coutConnexionEur() const { return state_().connectionCost; }
    int tarif() const { return state_().rateIcon; }
    qlonglong dureePeriodeMs() const { return state_().periodMs; }
    double coutPeriodeEur() const { return state_().periodCost; }
    bool forfait() const { return state_().packageEnabled; }
    qlonglong forfaitRestantMs() const { return state_().packageLeftMs; }
    QString finPeriode() const;
    qlonglong dureeTotaleMs() const { return state_().overallMs; }
    double coutTotalEur() const { return state_().overallCost; }
    QString ligne() const;

  public slots:
    Q_SCRIPTABLE void Afficher();
    // The caller gets Changed at every tick until it leaves the bus.
    Q_SCRIPTABLE void Suivre();

  signals:
    Q_SCRIPTABLE void Changed(const QVariantMap& etat);

  private:
    void emitNow();

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
};

}  // namespace tallimer
