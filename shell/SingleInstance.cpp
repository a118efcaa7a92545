#include "shell/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace tallimer {

namespace {

// The socket address of path; false when the path is too long for one.
bool UnixAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    if (path.size() >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Whether the process at the other end of a connected socket is this user's.
bool PeerIsUs(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// A connected AF_UNIX stream socket to path, or -1. Another user's listener is not talked to.
int ConnectTo(const std::string& path) {
    sockaddr_un address;
    if (!UnixAddress(path, address)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        !PeerIsUs(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ClosedToOthers(const struct stat& st, mode_t forbidden) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & forbidden) == 0;
}

// The user who runs the process holding an flock on the file open as fd; nullopt when unknown.
std::optional<uid_t> FlockHolder(int fd) {
    struct stat file {};
    if (::fstat(fd, &file) != 0) return std::nullopt;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF": the holder's pid and the inode.
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                  static_cast<unsigned long long>(file.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, inode;
        fields >> number >> kind;
        if (kind == "->") fields >> kind;  // a waiter
        fields >> mode >> access >> pid >> inode;
        if (kind != "FLOCK" || inode != wanted) continue;
        struct stat process {};
        if (::stat(("/proc/" + pid).c_str(), &process) == 0) return process.st_uid;
    }
    return std::nullopt;
}

}  // namespace

bool OwnAndClosed(const std::string& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && ClosedToOthers(st, S_IWGRP | S_IWOTH);
}

InstanceLock::InstanceLock(std::string folder) {
    if (folder.empty()) return;
    std::string base = folder + "/tallimer-" + std::to_string(::getuid());
    lockPath_ = base + ".lock";
    socketPath_ = base + ".socket";
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLock::PrivateFolder(bool make, std::string* why) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        if (OwnAndClosed(runtime)) return runtime;
    // Where another user may write (a shared temporary folder), only a folder of our own
    // that nobody else can enter holds the lock and the socket.
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder =
        std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/tallimer-" + std::to_string(::getuid());
    if (make && ::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        if (why)
            *why = "le dossier « " + folder + " » ne peut pas être créé (" + std::strerror(errno) +
                   ")";
        return {};
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        if (why && make) *why = "le dossier « " + folder + " » ne peut pas être lu";
        return {};
    }
    if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) != 0 && make)
        ::chmod(folder.c_str(), S_IRWXU);  // ours, only too open: closed now
    if (::lstat(folder.c_str(), &st) != 0 || !ClosedToOthers(st, 077)) {
        if (why)
            *why = "le dossier « " + folder +
                   " » n'est pas un dossier privé de cet utilisateur (un autre utilisateur a pu "
                   "le créer)";
        return {};
    }
    return folder;
}

InstanceLock::Outcome InstanceLock::acquire() {
    if (fd_ >= 0) return Outcome::First;
    if (lockPath_.empty()) return Outcome::Unprotected;
    // O_NOFOLLOW: in /tmp another user could have planted a link under our name.
    int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Outcome::Unprotected;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Outcome::Second : Outcome::Unprotected;
    }
    fd_ = fd;
    return Outcome::First;
}

DataFolderLock::DataFolderLock(std::string folder)
    : folder_(std::move(folder)), lockPath_(folder_ + ".tallimer.lock") {}

DataFolderLock::~DataFolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

InstanceLock::Outcome DataFolderLock::acquire(const std::string& socketPath) {
    if (fd_ >= 0) return InstanceLock::Outcome::First;
    otherUser_ = false;
    bool writable = true;
    int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        writable = false;
        fd = ::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return InstanceLock::Outcome::Unprotected;
    // Anyone who can open it can lock it: ours is closed to others (older ones were not).
    struct stat st {};
    if (writable && ::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 077))
        ::fchmod(fd, S_IRUSR | S_IWUSR);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        if (error == EWOULDBLOCK) {
            const std::optional<uid_t> holder = FlockHolder(fd);
            otherUser_ = holder && *holder != ::getuid();
        }
        ::close(fd);
        return error == EWOULDBLOCK ? InstanceLock::Outcome::Second
                                    : InstanceLock::Outcome::Unprotected;
    }
    fd_ = fd;
    if (writable) writeSocket(socketPath);
    return InstanceLock::Outcome::First;
}

void DataFolderLock::writeSocket(const std::string& socketPath) {
    // Not data: the file only says where the holder listens.
    const std::string line = socketPath + "\n";
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, line.data(), line.size(), 0) < 0) {
        // A second copy then only ends instead of handing over.
    }
}

bool DataFolderLock::takeOver(const std::string& socketPath) {
    if (fd_ >= 0) return true;
    if (!otherUser_ || !OwnAndClosed(folder_.substr(0, folder_.size() - 1))) return false;
    const std::string fresh = lockPath_ + "." + std::to_string(::getpid());
    ::unlink(fresh.c_str());
    int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(fresh.c_str(), lockPath_.c_str()) != 0) {
        ::unlink(fresh.c_str());
        ::close(fd);
        return false;
    }
    fd_ = fd;
    writeSocket(socketPath);
    return true;
}

std::string DataFolderLock::holderSocket() const {
    int fd = ::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return {};
    char buffer[256];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    auto end = text.find('\n');
    return end == std::string::npos ? std::string() : text.substr(0, end);
}

