#include "otherkinds/core/GuestXml.h"

#include <cstdint>

#include "otherkinds/core/WholeNumber.h"

namespace ostra {

std::string GuestToXml(const TGuest& Guest) {
    // In 64 bits, so that the largest GenderID still gets its successor.
    const int64_t salutation = int64_t{StrToWholeNumber(Guest.GenderID)} + 1;
    return "<Guest><RoomNo>" + Guest.RoomNo + "</RoomNo>" + "<EnterTime>" + Guest.EnterTime +
           "</EnterTime>" + "<IdCardTypeID>11</IdCardTypeID>" + "<IdCardNo>" + Guest.IdCardNo +
           "</IdCardNo>" + "<Name>" + Guest.Name + "</Name>" + "<Nationality>" + Guest.Nationality +
           "</Nationality>" + "<GenderID>" + Guest.GenderID + "</GenderID>" + "<SalutationID>" +
           std::to_string(salutation) + "</SalutationID>" + "<CountryCode>" + Guest.CountryCode +
           "</CountryCode>" + "<ProvinceCode>" + Guest.ProvinceCode + "</ProvinceCode>" +
           "<Address>" + Guest.Address + "</Address>" + "<Birthday>" + Guest.Birthday +
           "</Birthday>" + "</Guest>";
}

std::string PoliceResponseText(const TGuest* Guest) {
    if (Guest == nullptr) return "<PoliceResponse></PoliceResponse>";
    return "<PoliceResponse>" + GuestToXml(*Guest) + "</PoliceResponse>";
}

}  // namespace ostra
