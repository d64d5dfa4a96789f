#include "service/core/DoorlockMessageHandlerUnit.h"

#include <cctype>
#include <optional>
#include <pugixml.hpp>
#include <stdexcept>

#include "service/core/BaseDoorlockUnit.h"
#include "service/core/DoorlockRecordManagerUnit.h"
#include "service/core/KeepClientConnection.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"

namespace ostra {

using DoorlockMessageHandlerUnit::EraseOutcome;
using DoorlockMessageHandlerUnit::IssueOutcome;
using DoorlockMessageHandlerUnit::ReadOutcome;
using DoorlockMessageHandlerUnit::TResponse;

std::string TResponse::ToXml() const {
    return "<DoorResponse><RequestID>" + RequestID + "</RequestID><ResultCode>" + ResultCode +
           "</ResultCode><ResultMessage>" + ResultMessage + "</ResultMessage><CardNo>" +
           std::to_string(CardNo) + "</CardNo></DoorResponse>";
}

namespace DoorlockMessageHandlerUnit {

TOutcome IssueOutcome(bool Ok, int64_t CardNo, const std::string& RoomNo) {
    TOutcome o;
    o.Response.ResultCode = Ok ? "200" : "500";
    o.Response.ResultMessage = Ok ? "发卡成功" : "发卡失败";
    o.Response.CardNo = CardNo;
    o.LogText = "房间(" + RoomNo + (Ok ? ")发卡成功" : ")发卡失败");
    return o;
}

TOutcome ReadOutcome(bool Ok, int64_t CardNo) {
    TOutcome o;
    o.Response.ResultCode = Ok ? "200" : "500";
    o.Response.ResultMessage = Ok ? "读卡成功" : "读卡失败";
    if (Ok) o.Response.CardNo = CardNo;
    o.LogText = Ok ? "读卡成功，卡号为：" + std::to_string(CardNo) : std::string("读卡失败");
    return o;
}

TOutcome EraseOutcome(bool Ok, const std::string& MessageSuffix) {
    TOutcome o;
    o.Response.ResultCode = Ok ? "200" : "500";
    o.LogText = Ok ? "注销卡成功" : "注销卡失败";
    o.Response.ResultMessage = o.LogText + MessageSuffix;
    return o;
}

}  // namespace DoorlockMessageHandlerUnit

namespace DoorRequest {

namespace {

bool OnlyBlanks(const char* Text) {
    for (const char* p = Text; *p; ++p)
        if (static_cast<unsigned char>(*p) > 0x20) return false;
    return true;
}

bool IsTextRun(const pugi::xml_node& Node) {
    return Node.type() == pugi::node_pcdata;
}

}  // namespace

pugi::xml_node ParseRoot(pugi::xml_document& Document, const std::string& Request) {
    const pugi::xml_parse_result parsed =
        Document.load_buffer(Request.data(), Request.size(),
                             pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_declaration | pugi::parse_doctype,
                             pugi::encoding_utf8);
    if (!parsed)
        throw std::runtime_error(std::string("Invalid request XML: ") + parsed.description() +
                                 " at offset " + std::to_string(parsed.offset));
    const pugi::xml_node root = Document.document_element();
    if (!root) throw std::runtime_error("Invalid request XML: no root element");
    return root;
}

pugi::xml_node ChildAt(const pugi::xml_node& Root, int Position) {
    if (Position < 0) return {};
    bool seenConstruct = false;
    int position = 0;
    for (pugi::xml_node n = Root.first_child(); n; n = n.next_sibling()) {
        if (IsTextRun(n)) {
            // Text takes a position only after the first construct and only
            // when it holds more than blanks and line ends.
            if (!seenConstruct || OnlyBlanks(n.value())) continue;
        } else {
            seenConstruct = true;
        }
        if (position == Position) return n;
        ++position;
    }
    return {};
}

std::string ValueOf(const pugi::xml_node& Node) {
    std::string value;
    if (Node.type() == pugi::node_element) {
        for (pugi::xml_node n = Node.first_child(); n; n = n.next_sibling())
            if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) value += n.value();
    } else {
        value = Node.value();
    }
    return OnlyBlanks(value.c_str()) ? std::string() : value;
}

std::string ChildText(const pugi::xml_node& Root, int Position) {
    const pugi::xml_node n = ChildAt(Root, Position);
    if (!n) throw std::runtime_error("List index out of bounds (" + std::to_string(Position) + ")");
    return ValueOf(n);
}

bool ReadBool(const std::string& Text, bool Default) {
    size_t i = 0;
    if (!Text.empty() && (Text[0] == '+' || Text[0] == '-')) i = 1;
    if (i < Text.size()) {
        bool number = true, nonZero = false;
        for (size_t k = i; k < Text.size(); ++k) {
            if (!std::isdigit(static_cast<unsigned char>(Text[k]))) {
                number = false;
                break;
            }
            if (Text[k] != '0') nonZero = true;
        }
        if (number) return nonZero;
    }
    auto same = [&](const char* word) {
        size_t k = 0;
        for (; word[k]; ++k)
            if (k >= Text.size() || std::tolower(static_cast<unsigned char>(Text[k])) != word[k])
                return false;
        return k == Text.size();
    };
    if (same("true")) return true;
    if (same("false")) return false;
    return Default;
}

std::string OperationOf(const pugi::xml_node& Root) {
    for (pugi::xml_attribute a = Root.first_attribute(); a; a = a.next_attribute()) {
        const char* name = a.name();
        const char* want = "type";
        size_t k = 0;
        while (name[k] && want[k] && std::tolower(static_cast<unsigned char>(name[k])) == want[k])
            ++k;
        if (name[k] || want[k]) continue;
        std::string v = a.value();
        size_t b = 0, e = v.size();
        while (b < e && static_cast<unsigned char>(v[b]) <= 0x20) ++b;
        while (e > b && static_cast<unsigned char>(v[e - 1]) <= 0x20) --e;
        return v.substr(b, e - b);
    }
    return {};
}

}  // namespace DoorRequest

