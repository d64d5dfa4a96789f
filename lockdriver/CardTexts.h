// The texts that cross between the lock driver and the card library, and the
// card-number notification to the front desk.
//
// Threads: pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/datetime/DateTime.h"

namespace ostra {

// The end of validity as the card library takes it: the date of EndDate as
// "yyyymmdd" followed by the time of EndTime as "hhnn" (12 characters).
std::string CardEndText(TDateTime EndDate, TDateTime EndTime);

// A building or floor code as a 32-bit integer. Throws EConvertError
// "'<text>' is not a valid integer value" for anything that is not one.
int32_t CodeToInt(std::string_view Text);

// The card number from the hexadecimal text that issuing returns ("00001A"
// gives 26), or from the decimal text that reading returns ("00000026" gives
// 26). Throw EConvertError "'<text>' is not a valid integer value" for an
// empty text, a foreign character or a number beyond 64 bits.
int64_t HexCardNoToInt(std::string_view Text);
int64_t DecimalCardNoToInt(std::string_view Text);

// "<ZeltRequest><DoorCardNo>26</DoorCardNo></ZeltRequest>" for card 26.
std::string ZeltRequestText(int64_t CardNo);

}  // namespace ostra
