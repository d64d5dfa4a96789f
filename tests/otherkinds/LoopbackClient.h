// A front-desk client for the tests: connects to the listener on loopback,
// sends one framed request and collects every byte until the service closes
// the connection.
#pragma once

#include <cstdint>
#include <string>

namespace ostra::test {

struct TExchange {
    std::string Reply;          // every byte received, 0x00 included
    bool ClosedByPeer = false;  // the service closed the connection
};

class TLoopbackClient {
  public:
    explicit TLoopbackClient(uint16_t Port);
    ~TLoopbackClient();
    TLoopbackClient(const TLoopbackClient&) = delete;
    TLoopbackClient& operator=(const TLoopbackClient&) = delete;

    // Sends the bytes as they stand (add the 0x00 yourself).
    void Send(const std::string& Bytes);
    // Reads until the service closes the connection; a guard of 20 s keeps a
    // faulty service from hanging the test (ClosedByPeer stays false then).
    TExchange ReadToEnd();
    // Resets the connection (RST) instead of closing it in order.
    void Abort();

  private:
    int Fd_ = -1;
};

// Connects, sends Request followed by one 0x00, reads until closed.
TExchange ExchangeToEnd(uint16_t Port, const std::string& Request);

}  // namespace ostra::test
