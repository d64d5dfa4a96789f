// Reading a whole number from a request or guest text: a 32-bit signed integer
// in decimal, an optional sign, then decimal figures. Blanks and control
// characters around it are allowed; anything else (the empty text, a fraction,
// hexadecimal, a value outside the 32-bit range) is not a whole number.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ostra {

std::optional<int32_t> ParseWholeNumber(std::string_view text);

// As ParseWholeNumber, but throws std::invalid_argument with the message
// "'<text>' is not a valid integer value" when it is not a whole number.
int32_t StrToWholeNumber(std::string_view text);

// As ParseWholeNumber, with a default for a text that is not a whole number.
int32_t StrToWholeNumberDef(std::string_view text, int32_t fallback);

}  // namespace ostra
