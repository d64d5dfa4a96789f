// The card block, its date word, the card password and the card-number forms,
// against the worked examples of the card format.
#include <gtest/gtest.h>

#include "cardlib/CardBlock.h"
#include "cardlib/MervCardOps.h"

namespace ostra::cardlib {
namespace {

CardBlock Issued(std::string_view hex, std::string_view end, std::string_view room, int floor,
                 int building, std::string_view site = "ABCDE") {
    return BuildIssuedBlock({site, hex, end, room, floor, building});
}

TEST(CardBlock, PasswordBytesComeInTextOrder) {
    EXPECT_EQ(CardPasswordBytes(), (PasswordBytes{0x5C, 0x19, 0xE7, 0xD3}));
}

TEST(CardBlock, PackedDateWordsAndTheirDecoding) {
    // 31 Dec 2099 and 31 Dec 2024 and the start date 2000-01-01.
    EXPECT_EQ(PackedDate(99, 12, 31), 0xC7CF);
    EXPECT_EQ(PackedDate(24, 12, 31), 12751);
    EXPECT_EQ(PackedDate(0, 1, 1), 0x0011);
    EXPECT_EQ(PackedDate(24, 3, 5), 0x3035);
    for (int yy : {0, 24, 99})
        for (int mm : {1, 7, 12})
            for (int dd : {1, 15, 16, 31}) {
                UnpackedDate d = UnpackDate(PackedDate(yy, mm, dd));
                EXPECT_EQ(d.yy, yy);
                EXPECT_EQ(d.mm, mm);
                EXPECT_EQ(d.dd, dd);
            }
}

TEST(CardBlock, CardNumberForms) {
    EXPECT_EQ(CardNumberHex(26), "00001A");
    EXPECT_EQ(CardNumberDecimal(26), "00000026");
    EXPECT_EQ(CardNumberHex(101), "000065");
    EXPECT_EQ(CardNumberHex(kMaxCardNumber), "FFFFFF");
    EXPECT_EQ(CardNumberDecimal(kMaxCardNumber), "16777215");
}

TEST(CardBlock, IssuedBlockByteByByte) {
    CardBlock b = Issued("00001A", "202412311205", "0101", 1, 1);
    CardBlock expected = {0x1B, 'A',  'B',  'C',  'D',  'E',  0x1A, 0x00, 0x00, 0x31,
                          0xCF, 0x12, 0x05, 0x00, 0x11, 0x01, 0x01, 0x01, 0x01, 0xFF,
                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(b, expected);
}

TEST(CardBlock, IssuedBlockRoomFloorBuildingAndEndOfCentury) {
    CardBlock b = Issued("123456", "209912312359", "1A2F", 12, 3);
    EXPECT_EQ(b[6], 0x56);
    EXPECT_EQ(b[7], 0x34);
    EXPECT_EQ(b[8], 0x12);
    EXPECT_EQ(b[9], 0xC7);
    EXPECT_EQ(b[10], 0xCF);
    EXPECT_EQ(b[11], 0x23);
    EXPECT_EQ(b[12], 0x59);
    EXPECT_EQ(b[15], 0x1A);
    EXPECT_EQ(b[16], 0x2F);
    EXPECT_EQ(b[17], 12);
    EXPECT_EQ(b[18], 3);
}

TEST(CardBlock, CancelledBlockIsAllFF) {
    CardBlock b = CancelledBlock();
    for (uint8_t v : b) EXPECT_EQ(v, 0xFF);
    EXPECT_EQ(CardKindResult(b[0]), -700);
}

TEST(CardBlock, DecodingAGuestBlock) {
    CardBlock b = CancelledBlock();
    b[0] = 0x1B;
    b[6] = 0x1A;
    b[7] = 0x00;
    b[8] = 0x00;
    b[9] = 0x30;
    b[10] = 0x35;
    b[11] = 0x14;
    b[12] = 0x07;
    b[15] = 0x1A;
    b[16] = 0x2F;
    b[17] = 12;
    b[18] = 3;
    DecodedCard card = DecodeGuestBlock(b);
    EXPECT_EQ(card.cardNo, "00000026");
    EXPECT_EQ(card.roomNo, "03#12#1A2F");
    EXPECT_EQ(card.endDate, "202403051407");
}

TEST(CardBlock, DecodingValuesThisSystemNeverWrites) {
    CardBlock b = CancelledBlock();
    b[0] = 0x0B;
    b[6] = b[7] = b[8] = 0xFF;
    b[17] = 100;
    b[18] = 100;
    b[9] = 0xC8;  // YY 100
    b[10] = 0x11;
    b[11] = 0x3C;  // not BCD
    b[12] = 0x3C;
    DecodedCard card = DecodeGuestBlock(b);
    EXPECT_EQ(card.cardNo, "16777215");
    EXPECT_EQ(card.roomNo, "100#100#FFFF");
    EXPECT_EQ(card.endDate, "2010001013C3C");
    EXPECT_EQ(card.endDate.size(), 13u);
}

TEST(CardBlock, WhatAWrittenBlockReadsBack) {
    for (const char* end : {"202412311205", "200001010000", "209912312359", "202403051407"}) {
        DecodedCard card = DecodeGuestBlock(Issued("00001A", end, "0A1F", 7, 99));
        EXPECT_EQ(card.endDate, end);
        EXPECT_EQ(card.cardNo, "00000026");
        EXPECT_EQ(card.roomNo, "99#07#0A1F");
    }
}

TEST(CardBlock, CardKindResults) {
    EXPECT_EQ(CardKindResult(0x1B), 0);
    EXPECT_EQ(CardKindResult(0x0B), 0);
    EXPECT_EQ(CardKindResult(0x01), -500);
    EXPECT_EQ(CardKindResult(0xAA), -600);
    EXPECT_EQ(CardKindResult(0xFF), -700);
    EXPECT_EQ(CardKindResult(0x00), -700);
}

TEST(WriteCardPieces, RoomTextNormalisation) {
    EXPECT_EQ(NormaliseRoom("101"), "0101");
    EXPECT_EQ(NormaliseRoom(""), "0000");
    EXPECT_EQ(NormaliseRoom("0"), "0000");
    EXPECT_EQ(NormaliseRoom("00000"), "0000");
    EXPECT_EQ(NormaliseRoom("12345"), "2345");
    EXPECT_EQ(NormaliseRoom(" 0A1F "), "0A1F");
    // Only spaces are blanks: a tab stays and makes the room invalid.
    EXPECT_EQ(NormaliseRoom("0A1F\t"), "A1F\t");
    EXPECT_EQ(NormaliseRoom("\t101"), "\t101");
    EXPECT_EQ(NormaliseRoom("0a1f"), "0a1f");
}

TEST(WriteCardPieces, EndDateChecks) {
    EXPECT_TRUE(EndDateDigitsValid("200001010000"));
    EXPECT_TRUE(EndDateDigitsValid("2024123112059"));  // the rest is ignored
    EXPECT_FALSE(EndDateDigitsValid("20241231120"));
    EXPECT_FALSE(EndDateDigitsValid("199912312359"));
    EXPECT_FALSE(EndDateDigitsValid("2024-2311205"));
    EXPECT_FALSE(EndDateDigitsValid(""));

    EXPECT_TRUE(EndDateIsRealTime("202402291200"));
    EXPECT_FALSE(EndDateIsRealTime("202302291200"));
    EXPECT_FALSE(EndDateIsRealTime("202413011200"));
    EXPECT_FALSE(EndDateIsRealTime("202412001200"));
    EXPECT_FALSE(EndDateIsRealTime("202412312400"));
    EXPECT_FALSE(EndDateIsRealTime("202412312360"));
    EXPECT_FALSE(EndDateIsRealTime("210001010000"));
}

TEST(WriteCardPieces, EndTimeTextAndQuoting) {
    EXPECT_EQ(EndTimeSqlText("202412311205"), "'2024/12/31 12:05:00'");
    EXPECT_EQ(SqlQuoted("O'Brien"), "O''Brien");
    EXPECT_EQ(SqlQuoted("''"), "''''");
    EXPECT_EQ(SqlQuoted("USER1"), "USER1");
}

TEST(WriteCardPieces, CardNumberFromTheCounter) {
    int32_t n = 0;
    // Counter 25 raised to 26, StartNo 0.
    EXPECT_EQ(AllocatedHexNumber(true, "26", "0", n), "00001A");
    EXPECT_EQ(n, 26);
    // Counter 5 raised to 6, StartNo 100.
    EXPECT_EQ(AllocatedHexNumber(true, "6", "100", n), "000065");
    EXPECT_EQ(n, 101);
    // No counter row.
    EXPECT_EQ(AllocatedHexNumber(false, std::nullopt, std::nullopt, n), "000001");
    EXPECT_EQ(n, 1);
    // NULL fields count as 0.
    EXPECT_EQ(AllocatedHexNumber(true, std::nullopt, std::nullopt, n), "000001");
    EXPECT_EQ(n, 1);
    // Counter 16777215 raised: the number would not fit 24 bits.
    EXPECT_EQ(AllocatedHexNumber(true, "16777216", "0", n), "000001");
    EXPECT_EQ(n, 1);
    EXPECT_EQ(AllocatedHexNumber(true, "16777215", "0", n), "FFFFFF");
    // A StartNo at the top of the range never wraps to a negative number.
    EXPECT_EQ(AllocatedHexNumber(true, "1", "2147483647", n), "000001");
    EXPECT_EQ(n, 1);
    EXPECT_THROW(AllocatedHexNumber(true, "-5", "0", n), CardLibError);
    EXPECT_THROW(AllocatedHexNumber(true, "12abc", "0", n), CardLibError);
}

}  // namespace
}  // namespace ostra::cardlib
