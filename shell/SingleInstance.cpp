#include "shell/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace tallimer {

namespace {

// A connected AF_UNIX stream socket to path, or -1.
int ConnectTo(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
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

bool SomeoneListens(const std::string& socketPath) {
    int fd = ConnectTo(socketPath);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::accept);
}

bool InstanceServer::listen(const std::string& socketPath) {
    // Qt would replace whatever file is there, a live copy's socket included: a live copy
    // answers, a socket file left by a crash refuses the connection.
    if (SomeoneListens(socketPath)) return false;
    const QString path = QString::fromStdString(socketPath);
    QLocalServer::removeServer(path);
    return server_->listen(path);
}

void InstanceServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        auto take = [this, socket, buffer] {
            buffer->append(socket->readAll());
            qsizetype end;
            while ((end = buffer->indexOf('\n')) >= 0) {
                QByteArray line = buffer->left(end).trimmed();
                buffer->remove(0, end + 1);
                if (line == QByteArray::number(kShowInstanceMessage)) emit showRequested();
            }
            // Nobody sends more than a line; a client that does is cut off.
            if (buffer->size() > 64) socket->abort();
        };
        connect(socket, &QLocalSocket::readyRead, this, take);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        take();
    }
}

}  // namespace tallimer
