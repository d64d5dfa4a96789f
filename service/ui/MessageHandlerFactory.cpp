#include "service/ui/MessageHandlerFactory.h"

#include <stdexcept>
#include <string>

#include "otherkinds/core/HandMessageHandlerUnit.h"
#include "otherkinds/core/MemberMessageHandlerUnit.h"
#include "otherkinds/core/PoliceMessageHandlerUnit.h"
#include "service/core/DoorlockMessageHandlerUnit.h"
#include "service/core/InterfaceKind.h"

namespace ostra {

std::unique_ptr<IMessageHandler> CreateMessageHandler(int Kind) {
    switch (Kind) {
        case KindDoorlock:
            return std::make_unique<TDoorlockMessageHandler>();
        case KindPolice:
            return std::make_unique<TPoliceMessageHandler>();
        case KindMember:
            return std::make_unique<TMemberMessageHandler>();
        case KindHand:
            return std::make_unique<THandMessageHandler>();
        default:
            break;
    }
    throw std::logic_error("No message handler for interface kind " + std::to_string(Kind));
}

}  // namespace ostra
