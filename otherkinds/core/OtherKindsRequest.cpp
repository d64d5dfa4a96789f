#include "otherkinds/core/OtherKindsRequest.h"

#include "service/core/LogFileUnit.h"

namespace ostra {

void LogRequestReceived(const std::string& Request) {
    LogWrite("收到消息: \r\n" + Request);
}

}  // namespace ostra
