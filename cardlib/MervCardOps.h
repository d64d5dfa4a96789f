// What the four methods of the automation class MervCard do, as plain C++
// over one apartment's module state, an encoder driver and the settings.
//
// Results are the methods' 16-bit codes; a failure that has no code throws
// CardLibError (DbError for the card database), which the automation shell
// turns into a failed call.
//
// Threads: each function runs on the thread of the apartment that owns
// `state`; it takes no lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cardlib/CardSettings.h"
#include "cardlib/EncoderDriver.h"
#include "cardlib/ModuleState.h"

namespace ostra::cardlib {

// Result codes.
inline constexpr int16_t kPortNotOpened = -99;
inline constexpr int16_t kBlockReadFailed = -128;
inline constexpr int16_t kBlockWriteFailed = -129;
inline constexpr int16_t kBadEndDate = -852;
inline constexpr int16_t kBadBuilding = -854;
inline constexpr int16_t kBadFloor = -855;
inline constexpr int16_t kBadRoom = -856;
inline constexpr int16_t kDatabaseUnavailable = -840;
inline constexpr int16_t kNotAGuestCard = -700;

// Code of the error thrown when port + 1 does not fit a byte.
inline constexpr int32_t kOverflowCode = static_cast<int32_t>(0x8002000A);  // DISP_E_OVERFLOW

// A new instance: PortState := -1.
void InitializeInstance(ModuleState& state);

// `port` is the port index (0 for COM1); the driver gets port + 1.
int16_t OpenPort(ModuleState& state, EncoderDriver& driver, int64_t port);
int16_t ClosePort(ModuleState& state, EncoderDriver& driver);

int16_t ReadCard(ModuleState& state, EncoderDriver& driver, std::string& cardNo,
                 std::string& roomNo, std::string& endDate);

struct WriteCardArgs {
    int32_t IcDevH = 0;
    std::string EndDate;
    int16_t BldgNo = 0;
    int16_t FloorNo = 0;
    std::string Rooms;
    std::string HoderName;
};
int16_t WriteCard(ModuleState& state, EncoderDriver& driver, CardSettingsSource& settings,
                  const WriteCardArgs& args, std::string& cardNo);

// Pieces of WriteCard, open for their own tests.
// The room text: the last 4 characters of "0000" + trimmed `rooms`.
std::string NormaliseRoom(const std::string& rooms);
// 0 when the first 12 characters of `endDate` are digits not before 20000101.
bool EndDateDigitsValid(const std::string& endDate);
// True when the 12-digit end text names a real minute in 2000..2099.
bool EndDateIsRealTime(const std::string& endText);
// 'yyyy/MM/dd hh:mm:00', quotes included.
std::string EndTimeSqlText(const std::string& endText);
// `text` with every single quote doubled.
std::string SqlQuoted(const std::string& text);

// The card number the counter row gives, as 6 hexadecimal characters, and n.
// `counterAfter` is the counter as read back after its increment and
// `startNo` the lower bound (nullopt: NULL); `haveRow` false: no counter row.
// Throws CardLibError for a field that is not a whole number.
std::string AllocatedHexNumber(bool haveRow, const std::optional<std::string>& counterAfter,
                               const std::optional<std::string>& startNo, int32_t& n);

}  // namespace ostra::cardlib
