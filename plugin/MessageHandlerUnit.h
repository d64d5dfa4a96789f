// The library's door-lock request handler: one request in, one operation on
// the host's lock object, at most one reply out.
//
// It reads the service's DoorRequest and writes the service's DoorResponse
// (service/core/DoorlockMessageHandlerUnit.h), and differs from the service's
// handler in this:
//   - the log gets exactly two entries per request, "收到消息: " with the
//     request and the result line (one for an unknown operation): no
//     "执行操作->", no "返回数据:", no "完成一次操作";
//   - only children 1 to 9 are read; children 10 and 11 (copy and
//     keep-connection flags) make no difference;
//   - the check-in and the check-out both move back by SysOptions
//     DelayMinutes; there is no record database and no copy rule;
//   - dates are read with the user's regional settings (RegionalSettingsUnit);
//   - the EraseCard messages have no trailing blank;
//   - a failed reply write is dropped without a log entry;
//   - a log write that fails (ELogIoError) abandons the request: on the first
//     entry before anything is parsed, on the result line after the card
//     operation and before the reply.
//
// Threads: one handler per connection, used on that connection's thread.
// Several run at once and share Doorlock, SysOptions and LogFile, which take
// no lock of the library's own (LogWriter serialises its entries).
#pragma once

#include <cstdint>
#include <string>

#include "platform/net/TcpListener.h"
#include "service/core/DoorlockMessageHandlerUnit.h"

namespace pugi {
class xml_node;
}

class QPlainTextEdit;

namespace ostra::kestrane {

namespace MessageHandlerUnit {
// The same reply record and DoorResponse text as the service's.
using TResponse = DoorlockMessageHandlerUnit::TResponse;
}  // namespace MessageHandlerUnit

class TMessageHandler : public IMessageHandler {
  public:
    // Keeps the main window's memo; never writes to it.
    explicit TMessageHandler(QPlainTextEdit* Memo = nullptr);

    // Logs the request, parses it, runs the operation and replies. A
    // malformed request (rejected XML, no root, a missing child 1 to 9, a
    // date that does not read), an error of the lock or of the log leaves
    // this call: no reply. An unknown operation: no reply, one log entry.
    void HandleMessage(TcpConnection& Connection, const std::string& Request) override;

    bool IssueCard(const pugi::xml_node& Root, int64_t& CardNo);
    bool ReadCard(int64_t& CardNo);
    bool EraseCard();
    // Writes the reply and one 0x00; any error of the write is dropped.
    void SendResponse(TcpConnection& Connection, const MessageHandlerUnit::TResponse& Response);

    QPlainTextEdit* Memo() const { return Memo_; }

  private:
    QPlainTextEdit* Memo_;
};

// The listener's step for one connection, on that connection's thread: read
// one request, hand it to a new TMessageHandler holding `Memo`, free the
// handler, close the connection. Every connection carries one request.
// Errors (a bad request, a closed connection) leave to the listener.
void ServeConnection(TcpConnection& Connection, QPlainTextEdit* Memo);

}  // namespace ostra::kestrane
