#include "tests/support/FrontDeskListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace ostra::testsupport {

FrontDeskListener::FrontDeskListener(uint16_t Port) {
    Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int One = 1;
    ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Addr.sin_port = htons(Port);
    if (::bind(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0 || ::listen(Fd, 64) != 0) {
        ::close(Fd);
        throw std::runtime_error("front-desk listener cannot listen");
    }
    socklen_t Len = sizeof Addr;
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Addr), &Len);
    BoundPort = ntohs(Addr.sin_port);
    Acceptor = std::thread([this] { AcceptLoop(); });
}

FrontDeskListener::~FrontDeskListener() {
    Stopping = true;
    Acceptor.join();
    for (auto& T : Readers) T.join();
    ::close(Fd);
}

int FrontDeskListener::Accepted() {
    std::lock_guard<std::mutex> Guard(Mutex);
    return AcceptedCount;
}

std::vector<std::string> FrontDeskListener::Messages() {
    std::lock_guard<std::mutex> Guard(Mutex);
    return Done;
}

bool FrontDeskListener::WaitForMessages(std::size_t N) {
    std::unique_lock<std::mutex> Guard(Mutex);
    return Changed.wait_for(Guard, std::chrono::seconds(60), [&] { return Done.size() >= N; });
}

bool FrontDeskListener::WaitForAccepted(int N) {
    std::unique_lock<std::mutex> Guard(Mutex);
    return Changed.wait_for(Guard, std::chrono::seconds(60), [&] { return AcceptedCount >= N; });
}

void FrontDeskListener::AcceptLoop() {
    while (!Stopping) {
        pollfd P{Fd, POLLIN, 0};
        if (::poll(&P, 1, 20) <= 0) continue;
        const int Client = ::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (Client < 0) continue;
        {
            std::lock_guard<std::mutex> Guard(Mutex);
            ++AcceptedCount;
        }
        Changed.notify_all();
        Readers.emplace_back([this, Client] { ReadLoop(Client); });
    }
}

void FrontDeskListener::ReadLoop(int Client) {
    std::string Bytes;
    char Buffer[4096];
    while (true) {
        pollfd P{Client, POLLIN, 0};
        const int Ready = ::poll(&P, 1, 20);
        if (Ready == 0) {
            if (Stopping) break;
            continue;
        }
        const ssize_t N = ::recv(Client, Buffer, sizeof Buffer, 0);
        if (N <= 0) break;
        Bytes.append(Buffer, static_cast<std::size_t>(N));
    }
    ::close(Client);
    if (Stopping || Bytes.empty()) return;
    {
        std::lock_guard<std::mutex> Guard(Mutex);
        Done.push_back(Bytes);
    }
    Changed.notify_all();
}

}  // namespace ostra::testsupport
