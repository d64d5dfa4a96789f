// Whole numbers of member requests and police guests, and the Guest element.
#include <gtest/gtest.h>

#include <stdexcept>

#include "otherkinds/core/GuestXml.h"
#include "otherkinds/core/WholeNumber.h"

namespace ostra {
namespace {

TEST(WholeNumber, ReadsSignAndDecimalFigures) {
    EXPECT_EQ(ParseWholeNumber("1"), 1);
    EXPECT_EQ(ParseWholeNumber("01"), 1);
    EXPECT_EQ(ParseWholeNumber("-1"), -1);
    EXPECT_EQ(ParseWholeNumber("+11"), 11);
    EXPECT_EQ(ParseWholeNumber(" 7\t\r\n"), 7);
    EXPECT_EQ(ParseWholeNumber("2147483647"), 2147483647);
    EXPECT_EQ(ParseWholeNumber("-2147483648"), INT32_MIN);
}

TEST(WholeNumber, RejectsEverythingElse) {
    for (const char* text : {"", " ", "+", "-", "yes", "abc", "1.0", "1e3", "0x10", "$10", "1 2",
                             "2147483648", "-2147483649", "99999999999999999999", "１"}) {
        EXPECT_FALSE(ParseWholeNumber(text).has_value()) << text;
    }
    EXPECT_EQ(StrToWholeNumberDef("abc", -1), -1);
    EXPECT_EQ(StrToWholeNumberDef("11", -1), 11);
    try {
        StrToWholeNumber("F");
        FAIL() << "no conversion error";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "'F' is not a valid integer value");
    }
}

TEST(GuestXml, SalutationIsGenderPlusOneAndTheRestGoesInUnchanged) {
    TGuest guest{"8101",
                 "2008-05-01 14:00:00",
                 "99",
                 "110101190001011234",
                 "张三&<李四>",
                 "中国",
                 "01",
                 "77",
                 "CHN",
                 "11",
                 "北京市 A&B <路>",
                 "1900-01-01"};
    EXPECT_EQ(GuestToXml(guest),
              "<Guest><RoomNo>8101</RoomNo><EnterTime>2008-05-01 14:00:00</EnterTime>"
              "<IdCardTypeID>11</IdCardTypeID><IdCardNo>110101190001011234</IdCardNo>"
              "<Name>张三&<李四></Name><Nationality>中国</Nationality><GenderID>01</GenderID>"
              "<SalutationID>2</SalutationID><CountryCode>CHN</CountryCode>"
              "<ProvinceCode>11</ProvinceCode><Address>北京市 A&B <路></Address>"
              "<Birthday>1900-01-01</Birthday></Guest>");

    guest.GenderID = "2147483647";  // the successor does not wrap round
    EXPECT_NE(GuestToXml(guest).find("<SalutationID>2147483648</SalutationID>"), std::string::npos);
    guest.GenderID = "-1";
    EXPECT_NE(GuestToXml(guest).find("<SalutationID>0</SalutationID>"), std::string::npos);
    for (const char* bad : {"", "F", "1.5"}) {
        guest.GenderID = bad;
        EXPECT_THROW(GuestToXml(guest), std::invalid_argument) << bad;
        EXPECT_THROW(PoliceResponseText(&guest), std::invalid_argument) << bad;
    }
    EXPECT_EQ(PoliceResponseText(nullptr), "<PoliceResponse></PoliceResponse>");
}

}  // namespace
}  // namespace ostra
