#include "service/core/DoorlockMessageHandlerUnit.h"

#include <pugixml.hpp>

namespace ostra {

std::string DoorlockMessageHandlerUnit::TResponse::ToXml() const {
    return "<DoorResponse><RequestID>" + RequestID + "</RequestID><ResultCode>" + ResultCode +
           "</ResultCode><ResultMessage>" + ResultMessage + "</ResultMessage><CardNo>" +
           std::to_string(CardNo) + "</CardNo></DoorResponse>";
}

void TDoorlockMessageHandler::HandleMessage(TcpConnection&, const std::string&) {}
bool TDoorlockMessageHandler::IssueCard(const pugi::xml_node&, int64_t&) { return false; }
bool TDoorlockMessageHandler::ReadCard(int64_t&) { return false; }
bool TDoorlockMessageHandler::EraseCard() { return false; }
void TDoorlockMessageHandler::SendResponse(TcpConnection&,
                                           const DoorlockMessageHandlerUnit::TResponse&) {}

}  // namespace ostra
