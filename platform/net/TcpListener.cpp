#include "platform/net/TcpListener.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

namespace ostra {

struct TcpListener::Shared {
    struct Entry {
        uint64_t Id = 0;
        std::shared_ptr<TcpConnection> Connection;
        std::thread Thread;
        bool Done = false;
    };

    ConnectionStep Step;  // set before the accept thread starts; read-only after
    int ListenFd = -1;    // owned by the listener's owning thread
    int WakeRead = -1, WakeWrite = -1;
    std::thread AcceptThread;

    std::mutex Mu;  // guards Entries, NextId; CV waits on it
    std::condition_variable ThreadEnded;
    std::list<Entry> Entries;
    uint64_t NextId = 0;
    std::atomic<size_t> Running{0};

    // Joins the threads that have ended. Caller holds Mu.
    void ReapLocked() {
        for (auto it = Entries.begin(); it != Entries.end();) {
            if (it->Done) {
                if (it->Thread.joinable()) it->Thread.join();
                it = Entries.erase(it);
            } else {
                ++it;
            }
        }
    }
};

namespace {

void ConnectionThread(std::shared_ptr<TcpListener::Shared> S, uint64_t Id,
                      std::shared_ptr<TcpConnection> Connection) {
    try {
        while (Connection->Connected()) S->Step(*Connection);
    } catch (...) {
        // Whatever ends a run ends the connection quietly.
    }
    Connection->Close();
    {
        std::lock_guard<std::mutex> g(S->Mu);
        for (auto& e : S->Entries)
            if (e.Id == Id) {
                e.Done = true;
                // The descriptor is closed as this thread ends (its own
                // reference is the last), not at the next accept.
                e.Connection.reset();
            }
        S->Running.fetch_sub(1);
    }
    S->ThreadEnded.notify_all();
}

void AcceptLoop(std::shared_ptr<TcpListener::Shared> S) {
    for (;;) {
        pollfd fds[2] = {{S->ListenFd, POLLIN, 0}, {S->WakeRead, POLLIN, 0}};
        const int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;  // Stop
        if ((fds[0].revents & POLLIN) == 0) {
            if (fds[0].revents & (POLLERR | POLLNVAL)) return;
            continue;
        }
        const int fd = ::accept4(S->ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        auto connection = std::make_shared<TcpConnection>(fd);
        std::lock_guard<std::mutex> g(S->Mu);
        S->ReapLocked();
        auto& e = S->Entries.emplace_back();
        e.Id = ++S->NextId;
        e.Connection = connection;
        S->Running.fetch_add(1);
        try {
            e.Thread = std::thread(ConnectionThread, S, e.Id, connection);
        } catch (...) {
            // No thread to be had: drop the connection.
            S->Running.fetch_sub(1);
            S->Entries.pop_back();
            connection->Close();
        }
    }
}

}  // namespace

TcpListener::TcpListener() = default;

TcpListener::~TcpListener() {
    try {
        Stop();
    } catch (...) {
        // Threads that outlive the wait finish on their own (they keep the
        // shared state alive).
    }
}

std::size_t TcpListener::ConnectionCount() const {
    return (Shared_ ? Shared_->Running.load() : 0) + (Lingering_ ? Lingering_->Running.load() : 0);
}

void TcpListener::Start() {
    if (Active_) return;
    auto s = std::make_shared<Shared>();
    s->Step = Step_ ? Step_ : [](TcpConnection& c) { c.Close(); };

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw ENetError(std::string("Could not create socket. ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(Port_);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EADDRINUSE)
            throw ENetError("Could not bind socket. Address and port are already in use.");
        throw ENetError(std::string("Could not bind socket. ") + std::strerror(err));
    }
    if (::listen(fd, Backlog_) != 0) {
        const int err = errno;
        ::close(fd);
        throw ENetError(std::string("Could not listen on socket. ") + std::strerror(err));
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        const int err = errno;
        ::close(fd);
        throw ENetError(std::string("Could not create socket. ") + std::strerror(err));
    }
    s->ListenFd = fd;
    s->WakeRead = wake[0];
    s->WakeWrite = wake[1];
    try {
        s->AcceptThread = std::thread(AcceptLoop, s);
    } catch (...) {
        ::close(fd);
        ::close(wake[0]);
        ::close(wake[1]);
        throw ENetError("Could not start the listener thread.");
    }
    BoundPort_ = ntohs(addr.sin_port);
    Shared_ = std::move(s);
    Active_ = true;
}

void TcpListener::Stop(std::chrono::milliseconds Timeout) {
    if (!Active_) return;
    Active_ = false;
    BoundPort_ = 0;
    auto s = std::move(Shared_);

    // No more accepts.
    const char one = 1;
    while (::write(s->WakeWrite, &one, 1) < 0 && errno == EINTR) {
    }
    if (s->AcceptThread.joinable()) s->AcceptThread.join();
    ::close(s->ListenFd);
    ::close(s->WakeRead);
    ::close(s->WakeWrite);

    // Connections waiting for a request end now; one being handled still
    // writes its reply and is closed by its own step.
    std::unique_lock<std::mutex> lock(s->Mu);
    for (auto& e : s->Entries)
        if (e.Connection) e.Connection->EndReading();

    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (s->Running.load() > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        s->ThreadEnded.wait_for(
            lock, std::min<std::chrono::steady_clock::duration>(StopPollInterval, deadline - now));
    }
    s->ReapLocked();
    if (!s->Entries.empty()) {
        // Still running: let them finish on their own; they keep `s` alive.
        for (auto& e : s->Entries)
            if (e.Thread.joinable()) e.Thread.detach();
        Lingering_ = s;
        throw EStopTimeout("Terminate Thread Timeout");
    }
}

}  // namespace ostra