bool SendShowMessage(const std::string& socketPath) {
    int fd = ConnectTo(socketPath);
    if (fd < 0) return false;
    const std::string message = std::to_string(kShowInstanceMessage) + "\n";
    std::size_t sent = 0;
    while (sent < message.size()) {
        ssize_t n = ::send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return sent == message.size();
}

std::optional<std::string> AskState(const std::string& socketPath, int timeoutMs, bool* listened) {
    if (listened) *listened = false;
    int fd = ConnectTo(socketPath);
    if (fd < 0) return std::nullopt;
    if (listened) *listened = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string request = std::string(kStateRequest) + "\n";
    std::string answer;
    bool whole = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                 static_cast<ssize_t>(request.size());
    // A copy whose loop is held answers late: the command line does not wait for it.
    while (whole) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            whole = false;
            break;
        }
        char chunk[512];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the copy closes once it has answered
        answer.append(chunk, static_cast<std::size_t>(n));
        if (answer.size() > 65536) whole = false;
    }
    ::close(fd);
    if (!whole) return std::nullopt;
    return answer;
}

bool SomeoneListens(const std::string& socketPath) {
    int fd = ConnectTo(socketPath);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

namespace {

// A client says its one line as it connects: one silent that long is dropped.
constexpr std::int64_t kIdleMs = 2000;
constexpr std::size_t kClients = 16;

std::int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), idle_(new QTimer(this)) {
    idle_->setSingleShot(true);
    connect(idle_, &QTimer::timeout, this, &InstanceServer::dropIdle);
}

InstanceServer::~InstanceServer() {
    while (!clients_.empty()) drop(clients_.begin()->first);
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(path_.c_str());
    }
}

bool InstanceServer::listen(const std::string& socketPath) {
    if (listener_ >= 0) return false;
    // Whatever file is there would be replaced, a live copy's socket included: a live copy
    // answers, a socket file left by a crash refuses the connection.
    if (SomeoneListens(socketPath)) return false;
    // Bound under a name of its own, closed to other users, and only then put in place, so
    // nobody else ever reaches it.
    const std::string fresh = socketPath + "." + std::to_string(::getpid());
    sockaddr_un address;
    if (!UnixAddress(fresh, address)) return false;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    ::unlink(fresh.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return false;
    }
    if (::chmod(fresh.c_str(), S_IRWXU) != 0 || ::listen(fd, 8) != 0 ||
        ::rename(fresh.c_str(), socketPath.c_str()) != 0) {
        ::unlink(fresh.c_str());
        ::close(fd);
        return false;
    }
    listener_ = fd;
    path_ = socketPath;
    incoming_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(incoming_, &QSocketNotifier::activated, this, &InstanceServer::accept);
    return true;
}

void InstanceServer::accept() {
    for (;;) {
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR) continue;
            return;
        }
        // Only this user's processes are heard.
        if (!PeerIsUs(fd)) {
            ::close(fd);
            continue;
        }
        // Nobody needs more than a few at once: the one waiting longest makes room.
        if (clients_.size() >= kClients) {
            auto oldest = std::min_element(clients_.begin(), clients_.end(), [](auto& a, auto& b) {
                return a.second.since < b.second.since;
            });
            drop(oldest->first);
        }
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        clients_[fd] = Client{notifier, {}, MonotonicMs()};
        if (!idle_->isActive()) idle_->start(static_cast<int>(kIdleMs));
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] { take(fd); });
        take(fd);
    }
}

void InstanceServer::take(int fd) {
    auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    std::string& buffer = it->second.buffer;
    bool ended = false;
    bool stateAsked = false;
    int shows = 0;
    char chunk[128];
    while (!ended) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) ended = true;
        if (n <= 0) break;
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = buffer.find('\n')) != std::string::npos) {
            const std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            const char* const space = " \t\r\f\v";
            const auto first = line.find_first_not_of(space);
            const std::string word =
                first == std::string::npos
                    ? std::string()
                    : line.substr(first, line.find_last_not_of(space) - first + 1);
            if (word == std::to_string(kShowInstanceMessage)) ++shows;
            if (word == kStateRequest) stateAsked = true;
        }
        // Nobody sends more than a line; a client that does is cut off.
        if (buffer.size() > 64) ended = true;
        if (stateAsked) break;
    }
    if (stateAsked) {
        // A few hundred bytes: the socket's buffer takes them at once, or the asker is gone.
        const std::string answer = stateAnswer_ ? stateAnswer_() : std::string();
        std::size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t n = ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        ended = true;
    }
    if (ended) drop(fd);
    // Last: what the window does on showing may run the event loop and come back here.
    for (; shows > 0; --shows) emit showRequested();
}

void InstanceServer::dropIdle() {
    const std::int64_t now = MonotonicMs();
    std::int64_t next = -1;
    for (auto it = clients_.begin(); it != clients_.end();) {
        const int fd = it->first;
        const std::int64_t since = it->second.since;
        ++it;
        if (now - since >= kIdleMs)
            drop(fd);
        else if (next < 0 || since < next)
            next = since;
    }
    if (next >= 0) idle_->start(static_cast<int>(kIdleMs - (now - next)));
}

void InstanceServer::drop(int fd) {
    auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    clients_.erase(it);
    ::close(fd);
}

}  // namespace tallimer
