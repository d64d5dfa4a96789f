#include "service/ui/MessageHandlerFactory.h"

#include <stdexcept>
#include <string>

#include "service/core/DoorlockMessageHandlerUnit.h"
#include "service/core/InterfaceKind.h"

namespace ostra {

std::unique_ptr<IMessageHandler> CreateMessageHandler(int Kind) {
    switch (Kind) {
        case KindDoorlock: return std::make_unique<TDoorlockMessageHandler>();
        default: break;
    }
    throw std::logic_error("No message handler for interface kind " + std::to_string(Kind));
}

}  // namespace ostra
