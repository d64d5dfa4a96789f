// The lock driver's settings in "Option.ini" and the texts it exchanges with
// the card library and the front desk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "lockdriver/CardTexts.h"
#include "lockdriver/OptionUnit.h"
#include "platform/ini/IniFile.h"

namespace ostra {
namespace {

namespace fs = std::filesystem;

class OptionFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() /
              ("lockdriver-option-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        Path = (Dir / "Option.ini").string();
    }
    void TearDown() override { fs::remove_all(Dir); }

    void WriteFile(const std::string& Text) { std::ofstream(Path, std::ios::binary) << Text; }
    std::string ReadFile() {
        std::ifstream In(Path, std::ios::binary);
        std::stringstream S;
        S << In.rdbuf();
        return S.str();
    }

    fs::path Dir;
    std::string Path;
};

TEST_F(OptionFileTest, MissingFileGivesDefaultsAndSaveWritesAllThreeKeys) {
    TOption Opt(Path);
    Opt.Load();
    EXPECT_EQ(Opt.PortName(), "COM1");
    EXPECT_EQ(Opt.CurrentCardNo, 1);
    EXPECT_FALSE(Opt.AutoReadDoorCard);
    EXPECT_EQ(Opt.PortIndex(), 0);
    EXPECT_FALSE(fs::exists(Path));

    Opt.Save();
    IniFile Ini(Path);
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "PortName", "?"), "COM1");
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "CurrentCardNo", "?"), "1");
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "AutoReadDoorCard", "?"), "0");
}

TEST_F(OptionFileTest, ValueFormsAndSectionSpellings) {
    // Both spellings name the one section, also when written by hand in capitals.
    WriteFile("[DOORLOCKOPTION]\r\nPortName=COM12\r\nCurrentCardNo=0x10\r\nAutoReadDoorCard=2\r\n");
    TOption Opt(Path);
    Opt.Load();
    EXPECT_EQ(Opt.PortName(), "COM12");
    EXPECT_EQ(Opt.PortIndex(), 11);
    EXPECT_EQ(Opt.CurrentCardNo, 16);
    EXPECT_TRUE(Opt.AutoReadDoorCard);
    Opt.Save();
    IniFile Ini(Path);
    EXPECT_EQ(Ini.ReadString("DoorLockOption", "AutoReadDoorCard", "?"), "1");
    EXPECT_EQ(Ini.ReadString("doorlockoption", "CurrentCardNo", "?"), "16");

    WriteFile("[DoorlockOption]\r\nCurrentCardNo=abc\r\n");
    Opt.Load();
    EXPECT_EQ(Opt.CurrentCardNo, 1);
    EXPECT_EQ(Opt.PortName(), "COM1");

    WriteFile("[DoorlockOption]\r\nCurrentCardNo=-5\r\n");
    Opt.Load();
    EXPECT_EQ(Opt.CurrentCardNo, -5);
    Opt.Save();
    EXPECT_EQ(IniFile(Path).ReadString("DoorlockOption", "CurrentCardNo", "?"), "-5");
}

TEST_F(OptionFileTest, SaveKeepsTheServiceSettingsInTheSharedSection) {
    WriteFile(
        "[SysOption]\r\nPassword=secret\r\n[DoorlockOption]\r\nDelayMinutes2=30\r\n"
        "PmsServerPort=9999\r\nPortName=COM2\r\n");
    TOption Opt(Path);
    Opt.Load();
    Opt.SetPortName("COM5");
    Opt.Save();
    IniFile Ini(Path);
    EXPECT_EQ(Ini.ReadString("SysOption", "Password", "?"), "secret");
    EXPECT_EQ(Ini.ReadInteger("DoorlockOption", "DelayMinutes2", 0), 30);
    EXPECT_EQ(Ini.ReadInteger("DoorlockOption", "PmsServerPort", 0), 9999);
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "PortName", "?"), "COM5");
}

