#pragma once
// The name of the default connection: NetworkManager's primary connection on Linux, the
// dial-up networking default entry on Windows.
#include <QDBusConnection>
#include <QString>
#include <memory>
#include <optional>

#include "metering/Sources.h"

namespace tallimer {

class NetworkManagerName : public ConnectionNameSource {
  public:
    // On the system bus, reconnecting when it was not there at the previous reading.
    explicit NetworkManagerName(int timeoutMs = 500);
    // On a given bus (tests use a private one).
    explicit NetworkManagerName(const QDBusConnection& bus, int timeoutMs = 500);

    // The primary connection's Id; empty when NetworkManager is absent, has no primary
    // connection, or does not answer within the timeout.
    std::string defaultConnectionName() override;

  private:
    QDBusConnection bus();
    std::optional<QVariant> property(const QDBusConnection& bus, const QString& path,
                                     const QString& interface, const QString& name) const;

    std::optional<QDBusConnection> bus_;  // empty: the system bus
    int timeoutMs_;
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
