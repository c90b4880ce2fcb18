#include "Shell/SecondStart.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Platform/Linux/System/SystemError.h"
#include "Runtime/Worlds/DevicesLock.h"

namespace tindlewave {

namespace {
std::optional<sockaddr_un> addressOf(const std::string& file) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (file.empty() || file.size() >= sizeof address.sun_path) return std::nullopt;
    std::memcpy(address.sun_path, file.data(), file.size());
    return address;
}

// The process at the other end, when it runs as this user.
std::optional<ucred> ownUsersPeer(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) return std::nullopt;
    return peer;
}
}  // namespace

namespace secondStart {

std::string socketFile() {
    return (std::filesystem::path(DevicesLock::defaultFile()).parent_path() / "window.socket").string();
}

std::variant<UniqueFd, std::string> listen(const std::string& file) {
    auto failed = [&](const std::string& why) { return file + ": " + why; };
    const auto address = addressOf(file);
    if (!address) return failed("the path is too long for a socket");
    // Only the devices lock's holder listens here: a socket that is there is a crashed program's.
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) return failed("not a socket");
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) return failed(SystemError::fromErrno().description);
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.isOpen()) return failed(SystemError::fromErrno().description);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
        return failed(SystemError::fromErrno().description);
    // Only this user may connect, whatever the folder allows; no one can before it listens.
    if (::chmod(file.c_str(), 0600) != 0 || ::listen(fd.get(), 8) != 0) {
        const auto error = SystemError::fromErrno();
        ::unlink(file.c_str());
        return failed(error.description);
    }
    return fd;
}

std::optional<pid_t> askToShow(const std::string& file, std::chrono::milliseconds wait) {
    const auto address = addressOf(file);
    if (!address) return std::nullopt;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.isOpen()) return std::nullopt;
    int connected = 0;
    do connected = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
    while (connected != 0 && errno == EINTR);
    if (connected != 0) return std::nullopt;
    const auto peer = ownUsersPeer(fd.get());
    if (!peer) return std::nullopt;
    for (std::size_t sent = 0; sent < request.size();) {
        const auto wrote = ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return std::nullopt;
        sent += std::size_t(wrote);
    }
    const auto end = std::chrono::steady_clock::now() + wait;
    std::string heard;
    while (heard.size() < answer.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd readable{fd.get(), POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char chunk[16];
        const auto got = ::recv(fd.get(), chunk, std::min(sizeof chunk, answer.size() - heard.size()), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;  // it ended, or went away, without answering
        heard.append(chunk, std::size_t(got));
    }
    if (heard != answer) return std::nullopt;
    return peer->pid;
}

}  // namespace secondStart

SecondStartServer::SecondStartServer(UniqueFd listening, std::function<void()> show, std::chrono::milliseconds patience,
                                     QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)), show_(std::move(show)), patience_(patience) {
    server_->setMaxPendingConnections(4);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* caller = server_->nextPendingConnection()) serve(caller);
    });
    server_->listen(qintptr(listening.release()));
}

SecondStartServer::~SecondStartServer() = default;

void SecondStartServer::serve(QLocalSocket* caller) {
    connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
    if (!ownUsersPeer(int(caller->socketDescriptor()))) {
        caller->abort();
        caller->deleteLater();
        return;
    }
    caller->setReadBufferSize(qint64(secondStart::request.size()));
    QTimer::singleShot(patience_, caller, [caller] {
        caller->abort();
        caller->deleteLater();
    });
    connect(caller, &QLocalSocket::readyRead, caller, [this, caller] {
        const QByteArray heard = caller->peek(qint64(secondStart::request.size()));
        if (std::string_view(heard.constData(), std::size_t(heard.size())) != secondStart::request.substr(0, std::size_t(heard.size()))) {
            caller->abort();
            caller->deleteLater();
            return;
        }
        if (std::size_t(heard.size()) < secondStart::request.size()) return;
        caller->readAll();
        caller->write(secondStart::answer.data(), qint64(secondStart::answer.size()));
        caller->disconnectFromServer();
        if (show_) show_();
    });
}

}  // namespace tindlewave
