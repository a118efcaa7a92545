#pragma once
// One running copy per user. The lock is an flock on a per-user file: atomic, and the kernel
// drops it with the process, so a crash never blocks the next start. The running copy
// listens on a per-user local socket; a second start sends it the "show yourself" message
// and ends.
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

class QSocketNotifier;
class QTimer;

namespace tallimer {

// The hand-over message, as text on the socket.
inline constexpr int kShowInstanceMessage = 2024;
// The command line's request for the session's state, answered and then closed.
inline constexpr const char* kStateRequest = "etat";

class InstanceLock {
  public:
    enum class Outcome {
        First,        // the lock is ours for the life of the process (or of this object)
        Second,       // another copy holds it
        Unprotected,  // the lock file cannot be had: run without protection
    };

    // folder: where the lock and the socket live, with no trailing separator; empty: nowhere
    // safe, the program runs without the lock.
    explicit InstanceLock(std::string folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Outcome acquire();
    const std::string& lockPath() const { return lockPath_; }
    const std::string& socketPath() const { return socketPath_; }

    // Where this user's lock and socket may live: $XDG_RUNTIME_DIR when it is this user's
    // own folder and closed to others' writes, else "tallimer-UID" in $TMPDIR or /tmp, a
    // folder of this user's closed to everyone else (made so when `make`). Empty, with the
    // reason in French in `why`, when there is none.
    static std::string PrivateFolder(bool make, std::string* why = nullptr);

  private:
    std::string lockPath_;
    std::string socketPath_;
    int fd_ = -1;
};

// The data folder's own lock, held for the life of the program, so that two copies never
// share one folder whatever their users or runtime folders: an flock on ".tallimer.lock"
// in the folder (on the folder itself when no such file can be opened). The holder writes
// its hand-over socket there, so a second copy can still reach it.
class DataFolderLock {
  public:
    // folder: the data folder, with its trailing separator.
    explicit DataFolderLock(std::string folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    InstanceLock::Outcome acquire(const std::string& socketPath);
    // After Second: the holder is a process of another user (nothing else tells who holds it).
    bool heldByAnotherUser() const { return otherUser_; }
    // A holder of another user in a folder closed to others can only be an intruder: the lock
    // is made anew beside it and taken. False when it cannot be.
    bool takeOver(const std::string& socketPath);
    // The socket the holder wrote in the lock file; empty when none can be read.
    std::string holderSocket() const;
    const std::string& lockPath() const { return lockPath_; }

  private:
    void writeSocket(const std::string& socketPath);

    std::string folder_;
    std::string lockPath_;
    int fd_ = -1;
    bool otherUser_ = false;
};

// Whether a folder is this user's own and nobody else may write in it.
bool OwnAndClosed(const std::string& folder);

// Each end of the hand-over talks only to a process of the same user.
// Sends the show message to the copy listening at socketPath. False when nobody listens.
bool SendShowMessage(const std::string& socketPath);
// Whether something accepts connections at socketPath.
bool SomeoneListens(const std::string& socketPath);
// The state request's answer from the copy listening at socketPath, waiting at most
// timeoutMs in all; nullopt when nobody answers in time. `listened` tells whether a copy took
// the request at all.
std::optional<std::string> AskState(const std::string& socketPath, int timeoutMs,
                                    bool* listened = nullptr);

// The running copy's end of the hand-over. Listen only while holding the lock.
// A plain AF_UNIX socket watched by the event loop: the program needs no network library.
class InstanceServer : public QObject {
    Q_OBJECT
  public:
    explicit InstanceServer(QObject* parent = nullptr);
    ~InstanceServer() override;
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;
    // A socket left by a crashed copy is removed, but only once connecting to it has failed.
    bool listen(const std::string& socketPath);
    // What a state request is answered; none: such a request is only closed.
    void setStateAnswer(std::function<std::string()> answer) { stateAnswer_ = std::move(answer); }

  signals:
    void showRequested();

  private:
    struct Client {
        QSocketNotifier* notifier;
        std::string buffer;
        std::int64_t since;  // monotonic ms of its connection
    };
    void accept();
    // Clients that said nothing whole for a while hold a place others need.
    void dropIdle();
    void take(int fd);
    void drop(int fd);

    int listener_ = -1;
    std::string path_;
    QSocketNotifier* incoming_ = nullptr;
    QTimer* idle_ = nullptr;
    std::map<int, Client> clients_;
    std::function<std::string()> stateAnswer_;
};

}  // namespace tallimer
