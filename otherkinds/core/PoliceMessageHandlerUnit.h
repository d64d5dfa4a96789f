// The police guest-registration request handler (interface kind 2).
//
// Every request, whatever its text (XML or not), is logged and answered with
// the police device's current guest: "<PoliceResponse>" + the Guest element +
// "</PoliceResponse>", or "<PoliceResponse></PoliceResponse>" without a guest
// or without a device. The reply is logged after "返回结果: "; a failed write
// is dropped silently. The connection is closed after every request by the
// caller.
//
// Threads: one handler per request, created, used and freed on that
// request's connection thread; handlers of several connections run at once
// and share `Police` and `LogFile` (each says how it copes).
#pragma once

#include <string>

#include "otherkinds/core/BasePoliceUnit.h"
#include "otherkinds/core/GuestXml.h"
#include "platform/net/TcpListener.h"

namespace ostra {

class TPoliceMessageHandler : public IMessageHandler {
  public:
    // A GenderID that is not a whole number and any error of the device
    // throw: no reply, no "返回结果: " line.
    void HandleMessage(TcpConnection& Connection, const std::string& Request) override;

    // Builds the reply (throws before logging or sending when GenderID is not
    // a whole number), logs it, writes it with one 0x00; a failed write is
    // dropped silently.
    void SendResponse(TcpConnection& Connection, const TGuest* Guest);
};

}  // namespace ostra
