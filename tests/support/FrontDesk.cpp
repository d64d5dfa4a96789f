#include "tests/support/FrontDesk.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace ostra::testsupport {

namespace {

sockaddr_in Address(uint32_t Host, uint16_t Port) {
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(Host);
    A.sin_port = htons(Port);
    return A;
}

// A socket listening on Host:Port (0: a free one); -1 when the port is taken.
int Listen(uint32_t Host, uint16_t& Port, int Backlog) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A = Address(Host, Port);
    if (::bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || ::listen(Fd, Backlog) != 0) {
        ::close(Fd);
        return -1;
    }
    socklen_t Len = sizeof A;
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len);
    Port = ntohs(A.sin_port);
    return Fd;
}

// The next reply as ReadReply gives it; Closed, when given, is set when
// the connection ended by the peer's close or reset (not by the guard).
std::optional<std::string> NextReply(int Fd, std::string& Pending, bool* Closed) {
    for (;;) {
        const std::size_t Zero = Pending.find('\0');
        if (Zero != std::string::npos) {
            std::string Reply = Pending.substr(0, Zero);
            Pending.erase(0, Zero + 1);
            return Reply;
        }
        char Buf[4096];
        const ssize_t N = ::recv(Fd, Buf, sizeof Buf, 0);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) {
            if (Closed) *Closed = N == 0 || errno == ECONNRESET;
            return std::nullopt;
        }
        Pending.append(Buf, static_cast<std::size_t>(N));
    }
}

}  // namespace

uint16_t FreePort() {
    uint16_t Port = 0;
    ::close(Listen(INADDR_ANY, Port, 1));
    return Port;
}

int Connect(uint16_t Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0) return -1;
    sockaddr_in A = Address(INADDR_LOOPBACK, Port);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
        ::close(Fd);
        return -1;
    }
    const int One = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    return Fd;
}

void SetReceiveLimit(int Fd, int Seconds) {
    timeval T{Seconds, 0};
    ::setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &T, sizeof T);
}

bool SendAll(int Fd, const std::string& Bytes) {
    std::size_t Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t N = ::send(Fd, Bytes.data() + Done, Bytes.size() - Done, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return false;
        Done += static_cast<std::size_t>(N);
    }
    return true;
}

std::optional<std::string> ReadReply(int Fd, std::string& Pending) {
    return NextReply(Fd, Pending, nullptr);
}

bool ClosedWithoutReply(int Fd) {
    char C;
    for (;;) {
        const ssize_t N = ::recv(Fd, &C, 1, 0);
        if (N < 0 && errno == EINTR) continue;
        if (N == 0) return true;
        if (N < 0) return errno == ECONNRESET;
        return false;
    }
}

void ResetAndClose(int Fd) {
    linger L{1, 0};
    ::setsockopt(Fd, SOL_SOCKET, SO_LINGER, &L, sizeof L);
    ::close(Fd);
}

rlim_t RaiseFdLimit(rlim_t Wanted) {
    rlimit L{};
    ::getrlimit(RLIMIT_NOFILE, &L);
    if (L.rlim_cur < Wanted) {
        L.rlim_cur = std::min(Wanted, L.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &L);
        ::getrlimit(RLIMIT_NOFILE, &L);
    }
    return L.rlim_cur;
}

TFrontDeskClient::TFrontDeskClient(uint16_t Port, int GuardSeconds) : Fd_(Connect(Port)) {
    if (Fd_ >= 0) SetReceiveLimit(Fd_, GuardSeconds);
}

TFrontDeskClient::~TFrontDeskClient() {
    if (Fd_ >= 0) ::close(Fd_);
}

bool TFrontDeskClient::Send(const std::string& Bytes) {
    return Fd_ >= 0 && SendAll(Fd_, Bytes);
}

std::string TFrontDeskClient::ReadReply() {
    const std::optional<std::string> Reply = NextReply(Fd_, Pending_, &ClosedByPeer);
    if (!Reply) return {};
    return *Reply + std::string(1, '\0');
}

std::string TFrontDeskClient::ReadToEnd() {
    std::string All = std::exchange(Pending_, {});
    char Buf[4096];
    for (;;) {
        const ssize_t N = ::recv(Fd_, Buf, sizeof Buf, 0);
        if (N < 0 && errno == EINTR) continue;
        if (N > 0) {
            All.append(Buf, static_cast<std::size_t>(N));
            continue;
        }
        ClosedByPeer = N == 0 || errno == ECONNRESET;
        return All;
    }
}

bool TFrontDeskClient::ReadsEnd() {
    return ClosedWithoutReply(Fd_);
}

void TFrontDeskClient::EndSending() {
    ::shutdown(Fd_, SHUT_WR);
}

void TFrontDeskClient::Reset() {
    ResetAndClose(Fd_);
    Fd_ = -1;
}

TExchange ExchangeToEnd(uint16_t Port, const std::string& Bytes, bool EndSending) {
    TFrontDeskClient Client(Port);
    if (!Client.Connected()) return {"<no connection>", false};
    if (!Bytes.empty()) Client.Send(Bytes);
    if (EndSending) Client.EndSending();
    TExchange Result;
    Result.Reply = Client.ReadToEnd();
    Result.ClosedByPeer = Client.ClosedByPeer;
    return Result;
}

std::optional<std::string> Exchange(uint16_t Port, const std::string& Request, int GuardSeconds) {
    TFrontDeskClient Client(Port, GuardSeconds);
    std::string Pending;
    if (!Client.SendRequest(Request)) return std::nullopt;
    return ReadReply(Client.Fd(), Pending);
}

TBusyPort::TBusyPort(uint16_t Wanted) : Port(Wanted) {
    Fd_ = Listen(INADDR_ANY, Port, 1);
    Listening = Fd_ >= 0;
}

TBusyPort::~TBusyPort() {
    if (Fd_ >= 0) ::close(Fd_);
}

}  // namespace ostra::testsupport
