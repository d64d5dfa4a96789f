#include "lockdriver/CardTexts.h"

#include <charconv>
#include <limits>

#include "platform/ini/IniFile.h"

namespace ostra {

namespace {

[[noreturn]] void NotAnInteger(std::string_view Text) {
    throw EConvertError("'" + std::string(Text) + "' is not a valid integer value");
}

}  // namespace

std::string CardEndText(TDateTime EndDate, TDateTime EndTime) {
    return FormatDateTime("yyyymmdd", EndDate) + FormatDateTime("hhnn", EndTime);
}

int32_t CodeToInt(std::string_view Text) {
    const std::optional<int32_t> Value = IniFile::ParseInteger(std::string(Text));
    if (!Value) NotAnInteger(Text);
    return *Value;
}

int64_t HexCardNoToInt(std::string_view Text) {
    uint64_t Value = 0;
    const char* First = Text.data();
    const char* Last = Text.data() + Text.size();
    const auto [End, Error] = std::from_chars(First, Last, Value, 16);
    if (Text.empty() || Error != std::errc() || End != Last ||
        Value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        NotAnInteger(Text);
    return static_cast<int64_t>(Value);
}

int64_t DecimalCardNoToInt(std::string_view Text) {
    std::string_view Digits = Text;
    if (!Digits.empty() && Digits.front() == '+') {
        Digits.remove_prefix(1);
        if (!Digits.empty() && Digits.front() == '-') NotAnInteger(Text);
    }
    int64_t Value = 0;
    const char* Last = Digits.data() + Digits.size();
    const auto [End, Error] = std::from_chars(Digits.data(), Last, Value, 10);
    if (Digits.empty() || Error != std::errc() || End != Last) NotAnInteger(Text);
    return Value;
}

std::string ZeltRequestText(int64_t CardNo) {
    return "<ZeltRequest><DoorCardNo>" + std::to_string(CardNo) + "</DoorCardNo></ZeltRequest>";
}

}  // namespace ostra
