#include "otherkinds/core/HandMessageHandlerUnit.h"

#include <pugixml.hpp>

#include "otherkinds/core/BaseHandUnit.h"
#include "otherkinds/core/OtherKindsRequest.h"
#include "service/core/DoorlockMessageHandlerUnit.h"
#include "service/core/LogFileUnit.h"

namespace ostra {

void THandMessageHandler::HandleMessage(TcpConnection& Connection, const std::string& Request) {
    LogRequestReceived(Request);

    pugi::xml_document document;
    HandMessageHandlerUnit::TResponse response;
    const pugi::xml_node root = DoorRequest::ParseRoot(document, Request);
    const std::string operation = DoorRequest::OperationOf(root);
    LogWrite("执行操作->");

    std::string handNo;
    if (operation == "IssueHand") {
        const bool ok = IssueHand(root, handNo);
        response.ResultCode = ok ? "200" : "500";
        // Issue says "写" on success and "发" on failure, in the reply and the log.
        response.ResultMessage = ok ? "写手牌卡成功" : "发手牌卡失败";
        response.HandNo = handNo;  // as the device left it, also on failure
        LogWrite(ok ? "写手牌卡成功" : "发手牌失败");
        SendResponse(Connection, response);
    } else if (operation == "ReadHand") {
        const bool ok = ReadHand(handNo);
        response.ResultCode = ok ? "200" : "500";
        response.ResultMessage = ok ? "读手牌卡成功" : "读手牌卡失败";
        if (ok) response.HandNo = handNo;
        LogWrite(ok ? "读手牌成功，卡号为：" + handNo : std::string("读手牌失败"));
        SendResponse(Connection, response);
    } else if (operation == "EraseHand") {
        const bool ok = EraseHand(handNo);
        response.ResultCode = ok ? "200" : "500";
        // The reply's message ends in a blank, the log line does not.
        response.ResultMessage = ok ? "注销手牌成功 " : "注销手牌失败 ";
        if (ok) response.HandNo = handNo;
        LogWrite(ok ? "注销手牌成功" : "注销手牌失败");
        SendResponse(Connection, response);
    }

    LogWrite("返回数据:" + response.ToXml());
    LogWrite("完成一次操作");
}

bool THandMessageHandler::IssueHand(const pugi::xml_node&, std::string& HandNo) {
    HandNo.clear();
    TBaseHand* device = Hand.load();
    return device != nullptr && device->WriteCard(HandNo);
}

bool THandMessageHandler::ReadHand(std::string& HandNo) {
    HandNo.clear();
    TBaseHand* device = Hand.load();
    return device != nullptr && device->ReadCard(HandNo);
}

bool THandMessageHandler::EraseHand(std::string& HandNo) {
    HandNo.clear();
    TBaseHand* device = Hand.load();
    return device != nullptr && device->EraseCard(HandNo);
}

void THandMessageHandler::SendResponse(TcpConnection& Connection,
                                       const HandMessageHandlerUnit::TResponse& Response) {
    try {
        Connection.WriteReply(Response.ToXml());
    } catch (const std::exception& e) {
        LogWrite(e.what());
    }
}

}  // namespace ostra
