#include "shell/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
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

// A connected AF_UNIX stream socket to path, or -1.
int ConnectTo(const std::string& path) {
    sockaddr_un address;
    if (!UnixAddress(path, address)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

InstanceLock::InstanceLock(std::string folder) {
    std::string base = folder + "/tallimer-" + std::to_string(::getuid());
    lockPath_ = base + ".lock";
    socketPath_ = base + ".socket";
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLock::DefaultFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
            return runtime;
    }
    return "/tmp";
}

InstanceLock::Outcome InstanceLock::acquire() {
    if (fd_ >= 0) return Outcome::First;
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
    bool writable = true;
    int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        writable = false;
        fd = ::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return InstanceLock::Outcome::Unprotected;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? InstanceLock::Outcome::Second
                                    : InstanceLock::Outcome::Unprotected;
    }
    fd_ = fd;
    if (writable) {
        // Not data: the file only says where the holder listens.
        const std::string line = socketPath + "\n";
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, line.data(), line.size(), 0) < 0) {
            // A second copy then only ends instead of handing over.
        }
    }
    return InstanceLock::Outcome::First;
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

std::optional<std::string> AskState(const std::string& socketPath, int timeoutMs) {
    int fd = ConnectTo(socketPath);
    if (fd < 0) return std::nullopt;
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

InstanceServer::InstanceServer(QObject* parent) : QObject(parent) {}

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
        // Nobody needs more than a few at once; more are turned away.
        if (clients_.size() >= 16) {
            ::close(fd);
            continue;
        }
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        clients_[fd] = Client{notifier, {}};
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

void InstanceServer::drop(int fd) {
    auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    clients_.erase(it);
    ::close(fd);
}

}  // namespace tallimer
