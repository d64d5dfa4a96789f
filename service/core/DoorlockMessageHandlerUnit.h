// The door-lock request handler (interface kind 1): one DoorRequest in, one
// card operation on Doorlock, one DoorResponse out.
//
// Request: an XML document; the operation is the root's "type" attribute
// (name matched without case, value trimmed of characters 0x20 and below,
// compared exactly with "IssueCard", "ReadCard", "EraseCard"). IssueCard reads
// the root's children by position: 1 RegisterId, 2 BuildingCode, 3 FloorCode,
// 4 RoomNo, 5 GuestName, 6/7 check-in date/time, 8/9 check-out date/time,
// 10 IsCopy, 11 (optional) keep the connection open.
//
// Reply: "<DoorResponse><RequestID></RequestID><ResultCode>..</ResultCode>
// <ResultMessage>..</ResultMessage><CardNo>..</CardNo></DoorResponse>" (one
// line, no blanks between elements) as UTF-8 followed by one 0x00.
//
// Threads: one handler per request, created, used and freed on that
// request's connection thread. Handlers of several connections run at once;
// they share Doorlock, RecordManager, LogFile, SysOption and
// KeepClientConnection, each of which says how it copes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/datetime/DateTime.h"
#include "platform/net/TcpListener.h"

namespace pugi {
class xml_document;
class xml_node;
}  // namespace pugi

namespace ostra {

namespace DoorlockMessageHandlerUnit {

// The reply record of one request.
struct TResponse {
    std::string RequestID;      // never assigned
    std::string ResultCode;     // "200", "500", or empty when no operation ran
    std::string ResultMessage;  // the Chinese result message
    int64_t CardNo = 0;

    // The DoorResponse text (UTF-8), without the 0x00.
    std::string ToXml() const;
};

// What one card operation that has run answers and logs: its reply and its
// result log line. Shared by the service's and the plug-in's handlers.
struct TOutcome {
    TResponse Response;
    std::string LogText;
};
// IssueCard for room RoomNo: card number in the reply whatever the result.
TOutcome IssueOutcome(bool Ok, int64_t CardNo, const std::string& RoomNo);
// ReadCard: card number in the reply only when read.
TOutcome ReadOutcome(bool Ok, int64_t CardNo);
// EraseCard: the reply's message is the log text followed by MessageSuffix.
TOutcome EraseOutcome(bool Ok, const std::string& MessageSuffix);

}  // namespace DoorlockMessageHandlerUnit

class TDoorlockMessageHandler : public IMessageHandler {
  public:
    TDoorlockMessageHandler() = default;

    // Logs the request, parses it, runs the operation, replies, logs the
    // reply and "完成一次操作". A malformed request (XML the parser rejects, no
    // root, a missing child 1 to 10, an unreadable date) throws: no reply, no
    // further log lines. An unknown operation gets no reply but its log lines.
    void HandleMessage(TcpConnection& Connection, const std::string& Request) override;

    // The IssueCard operation on the request's root. Throws for a missing
    // child or an unreadable date (see HandleMessage).
    bool IssueCard(const pugi::xml_node& Root, int64_t& CardNo);
    // Doorlock->ReadCard / EraseCard when Doorlock is set; false otherwise.
    bool ReadCard(int64_t& CardNo);
    bool EraseCard();
    // Writes Response.ToXml() and one 0x00; a failed write is logged (its
    // message alone) and not raised.
    void SendResponse(TcpConnection& Connection,
                      const DoorlockMessageHandlerUnit::TResponse& Response);
};

// Reading of the request's values, shared with the other handlers.
namespace DoorRequest {

// Parses Request into Document, keeping comments and other markup (they take
// child positions), and returns the root element; throws std::runtime_error
// when the text is not well-formed XML or has no root.
pugi::xml_node ParseRoot(pugi::xml_document& Document, const std::string& Request);

// The root's child constructs by position: elements, comments, CDATA and
// other markup, and each run of text holding a character above 0x20 that
// comes after the first child construct. Returns an empty node when out of range.
pugi::xml_node ChildAt(const pugi::xml_node& Root, int Position);
// A construct's value: the text between its tags (entities resolved,
// surrounding blanks kept); empty when it holds only characters 0x20 and below.
std::string ValueOf(const pugi::xml_node& Node);
// The value of child Position; throws std::runtime_error when it is missing.
std::string ChildText(const pugi::xml_node& Root, int Position);
// A truth value: a decimal number is true unless zero; otherwise "True" and
// "False" without case; anything else gives Default.
bool ReadBool(const std::string& Text, bool Default);
// The root's "type" attribute (name without case), trimmed of 0x00-0x20;
// empty when absent.
std::string OperationOf(const pugi::xml_node& Root);

}  // namespace DoorRequest

}  // namespace ostra
