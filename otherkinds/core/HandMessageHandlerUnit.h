// The hand-card request handler (interface kind 4).
//
// Requests "IssueHand", "ReadHand" and "EraseHand" (root attribute "type";
// no child is read). Replies a DoorResponse carrying the hand-card number
// (HandResponse.h). Logs like the door-lock handler: the request,
// "执行操作->", the result line, a failed send's error text, "返回数据:" with
// the reply, "完成一次操作". The connection is closed after every request by
// the caller.
//
// Threads: one handler per request, created, used and freed on that
// request's connection thread; handlers of several connections run at once
// and share `Hand` and `LogFile` (each says how it copes).
#pragma once

#include <string>

#include "otherkinds/core/HandResponse.h"
#include "platform/net/TcpListener.h"

namespace pugi {
class xml_node;
}

namespace ostra {

class THandMessageHandler : public IMessageHandler {
  public:
    // A text the parser rejects, a document without a root and any error of
    // the device throw: no reply and no later log line. An unknown operation
    // gets no reply but all its log lines.
    void HandleMessage(TcpConnection& Connection, const std::string& Request) override;

    // Each empties HandNo, then calls the matching operation of Hand when it
    // is set (WriteCard, ReadCard, EraseCard); false without a device.
    bool IssueHand(const pugi::xml_node& Root, std::string& HandNo);
    bool ReadHand(std::string& HandNo);
    bool EraseHand(std::string& HandNo);

    // Writes Response.ToXml() and one 0x00; a failed write logs the error's
    // message and does not raise.
    void SendResponse(TcpConnection& Connection, const HandMessageHandlerUnit::TResponse& Response);
};

}  // namespace ostra
