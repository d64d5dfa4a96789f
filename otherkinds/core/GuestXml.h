// The Guest element of the police reply, built as text.
#pragma once

#include <string>

#include "otherkinds/core/BasePoliceUnit.h"

namespace ostra {

// The guest as one line, member texts inserted as they stand (no escaping),
// IdCardTypeID always 11 and SalutationID = GenderID + 1. Throws
// std::invalid_argument when GenderID is not a whole number.
std::string GuestToXml(const TGuest& Guest);

// "<PoliceResponse>" + the guest + "</PoliceResponse>"; without a guest
// "<PoliceResponse></PoliceResponse>". Throws as GuestToXml.
std::string PoliceResponseText(const TGuest* Guest);

}  // namespace ostra
