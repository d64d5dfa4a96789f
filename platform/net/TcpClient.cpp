#include "platform/net/TcpClient.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ostra {

namespace {

std::string SocketErrorText(int Err) {
    return "Socket Error # " + std::to_string(Err) + " " + std::strerror(Err);
}

}  // namespace

TcpClient::~TcpClient() {
    Disconnect();
}

void TcpClient::Connect() {
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
        int r;
        do {
            r = ::connect(fd, a->ai_addr, a->ai_addrlen);
        } while (r != 0 && errno == EINTR);
        if (r == 0) {
            Fd_ = fd;
            break;
        }
        lastErr = errno;
        ::close(fd);
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
