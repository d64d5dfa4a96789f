// A listener standing in for the front desk, for the service's own reports
// (the card auto-read notification): it accepts connections on loopback and
// keeps, for each, every byte received until the peer closed.
//
// Threads: one acceptor thread and one reader thread per connection, all
// owned by the object; the test thread calls the public members, and Mutex
// guards what they share (the count, the messages). The destructor stops
// and joins them all.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostra::testsupport {

class FrontDeskListener {
  public:
    // Listens on Port (0: a free one).
    explicit FrontDeskListener(uint16_t Port = 0);
    ~FrontDeskListener();
    FrontDeskListener(const FrontDeskListener&) = delete;
    FrontDeskListener& operator=(const FrontDeskListener&) = delete;

    uint16_t Port() const { return BoundPort; }

    int Accepted();
    // The contents of the connections that carried bytes and have ended, in
    // the order they ended. (A connection closed without sending anything,
    // such as an idle one of a reporter that was stopped, is not a message.)
    std::vector<std::string> Messages();
    // Waits until N connections have ended (false after a safety limit).
    bool WaitForMessages(std::size_t N);
    bool WaitForAccepted(int N);

  private:
    void AcceptLoop();
    void ReadLoop(int Client);

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

}  // namespace ostra::testsupport
