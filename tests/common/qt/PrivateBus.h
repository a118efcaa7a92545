#pragma once
// A private D-Bus daemon for tests: no activatable services, every name may be owned and
// every call sent. The caller owns the process and ends it.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

namespace tallimer::test {

// Starts dbus-daemon listening at `listen`, with its configuration written into `folder`.
// Gives the bus address, or an empty text when the daemon did not start.
inline QString StartPrivateBus(QProcess& daemon, const QString& folder, const QString& listen) {
    const QString config = QDir(folder).filePath(QStringLiteral("bus.conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(QStringLiteral("<busconfig><type>session</type><listen>%1</listen>"
                           "<auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\"/>"
                           // Qt's own connection is refused without it
                           "<allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy>"
                           "</busconfig>")
                .arg(listen)
                .toUtf8());
    f.close();
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
    if (!daemon.waitForStarted(10000)) return {};
    while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
    }
    return QString::fromUtf8(daemon.readLine()).trimmed();
}

}  // namespace tallimer::test
