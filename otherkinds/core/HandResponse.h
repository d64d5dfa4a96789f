// The reply record of one hand-card request and its DoorResponse text.
#pragma once

#include <string>

namespace ostra::HandMessageHandlerUnit {

struct TResponse {
    std::string RequestID;  // never assigned
    std::string ResultCode;
    std::string ResultMessage;
    std::string HandNo;

    // The reply as one line of UTF-8, values inserted as they stand.
    std::string ToXml() const;
};

}  // namespace ostra::HandMessageHandlerUnit
