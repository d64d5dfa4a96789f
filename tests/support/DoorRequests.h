// Requests of the front desk to the door-lock service and the replies it
// expects, as text without the terminating 0x00.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace ostra::testsupport {

inline std::string ReadCardRequest() {
    return "<DoorRequest type=\"ReadCard\"/>";
}

// An IssueCard request for Room; Keep, when given, is the keep-connection child.
inline std::string IssueRequest(const std::string& Room, std::optional<int> Keep = std::nullopt) {
    std::string R =
        "<DoorRequest type=\"IssueCard\"><RequestID/><RegisterId>R1</RegisterId>"
        "<BuildingCode>1</BuildingCode><FloorCode>1</FloorCode><RoomNo>" +
        Room +
        "</RoomNo><GuestName>Guest</GuestName><CheckInDate>2026-05-01</CheckInDate>"
        "<CheckInTime>14:00:00</CheckInTime><CheckOutDate>2030-05-03</CheckOutDate>"
        "<CheckOutTime>11:50:00</CheckOutTime><IsCopy>0</IsCopy>";
    if (Keep) R += "<KeepConnection>" + std::to_string(*Keep) + "</KeepConnection>";
    return R + "</DoorRequest>";
}

inline std::string DoorReply(const std::string& Code, const std::string& Message, int64_t CardNo) {
    return "<DoorResponse><RequestID></RequestID><ResultCode>" + Code +
           "</ResultCode><ResultMessage>" + Message + "</ResultMessage><CardNo>" +
           std::to_string(CardNo) + "</CardNo></DoorResponse>";
}

// The card number of a reply, or -1.
inline int64_t CardNoOf(const std::string& Reply) {
    const std::size_t S = Reply.find("<CardNo>");
    const std::size_t E = Reply.find("</CardNo>");
    if (S == std::string::npos || E == std::string::npos || E <= S + 8) return -1;
    try {
        return std::stoll(Reply.substr(S + 8, E - S - 8));
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace ostra::testsupport
