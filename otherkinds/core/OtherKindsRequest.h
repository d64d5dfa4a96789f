// What the handlers of interface kinds 2 to 4 share with the door-lock
// handler's frame: the log entry of a received request. (Requests are parsed
// with DoorRequest::ParseRoot, as the door-lock handler parses them.)
#pragma once

#include <string>

namespace ostra {

// Logs "收到消息: ", CR LF and the request text as one entry.
void LogRequestReceived(const std::string& Request);

}  // namespace ostra
