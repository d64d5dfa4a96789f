// Talking to a listener over loopback as the front desk does: a request is
// its text followed by one 0x00, so is a reply, and the service closes the
// connection when it is done with it. Every read has a receive guard, a
// generous limit after which a reply that has not come counts as never
// coming, so a service that leaves a connection open fails the test instead
// of hanging it (the guard is a safety limit, never a pass/fail timing).
//
// Nothing here is shared between threads: a client (or a descriptor) belongs
// to the thread that made it.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ostra::testsupport {

inline constexpr int kGuardSeconds = 60;

// A port that is free now (bound to port 0 and released at once).
uint16_t FreePort();
// A socket connected to 127.0.0.1:Port, or -1 when nothing listens there.
int Connect(uint16_t Port);
// The receive guard of Fd.
void SetReceiveLimit(int Fd, int Seconds);
// Sends every byte; false when the connection failed first.
bool SendAll(int Fd, const std::string& Bytes);
// One reply up to its 0x00 (the 0x00 dropped); bytes read past it stay in
// Pending for the next one. Nothing when the connection ended or the guard
// ran out first.
std::optional<std::string> ReadReply(int Fd, std::string& Pending);
// True when the peer ends the connection without sending anything more.
bool ClosedWithoutReply(int Fd);
// Closes with a reset (RST) instead of an orderly end.
void ResetAndClose(int Fd);
// Raises this process's soft limit of descriptors towards Wanted (for many
// connections at once); the limit it got.
rlim_t RaiseFdLimit(rlim_t Wanted);

// One connection of the front desk.
class TFrontDeskClient {
  public:
    // Connects at once; Connected() tells whether that worked.
    explicit TFrontDeskClient(uint16_t Port, int GuardSeconds = kGuardSeconds);
    ~TFrontDeskClient();
    TFrontDeskClient(const TFrontDeskClient&) = delete;
    TFrontDeskClient& operator=(const TFrontDeskClient&) = delete;

    bool Connected() const { return Fd_ >= 0; }
    int Fd() const { return Fd_; }
    // The bytes as they stand; SendRequest adds the request's 0x00.
    bool Send(const std::string& Bytes);
    bool SendRequest(const std::string& Request) { return Send(Request + std::string(1, '\0')); }
    // The next reply with its 0x00; empty when the connection ended first.
    std::string ReadReply();
    // Every byte until the service closes the connection.
    std::string ReadToEnd();
    // True when the service closes the connection with nothing more sent.
    bool ReadsEnd();
    // Ends the sending side (the service reads the end of its input).
    void EndSending();
    // Abortive close: the service sees a reset.
    void Reset();

    // Set once a read met the service's close (false while the guard ran out).
    bool ClosedByPeer = false;

  private:
    int Fd_ = -1;
    std::string Pending_;
};

// Bytes sent on a fresh connection and everything that came back until the
// service closed it.
struct TExchange {
    std::string Reply;          // every byte received, 0x00 included
    bool ClosedByPeer = false;  // the service closed the connection
};

// Sends Bytes as they stand (add the 0x00 yourself; nothing when empty) on
// a fresh connection, with EndSending after them when asked, and reads to
// the end. The reply is "<no connection>" when nothing listens on Port.
TExchange ExchangeToEnd(uint16_t Port, const std::string& Bytes, bool EndSending = false);

// One request (its 0x00 added) on a fresh connection: the reply without its
// 0x00, or nothing when no connection came about or it ended before a reply.
std::optional<std::string> Exchange(uint16_t Port, const std::string& Request,
                                    int GuardSeconds = kGuardSeconds);

// A port held by a listening socket of this process (on every address) while
// the object lives; nothing is ever accepted. Port 0: a free one.
class TBusyPort {
  public:
    explicit TBusyPort(uint16_t Wanted = 0);
    ~TBusyPort();
    TBusyPort(const TBusyPort&) = delete;
    TBusyPort& operator=(const TBusyPort&) = delete;

    bool Listening = false;
    uint16_t Port = 0;

  private:
    int Fd_ = -1;
};

}  // namespace ostra::testsupport
