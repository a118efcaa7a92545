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

class NetworkManagerName : public QObject, public ConnectionNameSource {
    Q_OBJECT
  public:
    // On the system bus, reconnecting when it was not there at the previous reading or has
    // gone since (the bus daemon restarted).
    explicit NetworkManagerName(int timeoutMs = 500);
    // On a given bus (tests use a private one).
    explicit NetworkManagerName(const QDBusConnection& bus, int timeoutMs = 500);

    // The primary connection's Id; empty when NetworkManager is absent, has no primary
    // connection, or does not answer within the timeout. A reading that fails otherwise is
    // made once more, on a new connection to the system bus.
    std::string defaultConnectionName() override;
    // From NetworkManager's PropertiesChanged signal: a new primary connection other than
    // the one last read or heard of. None ("/") is no switch: the link is going down.
    void setOnSwitch(std::function<void()> callback) override;
    bool reportsSwitches() const override;

  private slots:
    void propertiesChanged(const QDBusMessage& message);

  private:
    // Why a reading gave no answer.
    enum class Failure { None, Timeout, Other };

    QDBusConnection bus(bool renew);
    void subscribe(QDBusConnection& bus);
    std::optional<std::string> read(const QDBusConnection& bus, Failure& failure);
    std::optional<QVariant> property(const QDBusConnection& bus, const QString& path,
                                     const QString& interface, const QString& name,
                                     Failure& failure) const;

    std::optional<QDBusConnection> bus_;  // empty: the system bus
    int timeoutMs_;
    std::function<void()> onSwitch_;
    bool subscribed_ = false;
    QString primary_;  // the primary connection's path, as last read or signalled
};

#ifdef Q_OS_WIN
// HKCU "RemoteAccess" / "default".
class RemoteAccessName : public ConnectionNameSource {
  public:
    std::string defaultConnectionName() override;
};
#endif

// The source of the platform the program was built for.
std::unique_ptr<ConnectionNameSource> MakeConnectionNameSource();

}  // namespace tallimer