TEST_F(OptionFileTest, CounterIsStoredAsItsLow32Bits) {
    TOption Opt(Path);
    Opt.CurrentCardNo = 0x100000005LL;
    Opt.Save();
    Opt.Load();
    EXPECT_EQ(Opt.CurrentCardNo, 5);
}

TEST_F(OptionFileTest, UnwritableFileRaisesTheWriteError) {
    fs::create_directories(Path);  // a folder where the file should be
    TOption Opt(Path);
    try {
        Opt.Save();
        FAIL() << "Save succeeded";
    } catch (const EIniWriteError& Error) {
        EXPECT_EQ(std::string(Error.what()), "Unable to write to " + Path);
    }
}

TEST(PortIndex, OnlyTheThirteenExactNamesHaveAnIndex) {
    TOption Opt("unused");
    const std::pair<const char*, int32_t> Cases[] = {
        {"COM1", 0},   {"COM3", 2},  {"COM12", 11}, {"COM13", 12}, {"com1", -1},
        {"COM14", -1}, {"COM0", -1}, {"", -1},      {" COM1", -1}, {"COM01", -1}};
    for (const auto& [Name, Index] : Cases) {
        Opt.SetPortName(Name);
        EXPECT_EQ(Opt.PortIndex(), Index) << Name;
    }
}

TEST(CardTexts, EndTextIsDateOfOneAndTimeOfTheOther) {
    const TDateTime End = EncodeDate(2025, 1, 2) + EncodeTime(9, 5, 59);
    EXPECT_EQ(CardEndText(End, End), "202501020905");
    EXPECT_EQ(CardEndText(EncodeDate(2024, 3, 5), EncodeDate(1999, 1, 1) + EncodeTime(14, 7, 0)),
              "202403051407");
}

TEST(CardTexts, CodesConvertAsIntegersOrRaise) {
    EXPECT_EQ(CodeToInt("1"), 1);
    EXPECT_EQ(CodeToInt("0"), 0);
    EXPECT_EQ(CodeToInt("-3"), -3);
    EXPECT_EQ(CodeToInt("07"), 7);
    for (const char* Bad : {"", "A1", "1.5", "99999999999"}) {
        try {
            CodeToInt(Bad);
            ADD_FAILURE() << "accepted '" << Bad << "'";
        } catch (const EConvertError& Error) {
            EXPECT_EQ(std::string(Error.what()),
                      std::string("'") + Bad + "' is not a valid integer value");
        }
    }
}

TEST(CardTexts, CardNumberForms) {
    EXPECT_EQ(HexCardNoToInt("00001A"), 26);
    EXPECT_EQ(HexCardNoToInt("FFFFFF"), 16777215);
    EXPECT_EQ(HexCardNoToInt("00001a"), 26);
    EXPECT_EQ(DecimalCardNoToInt("00000026"), 26);
    EXPECT_EQ(DecimalCardNoToInt("16777215"), 16777215);
    for (const char* Bad : {"", "00001G", "-1", "+1A", " 1A", "1A ", "FFFFFFFFFFFFFFFFF"})
        EXPECT_THROW(HexCardNoToInt(Bad), EConvertError) << Bad;
    for (const char* Bad : {"", "0000001A", " 26", "26 ", "+-26", "99999999999999999999"})
        EXPECT_THROW(DecimalCardNoToInt(Bad), EConvertError) << Bad;
}

TEST(CardTexts, NotificationText) {
    const std::string Text = ZeltRequestText(26);
    EXPECT_EQ(Text, "<ZeltRequest><DoorCardNo>26</DoorCardNo></ZeltRequest>");
    EXPECT_EQ(Text.size(), 54u);
    EXPECT_EQ(ZeltRequestText(-7), "<ZeltRequest><DoorCardNo>-7</DoorCardNo></ZeltRequest>");
}

}  // namespace
}  // namespace ostra
