// The member-card request handler (interface kind 3).
//
// Requests "WriteMemberCard" and "ReadMemberCard", read like door-lock
// requests (root attribute "type", children by position). Replies a
// DoorResponse carrying the member card's five texts (MemberResponse.h).
// Logs the request and one result line only; a failed reply write is dropped
// silently. The connection is closed after every request by the caller.
//
// Threads: one handler per request, created, used and freed on that
// request's connection thread; handlers of several connections run at once
// and share `Member` and `LogFile` (each says how it copes).
#pragma once

#include <string>

#include "otherkinds/core/MemberResponse.h"
#include "platform/net/TcpListener.h"

namespace pugi {
class xml_node;
}

namespace ostra {

class TMemberMessageHandler : public IMessageHandler {
  public:
    // A malformed request (XML the parser rejects, no root, WriteMemberCard
    // without children 0 to 4, ReadMemberCard without child 1 or with a child
    // 1 that is not a whole number) and any error of the device throw: no
    // reply, no result line. An unknown operation gets nothing but the
    // request's log line.
    void HandleMessage(TcpConnection& Connection, const std::string& Request) override;

    // Reads children 0 to 4 (throws when one is missing) and the optional
    // channel, child 5; Member->WriteCard when Member is set, else false.
    bool WriteMemberCard(const pugi::xml_node& Root);

    // Empties the five outputs; Member->ReadCard when Member is set, else false.
    bool ReadMemberCard(bool Flag, std::string& CardNo, std::string& Password,
                        std::string& ExpireDate, std::string& GuestName, std::string& Score,
                        int Channel);

    // Writes Response.ToXml() and one 0x00; a failed write is dropped silently.
    void SendResponse(TcpConnection& Connection,
                      const MemberMessageHandlerUnit::TResponse& Response);
};

}  // namespace ostra
