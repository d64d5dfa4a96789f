#include "plugin/MessageHandlerUnit.h"

#include <memory>
#include <pugixml.hpp>
#include <stdexcept>

#include "plugin/DoorlockGlobal.h"
#include "plugin/LogFileUnit.h"
#include "plugin/RegionalSettingsUnit.h"
#include "plugin/SysOptionsUnit.h"

namespace ostra::kestrane {

namespace {

void Log(const std::string& Text) {
    // Always written; an I/O error leaves here and abandons the request.
    if (LogFile) LogFile->Write(Text);
}

int32_t DelayMinutes() {
    return SysOptions ? SysOptions->DelayMinutes : 0;
}

}  // namespace

TMessageHandler::TMessageHandler(QPlainTextEdit* Memo) : Memo_(Memo) {}

void TMessageHandler::HandleMessage(TcpConnection& Connection, const std::string& Request) {
    Log("收到消息: \r\n" + Request);

    pugi::xml_document document;
    MessageHandlerUnit::TResponse response;
    const pugi::xml_node root = DoorRequest::ParseRoot(document, Request);
    const std::string operation = DoorRequest::OperationOf(root);

    int64_t cardNo = 0;
    DoorlockMessageHandlerUnit::TOutcome outcome;
    if (operation == "IssueCard") {
        const bool ok = IssueCard(root, cardNo);
        outcome =
            DoorlockMessageHandlerUnit::IssueOutcome(ok, cardNo, DoorRequest::ChildText(root, 4));
    } else if (operation == "ReadCard") {
        const bool ok = ReadCard(cardNo);
        outcome = DoorlockMessageHandlerUnit::ReadOutcome(ok, cardNo);
    } else if (operation == "EraseCard") {
        outcome = DoorlockMessageHandlerUnit::EraseOutcome(EraseCard(), "");
    } else {
        return;  // nothing is sent and nothing more is logged
    }
    Log(outcome.LogText);
    response = outcome.Response;
    SendResponse(Connection, response);
}

bool TMessageHandler::IssueCard(const pugi::xml_node& Root, int64_t& CardNo) {
    const std::string registerId = DoorRequest::ChildText(Root, 1);
    const std::string buildingCode = DoorRequest::ChildText(Root, 2);
    const std::string floorCode = DoorRequest::ChildText(Root, 3);
    const std::string roomNo = DoorRequest::ChildText(Root, 4);
    const std::string guestName = DoorRequest::ChildText(Root, 5);
    const int32_t delay = DelayMinutes();
    const std::string checkInText =
        DoorRequest::ChildText(Root, 6) + " " + DoorRequest::ChildText(Root, 7);
    const TDateTime checkIn = IncMinute(StrToDateTime(checkInText), -int64_t{delay});
    const std::string checkOutText =
        DoorRequest::ChildText(Root, 8) + " " + DoorRequest::ChildText(Root, 9);
    const TDateTime checkOut = IncMinute(StrToDateTime(checkOutText), -int64_t{delay});

    TBaseDoorlock* lock = Doorlock.load();
    if (!lock) return false;
    return lock->WriteCard(registerId, buildingCode, floorCode, roomNo, guestName, checkIn, checkIn,
                           checkOut, checkOut, CardNo);
}

bool TMessageHandler::ReadCard(int64_t& CardNo) {
    TBaseDoorlock* lock = Doorlock.load();
    return lock ? lock->ReadCard(CardNo) : false;
}

bool TMessageHandler::EraseCard() {
    TBaseDoorlock* lock = Doorlock.load();
    return lock ? lock->EraseCard() : false;
}

void ServeConnection(TcpConnection& Connection, QPlainTextEdit* Memo) {
    RunRequestStep(Connection, [Memo] { return std::make_unique<TMessageHandler>(Memo); }, {});
}

void TMessageHandler::SendResponse(TcpConnection& Connection,
                                   const MessageHandlerUnit::TResponse& Response) {
    try {
        Connection.WriteReply(Response.ToXml());
    } catch (...) {
        // A client that has gone away gets nothing; the request ends normally.
    }
}

}  // namespace ostra::kestrane
