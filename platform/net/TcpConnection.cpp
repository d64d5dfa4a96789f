#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/net/TcpListener.h"
#include "platform/text/CodePage.h"

namespace ostra {

namespace {

std::string SocketErrorText(int Err) {
    return "Socket Error # " + std::to_string(Err) + " " + std::strerror(Err);
}

}  // namespace

TcpConnection::TcpConnection(int Fd) : Fd_(Fd) {}

TcpConnection::~TcpConnection() {
    if (Fd_ >= 0) ::close(Fd_);
}

void TcpConnection::Close() {
    if (!Closed_.exchange(true)) ::shutdown(Fd_, SHUT_RDWR);
}

void TcpConnection::EndReading() {
    // The flag first: a reader that wakes from the shutdown must find it.
    if (!ReadingEnded_.exchange(true) && !Closed_.load()) ::shutdown(Fd_, SHUT_RD);
}

std::string TcpConnection::ReadRequest() {
    size_t scanned = 0;  // bytes of Pending_ known to hold no 0x00
    for (;;) {
        if (ReadingEnded_.load()) {
            Pending_.clear();
            throw EConnectionClosed("Connection Closed Gracefully.");
        }
        const size_t zero = Pending_.find('\0', scanned);
        if (zero != std::string::npos) {
            if (zero > MaxRequestBytes) break;
            std::string request = Pending_.substr(0, zero);
            Pending_.erase(0, zero + 1);
            return request;
        }
        scanned = Pending_.size();
        if (Pending_.size() > MaxRequestBytes) break;
        if (Closed_.load()) throw EConnectionClosed("Connection Closed Gracefully.");
        char buf[4096];
        const ssize_t n = ::recv(Fd_, buf, sizeof buf, 0);
        if (n > 0) {
            Pending_.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) {
            Close();
            throw EConnectionClosed("Connection Closed Gracefully.");
        }
        const int err = errno;
        if (err == EINTR) continue;
        Close();
        if (Closed_.load() && (err == EBADF || err == ENOTCONN))
            throw EConnectionClosed("Connection Closed Gracefully.");
        throw ENetError(SocketErrorText(err));
    }
    Close();
    Pending_.clear();
    throw ERequestTooLong("Max line length exceeded.");
}

void TcpConnection::WriteReply(std::string_view Reply) {
    std::string bytes(Reply);
    bytes.push_back('\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(Fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            const int err = errno;
            if (err == EINTR) continue;
            Close();
            throw ENetError(SocketErrorText(err));
        }
        done += static_cast<size_t>(n);
    }
}

std::string TcpConnection::PeerAddress() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(Fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        addr.sin_family != AF_INET)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

void RunRequestStep(TcpConnection& Connection,
                    const std::function<std::unique_ptr<IMessageHandler>()>& MakeHandler,
                    const std::function<bool()>& KeepOpen) {
    std::unique_ptr<IMessageHandler> handler = MakeHandler();
    std::exception_ptr error;
    try {
        const std::string bytes = Connection.ReadRequest();
        const std::string text = DecodeUtf8(bytes);
        if (handler) handler->HandleMessage(Connection, text);
    } catch (...) {
        error = std::current_exception();
    }
    handler.reset();
    if (!(KeepOpen && KeepOpen())) Connection.Close();
    if (error) std::rethrow_exception(error);
}

}  // namespace ostra
