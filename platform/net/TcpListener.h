// The TCP listener of every interface kind and of the plug-in, the client
// connection it hands to each request, and the wire framing:
//
// - Request: the client's UTF-8 bytes followed by one 0x00 byte. ReadRequest
//   returns the bytes before the first 0x00 and consumes the 0x00; bytes
//   after it stay for the next ReadRequest on the same connection. At most
//   MaxRequestBytes (16384) bytes before the 0x00: a request of exactly 16384
//   is accepted; as soon as more have arrived without a 0x00 the read fails.
//   No length prefix, no time-out: the read waits as long as the connection
//   is open.
// - Reply: WriteReply sends the reply's bytes and exactly one 0x00, the
//   whole buffer in one write, nothing before or after.
//
// The listener binds every local IPv4 address on its port, listens with the
// given backlog (15 for the service, 10 for the plug-in), sends nothing on
// connect, sets no limit on connections and no read time-out, and runs each
// accepted connection on a thread of its own. That thread calls the
// connection step (OnExecute) again and again for as long as the connection
// is still open after a run; it ends when a run leaves the connection closed
// or throws. Whatever the step throws ends the connection quietly; the
// listener and the other connections go on.
//
// The listener always asks for address reuse: the connections it ends itself
// leave their side waiting in TCP's TIME_WAIT for about a minute, which would
// otherwise keep a restarted program from binding its port. On Linux this
// never lets a second listener take a port that another socket listens on.
//
// Threads:
// - TcpListener: Start, Stop and the setters are called from one owning
//   thread (the main or user-interface thread); they are not safe to call
//   concurrently with each other. The accept loop runs on a thread of its own.
// - TcpConnection: ReadRequest and WriteReply are called only from the
//   connection's own thread. Close, EndReading and Connected may be called
//   from any thread (Stop ends the reading from the owning thread); the
//   state they touch is atomic. The descriptor is released only when the connection
//   object is destroyed, after its thread has finished with it.
// - The step function is copied at Start and called from connection threads,
//   several at once; whatever it reaches must be safe for that.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostra {

// Every socket failure: a reset connection, a failed bind, a failed write.
class ENetError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
// The peer closed the connection (or it was closed from this side) while a
// request was awaited or half-received.
class EConnectionClosed : public ENetError {
  public:
    using ENetError::ENetError;
};
// More than MaxRequestBytes arrived before the 0x00.
class ERequestTooLong : public ENetError {
  public:
    using ENetError::ENetError;
};
// Stop found connection threads still running when its wait ran out.
class EStopTimeout : public ENetError {
  public:
    using ENetError::ENetError;
};

class TcpConnection {
  public:
    static constexpr std::size_t MaxRequestBytes = 16384;

    // Takes ownership of a connected stream socket (TCP, or a Unix socket
    // pair in tests).
    explicit TcpConnection(int Fd);
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // One framed request: the bytes before the next 0x00 (0x00 consumed).
    // Throws EConnectionClosed when the connection closes first,
    // ERequestTooLong past the limit (the connection is then closed), and
    // ENetError for a socket error such as a reset (connection closed too).
    std::string ReadRequest();

    // Sends Reply followed by one 0x00 in one write. Throws ENetError with the
    // socket's error text when the write fails (the connection is then closed).
    void WriteReply(std::string_view Reply);

    // Ends the connection: both directions shut down, a blocked ReadRequest on
    // another thread returns with EConnectionClosed. Idempotent, any thread.
    void Close();
    // Ends only the waiting for requests: a ReadRequest blocked on another
    // thread, and every later one, ends with EConnectionClosed (bytes already
    // received but not yet returned as a request are dropped), while a reply
    // can still be written. Idempotent, any thread.
    void EndReading();
    bool Connected() const { return !Closed_.load(); }

    // "a.b.c.d:port" of the peer, empty when unknown.
    std::string PeerAddress() const;

  private:
    int Fd_;
    std::atomic<bool> Closed_{false};
    std::atomic<bool> ReadingEnded_{false};
    std::string Pending_;  // bytes received after the last request's 0x00
};

// What a message handler of any interface kind offers: act on one decoded
// request and write at most one reply to the connection before returning.
// Errors that leave HandleMessage abandon the request (no reply).
class IMessageHandler {
  public:
    virtual ~IMessageHandler() = default;
    virtual void HandleMessage(TcpConnection& Connection, const std::string& Request) = 0;
};

// One run of the standard connection step:
//   1. Handler := MakeHandler().
//   2. Read one request, decode it from UTF-8 loosely (DecodeUtf8: a byte
//      that is not well-formed UTF-8 becomes U+FFFD, so a request in another
//      encoding is handled like any other), Handler->HandleMessage(Connection, text).
//   3. Always, also after an error: free the handler; then close the
//      connection unless KeepOpen() returns true (KeepOpen may be empty: close).
//   4. An error of step 2 is rethrown after step 3.
// Kind 1 passes a KeepOpen that reads KeepClientConnection; the other kinds
// and the plug-in pass none, so each connection carries one request.
void RunRequestStep(TcpConnection& Connection,
                    const std::function<std::unique_ptr<IMessageHandler>()>& MakeHandler,
                    const std::function<bool()>& KeepOpen);

class TcpListener {
  public:
    using ConnectionStep = std::function<void(TcpConnection&)>;
    static constexpr int DefaultBacklog = 15;
    static constexpr std::chrono::milliseconds DefaultStopTimeout{5000};
    static constexpr std::chrono::milliseconds StopPollInterval{250};

    TcpListener();
    // Stops the listener if it is on (a stop time-out is swallowed here; the
    // threads still running are left to finish on their own).
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Settings, read by Start. Port 0 asks the system for a free port
    // (BoundPort tells which).
    void SetPort(uint16_t Port) { Port_ = Port; }
    uint16_t Port() const { return Port_; }
    void SetBacklog(int Backlog) { Backlog_ = Backlog; }
    void SetOnExecute(ConnectionStep Step) { Step_ = std::move(Step); }

    // Binds 0.0.0.0:Port (with address reuse) and starts accepting. Throws
    // ENetError with the system's text ("Could not bind socket. Address and
    // port are already in use." for a port in use) and stays off when it
    // cannot. Starting a listener that is on does nothing.
    void Start();

    // Stops accepting and ends every connection's waiting for requests
    // (EndReading): a connection that waits for a request ends at once, a
    // request that is being handled runs to its end and its reply is written,
    // and no further request is read. Then waits up to Timeout, checking
    // every 250 ms, for the connection threads to end. Throws
    // EStopTimeout("Terminate Thread Timeout") when some are still running
    // (they go on and finish on their own); the listener is off all the same.
    // Stopping a listener that is off does nothing.
    void Stop(std::chrono::milliseconds Timeout = DefaultStopTimeout);

    bool Active() const { return Active_; }
    // The port actually bound while on (useful with port 0), else 0.
    uint16_t BoundPort() const { return BoundPort_; }
    // Connection threads currently running, those left behind by a timed-out
    // Stop included. Asked from the owning thread.
    std::size_t ConnectionCount() const;

    struct Shared;  // state shared with the connection threads

  private:
    uint16_t Port_ = 0;
    int Backlog_ = DefaultBacklog;
    ConnectionStep Step_;
    bool Active_ = false;
    uint16_t BoundPort_ = 0;
    std::shared_ptr<Shared> Shared_;
    std::shared_ptr<Shared> Lingering_;  // threads left running by a timed-out Stop
};

}  // namespace ostra
