#include "otherkinds/core/MemberMessageHandlerUnit.h"

#include <pugixml.hpp>

#include "otherkinds/core/BaseMemberUnit.h"
#include "otherkinds/core/OtherKindsRequest.h"
#include "otherkinds/core/WholeNumber.h"
#include "service/core/DoorlockMessageHandlerUnit.h"
#include "service/core/LogFileUnit.h"

namespace ostra {

namespace {

// The optional channel child: -1 when absent or not a whole number.
int ChannelAt(const pugi::xml_node& Root, int Position) {
    const pugi::xml_node child = DoorRequest::ChildAt(Root, Position);
    if (!child) return HotelMemberCardChannel;
    return StrToWholeNumberDef(DoorRequest::ValueOf(child), HotelMemberCardChannel);
}

}  // namespace

void TMemberMessageHandler::HandleMessage(TcpConnection& Connection, const std::string& Request) {
    LogRequestReceived(Request);

    pugi::xml_document document;
    MemberMessageHandlerUnit::TResponse response;
    const pugi::xml_node root = DoorRequest::ParseRoot(document, Request);
    const std::string operation = DoorRequest::OperationOf(root);

    if (operation == "WriteMemberCard") {
        const std::string cardNo = DoorRequest::ChildText(root, 1);
        const bool ok = WriteMemberCard(root);
        response.ResultCode = ok ? "200" : "500";
        response.ResultMessage = ok ? "写卡成功" : "写卡失败";
        response.CardNo = cardNo;
        LogWrite((ok ? "写卡成功,卡号为:" : "写卡失败,卡号为:") + cardNo);
        SendResponse(Connection, response);
    } else if (operation == "ReadMemberCard") {
        const bool flag = StrToWholeNumber(DoorRequest::ChildText(root, 1)) == 1;
        const int channel = ChannelAt(root, 2);
        std::string cardNo, password, expireDate, guestName, score;
        const bool ok =
            ReadMemberCard(flag, cardNo, password, expireDate, guestName, score, channel);
        if (ok) {
            response.CardNo = cardNo;
            response.Password = password;
            response.ExpireDate = expireDate;
            response.GuestName = guestName;
            response.Score = score;
            response.ResultCode = "200";
            response.ResultMessage = "读卡成功";
            LogWrite("读卡成功，卡号为：" + cardNo);
        } else {
            // Whatever the device filled in before failing is not passed on.
            response.ResultCode = "500";
            response.ResultMessage = "读卡失败";
            LogWrite("读卡失败");
        }
        SendResponse(Connection, response);
    }
}

bool TMemberMessageHandler::WriteMemberCard(const pugi::xml_node& Root) {
    DoorRequest::ChildText(Root, 0);  // must exist; not used
    const std::string cardNo = DoorRequest::ChildText(Root, 1);
    const std::string text2 = DoorRequest::ChildText(Root, 2);
    const std::string text3 = DoorRequest::ChildText(Root, 3);
    const std::string text4 = DoorRequest::ChildText(Root, 4);
    const int channel = ChannelAt(Root, 5);
    TBaseMember* device = Member.load();
    if (device == nullptr) return false;
    return device->WriteCard(cardNo, text2, text3, text4, channel);
}

bool TMemberMessageHandler::ReadMemberCard(bool Flag, std::string& CardNo, std::string& Password,
                                           std::string& ExpireDate, std::string& GuestName,
                                           std::string& Score, int Channel) {
    CardNo.clear();
    Password.clear();
    ExpireDate.clear();
    GuestName.clear();
    Score.clear();
    TBaseMember* device = Member.load();
    if (device == nullptr) return false;
    return device->ReadCard(Flag, CardNo, Password, ExpireDate, GuestName, Score, Channel);
}

void TMemberMessageHandler::SendResponse(TcpConnection& Connection,
                                         const MemberMessageHandlerUnit::TResponse& Response) {
    try {
        Connection.WriteReply(Response.ToXml());
    } catch (const std::exception&) {
        // The client is gone; nothing to tell anyone.
    }
}

}  // namespace ostra
