// Card blocks as the encoder hands them to readCard.
//
// Bytes 0-27 of the input are the block (missing bytes are 0xFF); byte 28,
// when present, is what the driver's readPass returns (else 1, read); bit 0
// of byte 29 leaves the port closed.
//
// What must hold: the result follows byte 0 and the driver; only a result of
// 0 after a real read sets the three texts, every other outcome leaves them
// as passed; the texts have their fixed forms and say what the bytes say;
// and for every block whose texts could have come from writeCard, building
// the issued block from those texts gives back the same bytes.
#include <string>

#include "cardlib/CardBlock.h"
#include "cardlib/EncoderDriver.h"
#include "cardlib/MervCardOps.h"
#include "cardlib/ModuleState.h"
#include "tests/fuzz/FuzzEntries.h"

namespace ostra::fuzz {

namespace {

using cardlib::CardBlock;

class BlockDriver : public cardlib::EncoderDriver {
  public:
    uint8_t CreateCard(uint8_t) override { return 1; }
    void DestroyCard() override {}
    uint8_t ReadPass(const cardlib::PasswordBytes& Password, CardBlock& Block) override {
        Expect(Password == cardlib::CardPasswordBytes(), "block read with another password");
        ++Reads;
        Block = Stored;
        return Result;
    }
    uint8_t WritePass(const cardlib::PasswordBytes&, const CardBlock&) override {
        Expect(false, "readCard wrote a card");
        return 0;
    }
    CardBlock Stored{};
    uint8_t Result = 1;
    int Reads = 0;
};

bool AllDigits(const std::string& s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}
bool UpperHex(const std::string& s) {
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return !s.empty();
}

}  // namespace

void CardBlockDecoder(const uint8_t* Data, size_t Size) {
    BlockDriver driver;
    driver.Stored.fill(0xFF);
    for (size_t i = 0; i < cardlib::kCardBlockSize && i < Size; ++i) driver.Stored[i] = Data[i];
    if (Size > 28) driver.Result = Data[28];
    const bool portOpen = !(Size > 29 && (Data[29] & 1));

    cardlib::ModuleState state;
    state.PortState = portOpen ? 1 : -1;
    std::string cardNo = "card in", roomNo = "room in", endDate = "end in";
    const int16_t r = cardlib::ReadCard(state, driver, cardNo, roomNo, endDate);
    const bool untouched = cardNo == "card in" && roomNo == "room in" && endDate == "end in";

    if (!portOpen) {
        Expect(r == 0 && untouched && driver.Reads == 0, "closed port: not 0 with texts as passed");
        return;
    }
    Expect(driver.Reads == 1, "readCard did not read the block once");
    if (driver.Result != 1) {
        Expect(r == -128 && untouched, "failed read: not -128 with texts as passed");
        return;
    }
    const CardBlock& b = driver.Stored;
    const int16_t kind = b[0] == 0x1B || b[0] == 0x0B ? 0
                         : b[0] == 0x01               ? -500
                         : b[0] == 0xAA               ? -600
                                                      : -700;
    Expect(r == kind, "result does not follow byte 0");
    if (r != 0) {
        Expect(untouched, "a refused card changed the texts");
        return;
    }

    // Card number: 8 decimal characters, bytes 6-8.
    const long number = b[6] + 256L * b[7] + 65536L * b[8];
    Expect(cardNo.size() == 8 && AllDigits(cardNo) && std::stol(cardNo) == number,
           "card number text " + cardNo);

    // Room: building "#" floor "#" four hexadecimal characters.
    const size_t h1 = roomNo.find('#'), h2 = roomNo.find('#', h1 + 1);
    Expect(h1 != std::string::npos && h2 != std::string::npos, "room text " + roomNo);
    const std::string building = roomNo.substr(0, h1), floor = roomNo.substr(h1 + 1, h2 - h1 - 1),
                      room = roomNo.substr(h2 + 1);
    Expect(building.size() >= 2 && AllDigits(building) && std::stol(building) == b[18],
           "building in " + roomNo);
    Expect(floor.size() >= 2 && AllDigits(floor) && std::stol(floor) == b[17],
           "floor in " + roomNo);
    Expect(room.size() == 4 && UpperHex(room) && room == cardlib::CardNumberHex(b[15] * 256 + b[16])
                                                             .substr(2),
           "room in " + roomNo);

    // End date: "20", YY, MM, DD, then hour and minute bytes in hexadecimal.
    const cardlib::UnpackedDate d = cardlib::UnpackDate(uint16_t(b[9] * 256 + b[10]));
    Expect(endDate.size() == (d.yy >= 100 ? 13u : 12u) && endDate.compare(0, 2, "20") == 0,
           "end date text " + endDate);
    Expect(UpperHex(endDate.substr(endDate.size() - 4)), "end time in " + endDate);

    // Texts that writeCard could have been given build the same block again.
    if (d.yy < 100 && building.size() == 2 && floor.size() == 2) {
        const std::string site(reinterpret_cast<const char*>(&b[1]), 5);
        const std::string hex = cardlib::CardNumberHex(int32_t(number));
        const CardBlock again = cardlib::BuildIssuedBlock(
            {site, hex, endDate, room, int(b[17]), int(b[18])});
        for (int i = 1; i <= 18; ++i)
            if (i != 13 && i != 14)
                Expect(again[i] == b[i], "byte " + std::to_string(i) + " does not survive " +
                                             cardNo + " " + roomNo + " " + endDate);
    }
}

}  // namespace ostra::fuzz
