#include "otherkinds/core/MemberResponse.h"

namespace ostra::MemberMessageHandlerUnit {

std::string TResponse::ToXml() const {
    return "<DoorResponse><RequestID>" + RequestID + "</RequestID>" + "<ResultCode>" + ResultCode +
           "</ResultCode>" + "<ResultMessage>" + ResultMessage + "</ResultMessage>" + "<CardNo>" +
           CardNo + "</CardNo>" + "<ExpireDate>" + ExpireDate + "</ExpireDate>" + "<GuestName>" +
           GuestName + "</GuestName>" + "<Score>" + Score + "</Score>" + "<Password>" + Password +
           "</Password>" + "</DoorResponse>";
}

}  // namespace ostra::MemberMessageHandlerUnit