namespace {

// The date-time of child DatePos joined with child DatePos + 1 by one blank.
TDateTime ChildDateTime(const pugi::xml_node& Root, int DatePos) {
    const std::string date = DoorRequest::ChildText(Root, DatePos);
    const std::string time = DoorRequest::ChildText(Root, DatePos + 1);
    return StrToDateTime(date + " " + time);
}

}  // namespace

void TDoorlockMessageHandler::HandleMessage(TcpConnection& Connection, const std::string& Request) {
    LogWrite("收到消息: \r\n" + Request);

    pugi::xml_document doc;
    TResponse response;
    const pugi::xml_node root = DoorRequest::ParseRoot(doc, Request);
    const std::string operation = DoorRequest::OperationOf(root);

    LogWrite("执行操作->");

    int64_t cardNo = 0;
    std::optional<DoorlockMessageHandlerUnit::TOutcome> outcome;
    if (operation == "IssueCard") {
        const bool ok = IssueCard(root, cardNo);
        outcome = IssueOutcome(ok, cardNo, DoorRequest::ChildText(root, 4));
    } else if (operation == "ReadCard") {
        const bool ok = ReadCard(cardNo);
        outcome = ReadOutcome(ok, cardNo);
    } else if (operation == "EraseCard") {
        outcome = EraseOutcome(EraseCard(), " ");
    }
    if (outcome) {
        response = outcome->Response;
        LogWrite(outcome->LogText);
        SendResponse(Connection, response);
    }

    LogWrite("返回数据:" + response.ToXml());
    LogWrite("完成一次操作");
}

bool TDoorlockMessageHandler::IssueCard(const pugi::xml_node& Root, int64_t& CardNo) {
    const std::string registerId = DoorRequest::ChildText(Root, 1);
    const std::string buildingCode = DoorRequest::ChildText(Root, 2);
    const std::string floorCode = DoorRequest::ChildText(Root, 3);
    const std::string roomNo = DoorRequest::ChildText(Root, 4);
    const std::string guestName = DoorRequest::ChildText(Root, 5);

    const TSysOption defaults("");
    const TSysOption& option = SysOption ? *SysOption : defaults;

    const TDateTime checkIn = IncMinute(ChildDateTime(Root, 6), -int64_t{option.DelayMinutes});
    const TDateTime checkOut = IncMinute(ChildDateTime(Root, 8), int64_t{option.DelayMinutes2});
    const bool isCopy = DoorRequest::ReadBool(DoorRequest::ChildText(Root, 10), false);
    if (const pugi::xml_node keep = DoorRequest::ChildAt(Root, 11))
        KeepClientConnection.store(DoorRequest::ReadBool(DoorRequest::ValueOf(keep), false));

    const std::string roomKey = buildingCode + floorCode + roomNo;
    TDoorlockRecordManager* records = RecordManager;

    TDateTime begin;
    if (option.UseNativeDoorlockDb) {
        if (isCopy) {
            begin = records ? records->GetLastCheckInTime(roomKey) : 0;
            if (begin == 0) {
                begin = IncMinute(Now(), -int64_t{option.DelayMinutes});
                if (records) records->InsertRoom(roomKey, begin);
            }
        } else {
            begin = IncMinute(Now(), -int64_t{option.DelayMinutes});
        }
    } else {
        begin = checkIn;
    }

    bool ok = false;
    if (TBaseDoorlock* lock = Doorlock.load())
        ok = lock->WriteCard(registerId, buildingCode, floorCode, roomNo, guestName, begin, begin,
                             checkOut, checkOut, isCopy, CardNo);

    if (ok && option.UseNativeDoorlockDb && !isCopy && records)
        records->UpdateLastCheckInTime(roomKey, begin);

    if (option.SaveDoorlockRecord && records)
        records->InsertIssueCardRecord(registerId, std::to_string(CardNo), roomKey, 1, begin,
                                       checkIn, checkOut, isCopy, guestName, Now());
    return ok;
}

bool TDoorlockMessageHandler::ReadCard(int64_t& CardNo) {
    TBaseDoorlock* lock = Doorlock.load();
    return lock ? lock->ReadCard(CardNo) : false;
}

bool TDoorlockMessageHandler::EraseCard() {
    TBaseDoorlock* lock = Doorlock.load();
    return lock ? lock->EraseCard() : false;
}

void TDoorlockMessageHandler::SendResponse(TcpConnection& Connection, const TResponse& Response) {
    try {
        Connection.WriteReply(Response.ToXml());
    } catch (const std::exception& e) {
        LogWrite(e.what());
    }
}

}  // namespace ostra
