#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so the program ends
// through its normal saving path. The handler only writes to a pipe; nothing is saved
// inside it.
#include <QObject>

class QSocketNotifier;

namespace tallimer {

class ExitSignals : public QObject {
    Q_OBJECT
  public:
    // One watcher per process; a second one throws.
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

  signals:
    void exitRequested(int signalNumber);

  private:
    void drain();
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tallimer
