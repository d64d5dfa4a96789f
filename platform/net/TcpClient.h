// A blocking TCP client: connect to a host and port, send bytes, close.
// Used for the card-number notifications to the front-desk client.
//
// Threads: one object is used by one thread at a time (made on one thread,
// then handed to another); it has no lock of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/net/TcpListener.h"  // ENetError

namespace ostra {

class TcpClient {
  public:
    TcpClient() = default;
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    std::string Host;  // name or dotted IPv4 address
    uint16_t Port = 0;

    // Resolves Host (IPv4) and connects, blocking until connected or failed.
    // Throws ENetError with the system's text. Closes an earlier connection first.
    // Abandon, when given, is asked every 250 ms while the connect waits; when
    // it answers true the connect gives up with ENetError. It lets a thread
    // that is being stopped leave a connect to a host that never answers.
    void Connect(const std::function<bool()>& Abandon = {});
    bool Connected() const { return Fd_ >= 0; }
    // Sends every byte (no terminator of its own). Throws ENetError; the
    // connection is then closed.
    void Send(std::string_view Bytes);
    // Closes the connection; nothing when not connected.
    void Disconnect();

  private:
    int Fd_ = -1;
};

}  // namespace ostra
