#include "platform/net/TcpClient.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ostra {

namespace {

std::string SocketErrorText(int Err) {
    return "Socket Error # " + std::to_string(Err) + " " + std::strerror(Err);
}

// Connects fd to Address, waiting as a blocking connect would, but asking
// Abandon every 250 ms. Returns 0 or the errno of the failure.
int ConnectSocket(int fd, const sockaddr* Address, socklen_t Length,
                  const std::function<bool()>& Abandon) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return errno;
    int err = 0;
    if (::connect(fd, Address, Length) != 0) {
        err = errno;
        if (err == EINPROGRESS || err == EINTR) {
            for (;;) {
                pollfd p{fd, POLLOUT, 0};
                const int r = ::poll(&p, 1, 250);
                if (r < 0 && errno != EINTR) {
                    err = errno;
                    break;
                }
                if (r > 0) {
                    socklen_t len = sizeof(err);
                    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
                    break;
                }
                if (Abandon && Abandon()) {
                    err = ECANCELED;
                    break;
                }
            }
        }
    }
    if (err == 0 && ::fcntl(fd, F_SETFL, flags) < 0) err = errno;
    return err;
}

}  // namespace

TcpClient::~TcpClient() {
    Disconnect();
}

void TcpClient::Connect(const std::function<bool()>& Abandon) {
    Disconnect();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(Port);
    const int rc = ::getaddrinfo(Host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) throw ENetError("Host not found: " + Host + " (" + ::gai_strerror(rc) + ")");
    int lastErr = ECONNREFUSED;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastErr = errno;
            continue;
        }
        const int err = ConnectSocket(fd, a->ai_addr, a->ai_addrlen, Abandon);
        if (err == 0) {
            Fd_ = fd;
            break;
        }
        lastErr = err;
        ::close(fd);
        if (err == ECANCELED) break;
    }
    ::freeaddrinfo(found);
    if (Fd_ < 0) throw ENetError(SocketErrorText(lastErr));
}

void TcpClient::Send(std::string_view Bytes) {
    if (Fd_ < 0) throw ENetError("Not Connected");
    size_t done = 0;
    while (done < Bytes.size()) {
        const ssize_t n = ::send(Fd_, Bytes.data() + done, Bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            const int err = errno;
            if (err == EINTR) continue;
            Disconnect();
            throw ENetError(SocketErrorText(err));
        }
        done += static_cast<size_t>(n);
    }
}

void TcpClient::Disconnect() {
    if (Fd_ >= 0) {
        ::close(Fd_);
        Fd_ = -1;
    }
}

}  // namespace ostra
