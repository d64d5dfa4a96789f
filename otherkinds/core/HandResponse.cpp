#include "otherkinds/core/HandResponse.h"

namespace ostra::HandMessageHandlerUnit {

std::string TResponse::ToXml() const {
    return "<DoorResponse><RequestID>" + RequestID + "</RequestID>" + "<ResultCode>" + ResultCode +
           "</ResultCode>" + "<ResultMessage>" + ResultMessage + "</ResultMessage>" + "<HandNo>" +
           HandNo + "</HandNo>" + "</DoorResponse>";
}

}  // namespace ostra::HandMessageHandlerUnit
