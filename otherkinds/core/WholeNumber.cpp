#include "otherkinds/core/WholeNumber.h"

#include <stdexcept>
#include <string>

namespace ostra {

std::optional<int32_t> ParseWholeNumber(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);

    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;

    // Accumulate the magnitude in 64 bits; stop as soon as it cannot fit.
    constexpr int64_t limit = int64_t{INT32_MAX} + 1;
    int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return std::nullopt;
    }
    if (!negative && magnitude == limit) return std::nullopt;
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int32_t StrToWholeNumber(std::string_view text) {
    if (auto value = ParseWholeNumber(text)) return *value;
    throw std::invalid_argument("'" + std::string(text) + "' is not a valid integer value");
}

int32_t StrToWholeNumberDef(std::string_view text, int32_t fallback) {
    return ParseWholeNumber(text).value_or(fallback);
}

}  // namespace ostra
