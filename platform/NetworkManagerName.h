#pragma once
// The name of the default connection: NetworkManager's primary connection on Linux, the
// dial-up networking default entry on Windows.
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "metering/Sources.h"

namespace tallimer {

class NetworkManagerName : public QObject, public ConnectionNameSource, public MeteredLinkSource {
    Q_OBJECT
  public:
    // A NetworkManager stopped a while still names the connection when it comes back.
    static constexpr int kAskMs = 25000;
    // On the system bus, reconnecting when it was not there at the previous reading or has
    // gone since (the bus daemon restarted).
    explicit NetworkManagerName(int timeoutMs = 500);
    // On a given bus (tests use a private one). askMs: how long an answer without blocking is
    // waited for before it is asked again.
    explicit NetworkManagerName(const QDBusConnection& bus, int timeoutMs = 500,
                                int askMs = kAskMs);

    // The primary connection's Id; empty when NetworkManager is absent, has no primary
    // connection, or does not answer within the timeout. A reading that fails otherwise is
    // made once more, on a new connection to the system bus.
    std::string defaultConnectionName() override;
    // The same without holding the thread: NetworkManager stopped or slow is waited for,
    // however late it answers; only its absence, or no primary connection, gives "".
    void askName(std::function<void(std::string)> answer) override;
    // Called when the primary connection becomes another connection (its UUID differs), or
    // the same one made active again by the same NetworkManager (a redial). A restarted
    // NetworkManager taking the running connection over under a new path is no switch. None
    // ("/") is none either: the link is going down. The primary connection is read again as
    // soon as NetworkManager or the system bus comes back.
    void setOnSwitch(std::function<void()> callback) override;
    void tick() override;
    // The primary connection's first device says Metered "yes" or "guess yes".
    bool linkMetered() override;

  private slots:
    void propertiesChanged(const QDBusMessage& message);
    void managerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

  private:
    // Why a reading gave no answer.
    enum class Failure { None, Timeout, Gone, Other };
    // The primary connection: its active connection's path, the NetworkManager that
    // published it (its unique bus name), its connection's UUID and Id.
    struct Primary {
        QString path, owner, uuid, id;
        QString device;  // its first device's path
    };

    // The active connection's Id, UUID and first device from its GetAll answer.
    static void Fill(Primary& primary, const QDBusMessage& active);
    QDBusConnection bus(bool renew);
    void subscribe(QDBusConnection& bus);
    // Reads the primary connection again and tells a switch.
    void recheck();
    std::optional<Primary> read(const QDBusConnection& bus, Failure& failure);
    void askName(std::function<void(std::string)> answer, int again);
    // The same, told to `done` once NetworkManager has answered.
    void readLater(const QDBusConnection& bus,
                   std::function<void(std::optional<Primary>, Failure)> done);
    std::optional<QDBusMessage> call(const QDBusConnection& bus, const QString& path,
                                     const QString& method, const QList<QVariant>& arguments,
                                     Failure& failure) const;

    std::optional<QDBusConnection> bus_;  // empty: the system bus
    int timeoutMs_;
    int askMs_ = kAskMs;
    std::function<void()> onSwitch_;
    bool subscribed_ = false;
    bool joined_ = false;  // the system bus was reached once
    Primary known_;        // the last real primary connection read
    bool fresh_ = false;   // known_ was read just now: a switch is being told
};

#ifdef Q_OS_WIN
// HKCU "RemoteAccess" / "default".
class RemoteAccessName : public ConnectionNameSource {
  public:
    std::string defaultConnectionName() override;
    // The same without holding the thread: NetworkManager stopped or slow is waited for,
    // however late it answers; only its absence, or no primary connection, gives "".
    void askName(std::function<void(std::string)> answer) override;
};
#endif

// The source of the platform the program was built for.
std::unique_ptr<ConnectionNameSource> MakeConnectionNameSource();

}  // namespace tallimer
