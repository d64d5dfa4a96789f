// A listener standing in for the front-desk client: it accepts connections
// on loopback and keeps, for each, every byte received until the peer closed.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostra::lockdrivertest {

class FrontDeskListener {
  public:
    // Listens on Port (0: a free one).
    explicit FrontDeskListener(uint16_t Port = 0) {
        Fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int One = 1;
        ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
        sockaddr_in Addr{};
        Addr.sin_family = AF_INET;
        Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Addr.sin_port = htons(Port);
        if (::bind(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0 ||
            ::listen(Fd, 64) != 0)
            throw std::runtime_error("front-desk listener cannot listen");
        socklen_t Len = sizeof Addr;
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Addr), &Len);
        BoundPort = ntohs(Addr.sin_port);
        Acceptor = std::thread([this] { AcceptLoop(); });
    }
    ~FrontDeskListener() {
        Stopping = true;
        Acceptor.join();
        for (auto& T : Readers) T.join();
        ::close(Fd);
    }

    uint16_t Port() const { return BoundPort; }

    // A free loopback port, for a listener that comes up later.
    static uint16_t FreePort() {
        FrontDeskListener Probe;
        return Probe.Port();
    }

    int Accepted() {
        std::lock_guard<std::mutex> Guard(Mutex);
        return AcceptedCount;
    }
    // The contents of the connections that carried bytes and have ended, in
    // the order they ended. (A connection closed without sending anything,
    // such as an idle one of a reporter that was stopped, is not a message.)
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> Guard(Mutex);
        return Done;
    }
    // Waits until N connections have ended (false after a safety limit).
    bool WaitForMessages(std::size_t N) {
        std::unique_lock<std::mutex> Guard(Mutex);
        return Changed.wait_for(Guard, std::chrono::seconds(60), [&] { return Done.size() >= N; });
    }
    bool WaitForAccepted(int N) {
        std::unique_lock<std::mutex> Guard(Mutex);
        return Changed.wait_for(Guard, std::chrono::seconds(60),
                                [&] { return AcceptedCount >= N; });
    }

  private:
    void AcceptLoop() {
        while (!Stopping) {
            pollfd P{Fd, POLLIN, 0};
            if (::poll(&P, 1, 20) <= 0) continue;
            const int Client = ::accept(Fd, nullptr, nullptr);
            if (Client < 0) continue;
            {
                std::lock_guard<std::mutex> Guard(Mutex);
                ++AcceptedCount;
            }
            Changed.notify_all();
            Readers.emplace_back([this, Client] { ReadLoop(Client); });
        }
    }
    void ReadLoop(int Client) {
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

    int Fd = -1;
    uint16_t BoundPort = 0;
    std::atomic<bool> Stopping{false};
    std::thread Acceptor;
    std::vector<std::thread> Readers;  // only the acceptor thread and the destructor
    std::mutex Mutex;
    std::condition_variable Changed;
    int AcceptedCount = 0;
    std::vector<std::string> Done;
};

}  // namespace ostra::lockdrivertest
