#include "otherkinds/core/PoliceMessageHandlerUnit.h"

#include "otherkinds/core/OtherKindsRequest.h"
#include "service/core/LogFileUnit.h"

namespace ostra {

void TPoliceMessageHandler::HandleMessage(TcpConnection& Connection, const std::string& Request) {
    LogRequestReceived(Request);
    TBasePolice* device = Police.load();
    const TGuest* guest = device != nullptr ? device->GetGuest() : nullptr;
    SendResponse(Connection, guest);
}

void TPoliceMessageHandler::SendResponse(TcpConnection& Connection, const TGuest* Guest) {
    const std::string text = PoliceResponseText(Guest);
    LogWrite("返回结果: \r\n" + text);
    try {
        Connection.WriteReply(text);
    } catch (const std::exception&) {
        // The client is gone; nothing to tell anyone.
    }
}

}  // namespace ostra
