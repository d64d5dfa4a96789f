// The 28-byte data block on a guest card, its date word, the card password
// and the three forms of a card number.
//
// Pure functions on values; safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostra::cardlib {

inline constexpr int kCardBlockSize = 28;
using CardBlock = std::array<uint8_t, kCardBlockSize>;
using PasswordBytes = std::array<uint8_t, 4>;

// Byte 0 of a block.
inline constexpr uint8_t kGuestCardKind = 0x1B;
inline constexpr uint8_t kGuestCardKindAlt = 0x0B;

// The card access password, as 8 hexadecimal characters.
inline constexpr std::string_view kCardPassword = "5C19E7D3";

// The largest number a card can carry (24 bits).
inline constexpr int32_t kMaxCardNumber = 0xFFFFFF;

// Password byte k is characters 2k-1 and 2k of `password` read as hexadecimal.
PasswordBytes CardPasswordBytes(std::string_view password = kCardPassword);

// The date word: YY * 512 + (DD div 16) * 256 + MM * 16 + (DD mod 16).
uint16_t PackedDate(int yy, int mm, int dd);
struct UnpackedDate {
    int yy;  // 0..127
    int mm;  // 0..15
    int dd;  // 0..31
};
UnpackedDate UnpackDate(uint16_t word);

// Card number forms: 6 upper-case hexadecimal / 8 decimal characters.
std::string CardNumberHex(int32_t n);
std::string CardNumberDecimal(int32_t n);

// Reads two characters as one hexadecimal byte; the callers have checked them.
uint8_t HexPair(std::string_view twoChars);

// The issued block. `endText` is the checked 12-digit end text YYYYMMDDhhmm,
// `hexCardNo` the 6-character card number, `room` the 4-character room text.
struct IssueFields {
    std::string_view siteCode;  // at least 5 single-byte characters
    std::string_view hexCardNo;
    std::string_view endText;
    std::string_view room;
    int floor;
    int building;
};
CardBlock BuildIssuedBlock(const IssueFields& fields);

// The block that cancels a card: all 0xFF.
CardBlock CancelledBlock();

// What a guest card's block says, in the texts the automation class returns.
struct DecodedCard {
    std::string cardNo;   // 8 decimal characters
    std::string roomNo;   // BB#FF#RRRR
    std::string endDate;  // 20YYMMDDhhmm
};
DecodedCard DecodeGuestBlock(const CardBlock& block);

// 0 for a guest card (0x1B or 0x0B), else -500 (0x01), -600 (0xAA) or -700.
int16_t CardKindResult(uint8_t kind);

}  // namespace ostra::cardlib
