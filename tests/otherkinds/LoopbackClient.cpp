#include "tests/otherkinds/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ostra::test {

TLoopbackClient::TLoopbackClient(uint16_t Port) {
    Fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (Fd_ < 0) throw std::runtime_error("socket failed");
    timeval guard{20, 0};
    ::setsockopt(Fd_, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(Fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(Fd_);
        throw std::runtime_error(std::string("connect failed: ") + std::strerror(errno));
    }
}

TLoopbackClient::~TLoopbackClient() {
    if (Fd_ >= 0) ::close(Fd_);
}

void TLoopbackClient::Send(const std::string& Bytes) {
    std::size_t sent = 0;
    while (sent < Bytes.size()) {
        const ssize_t n = ::send(Fd_, Bytes.data() + sent, Bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("send failed");
        sent += static_cast<std::size_t>(n);
    }
}

TExchange TLoopbackClient::ReadToEnd() {
    TExchange result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(Fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            result.Reply.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        result.ClosedByPeer = n == 0 || errno == ECONNRESET;
        return result;
    }
}

void TLoopbackClient::Abort() {
    linger hard{1, 0};
    ::setsockopt(Fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(Fd_);
    Fd_ = -1;
}

TExchange ExchangeToEnd(uint16_t Port, const std::string& Request) {
    TLoopbackClient client(Port);
    client.Send(Request + std::string(1, '\0'));
    return client.ReadToEnd();
}

}  // namespace ostra::test
