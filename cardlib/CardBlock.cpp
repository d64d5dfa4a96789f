#include "cardlib/CardBlock.h"

#include <cstdio>
#include <stdexcept>

namespace ostra::cardlib {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    throw std::invalid_argument(std::string("'") + c + "' is not a valid hexadecimal digit");
}

int DecimalPair(std::string_view text, size_t at) {
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

std::string Format(const char* pattern, unsigned value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

}  // namespace

uint8_t HexPair(std::string_view twoChars) {
    if (twoChars.size() < 2) throw std::invalid_argument("a hexadecimal byte needs two characters");
    return static_cast<uint8_t>(HexDigit(twoChars[0]) * 16 + HexDigit(twoChars[1]));
}

PasswordBytes CardPasswordBytes(std::string_view password) {
    if (password.size() < 8) throw std::invalid_argument("the card password needs 8 characters");
    PasswordBytes bytes{};
    for (size_t k = 0; k < 4; ++k) bytes[k] = HexPair(password.substr(2 * k, 2));
    return bytes;
}

uint16_t PackedDate(int yy, int mm, int dd) {
    // The word is 16 bits wide; out-of-range parts wrap as the card would hold them.
    return static_cast<uint16_t>(yy * 512 + (dd / 16) * 256 + mm * 16 + (dd % 16));
}

UnpackedDate UnpackDate(uint16_t w) {
    return {w / 512, (w % 256) / 16, ((w / 256) % 2) * 16 + (w % 16)};
}

std::string CardNumberHex(int32_t n) {
    return Format("%06X", static_cast<unsigned>(n));
}

std::string CardNumberDecimal(int32_t n) {
    return Format("%08u", static_cast<unsigned>(n));
}

CardBlock BuildIssuedBlock(const IssueFields& f) {
    CardBlock b;
    b.fill(0xFF);
    b[0] = kGuestCardKind;
    for (size_t i = 0; i < 5; ++i) b[1 + i] = static_cast<uint8_t>(f.siteCode.at(i));
    b[6] = HexPair(f.hexCardNo.substr(4, 2));
    b[7] = HexPair(f.hexCardNo.substr(2, 2));
    b[8] = HexPair(f.hexCardNo.substr(0, 2));
    uint16_t end =
        PackedDate(DecimalPair(f.endText, 2), DecimalPair(f.endText, 4), DecimalPair(f.endText, 6));
    b[9] = static_cast<uint8_t>(end >> 8);
    b[10] = static_cast<uint8_t>(end & 0xFF);
    b[11] = HexPair(f.endText.substr(8, 2));
    b[12] = HexPair(f.endText.substr(10, 2));
    uint16_t start = PackedDate(0, 1, 1);
    b[13] = static_cast<uint8_t>(start >> 8);
    b[14] = static_cast<uint8_t>(start & 0xFF);
    b[15] = HexPair(f.room.substr(0, 2));
    b[16] = HexPair(f.room.substr(2, 2));
    b[17] = static_cast<uint8_t>(f.floor);
    b[18] = static_cast<uint8_t>(f.building);
    return b;
}

CardBlock CancelledBlock() {
    CardBlock b;
    b.fill(0xFF);
    return b;
}

DecodedCard DecodeGuestBlock(const CardBlock& b) {
    DecodedCard card;
    card.cardNo = CardNumberDecimal(b[6] + 256 * b[7] + 65536 * b[8]);
    card.roomNo = Format("%02u", b[18]) + "#" + Format("%02u", b[17]) + "#" +
                  Format("%02X", b[15]) + Format("%02X", b[16]);
    UnpackedDate end = UnpackDate(static_cast<uint16_t>(b[9] * 256 + b[10]));
    card.endDate = "20" + Format("%02u", end.yy) + Format("%02u", end.mm) + Format("%02u", end.dd) +
                   Format("%02X", b[11]) + Format("%02X", b[12]);
    return card;
}

int16_t CardKindResult(uint8_t kind) {
    switch (kind) {
        case kGuestCardKind:
        case kGuestCardKindAlt:
            return 0;
        case 0x01:
            return -500;
        case 0xAA:
            return -600;
        default:
            return -700;
    }
}

}  // namespace ostra::cardlib
