// The reply record of one member-card request and its DoorResponse text.
#pragma once

#include <string>

namespace ostra::MemberMessageHandlerUnit {

struct TResponse {
    std::string RequestID;  // never assigned
    std::string ResultCode;
    std::string ResultMessage;
    std::string CardNo;
    std::string Password;
    std::string ExpireDate;
    std::string GuestName;
    std::string Score;

    // The reply as one line of UTF-8, values inserted as they stand (no
    // escaping). The element order differs from the field order.
    std::string ToXml() const;
};

}  // namespace ostra::MemberMessageHandlerUnit
