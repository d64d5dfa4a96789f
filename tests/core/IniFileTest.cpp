#include <gtest/gtest.h>

#include "platform/ini/IniFile.h"
#include "service/core/SysOptionUnit.h"
#include "tests/core/CoreTestSupport.h"

namespace ostra {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

TEST(IniFile, ReadsIntegerForms) {
    EXPECT_EQ(IniFile::ParseInteger("8900"), 8900);
    EXPECT_EQ(IniFile::ParseInteger("0x22C4"), 8900);
    EXPECT_EQ(IniFile::ParseInteger("0X22c4"), 8900);
    EXPECT_EQ(IniFile::ParseInteger("$22C4"), 8900);
    EXPECT_EQ(IniFile::ParseInteger("-15"), -15);
    EXPECT_EQ(IniFile::ParseInteger("+7"), 7);
    EXPECT_EQ(IniFile::ParseInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(IniFile::ParseInteger("$FFFFFFFF"), -1);
    for (const char* bad :
         {"", "abc", "0x", "$", "12a", "1.5", "true", "2147483648", "0x1FFFFFFFF", "- 1"})
        EXPECT_FALSE(IniFile::ParseInteger(bad).has_value()) << bad;
}

TEST(IniFile, ReadsValuesWithoutRegardToCase) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path,
              "; settings\r\n[DOORLOCKOPTION]\r\n  delayminutes = 30 \r\nPmsServer= \"10.0.0.5\" "
              "\r\n[SysOption]\nDoorlockPortNo=abc\nWriteLog=2\nHandPortNo=$22C4\nName=房间\n");
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("DoorlockOption", "DelayMinutes", 0), 30);
    EXPECT_EQ(ini.ReadString("doorlockoption", "PMSSERVER", "x"), "10.0.0.5");
    EXPECT_EQ(ini.ReadInteger("SysOption", "DoorlockPortNo", 8886), 8886);
    EXPECT_EQ(ini.ReadInteger("SysOption", "HandPortNo", 0), 8900);
    EXPECT_TRUE(ini.ReadBool("SysOption", "WriteLog", false));
    EXPECT_EQ(ini.ReadString("SysOption", "Name", ""), "房间");
    EXPECT_EQ(ini.ReadString("SysOption", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("NoSection", "Name", "dflt"), "dflt");
    EXPECT_EQ(IniFile(dir / "none.ini").ReadInteger("a", "b", 5), 5);
}

TEST(IniFile, CutsLongTextAt2047Characters) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path, "[S]\r\nK=" + std::string(3000, 'a') + "\r\n");
    EXPECT_EQ(IniFile(path).ReadString("S", "K", "").size(), 2047u);
}

TEST(IniFile, WritingOneKeyKeepsEverythingElse) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path,
              "; hand-written\n[SysOption]\nPassword=abc\n; keep me\nDoorlockPortNo=8886\n\n"
              "[DoorlockOption]\nComPort=3\n");
    IniFile ini(path);
    ini.WriteString("SYSOPTION", "password", "new");
    ini.WriteInteger("SysOption", "ScanPortNo", 9000);
    ini.WriteBool("DoorlockOption", "AutoReadDoorCard", true);
    ini.WriteString("Other", "Key", "v");
    EXPECT_EQ(ReadFile(path),
              "; hand-written\r\n[SysOption]\r\nPassword=new\r\n; keep me\r\n"
              "DoorlockPortNo=8886\r\nScanPortNo=9000\r\n\r\n[DoorlockOption]\r\nComPort=3\r\n"
              "AutoReadDoorCard=1\r\n[Other]\r\nKey=v\r\n");
    EXPECT_EQ(ini.ReadInteger("SysOption", "ScanPortNo", 0), 9000);
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(IniFile, AByteOrderMarkIsKept) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path, "\xEF\xBB\xBF[SysOption]\r\nPassword=abc\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("SysOption", "Password", ""), "abc");
    ini.WriteString("SysOption", "Password", "x");
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF[SysOption]\r\nPassword=x\r\n");
}

TEST(IniFile, FailedWriteNamesTheFile) {
    TTempDir dir;
    IniFile ini(dir / "missing-folder/Option.ini");
    try {
        ini.WriteString("S", "K", "v");
        FAIL();
    } catch (const EIniWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write to " + (dir / "missing-folder/Option.ini"));
    }
}

TEST(SysOption, DefaultsWithoutAFile) {
    TTempDir dir;
    TSysOption o(dir / "Option.ini");
    o.Load();
    EXPECT_EQ(o.DoorlockPortNo, 8886);
    EXPECT_EQ(o.HandPortNo, 8886);
    EXPECT_EQ(o.PolicePortNo, 8885);
    EXPECT_EQ(o.MemberPortNo, 8883);
    EXPECT_EQ(o.ScanPortNo, 8881);
    EXPECT_EQ(o.Password, "movrel");
    EXPECT_TRUE(o.WriteLog);
    EXPECT_FALSE(o.UseNativeDoorlockDb);
    EXPECT_FALSE(o.SaveDoorlockRecord);
    EXPECT_FALSE(o.AutoReadDoorCard);
    EXPECT_EQ(o.DelayMinutes, 0);
    EXPECT_EQ(o.DelayMinutes2, 0);
    EXPECT_EQ(o.PmsServer, "127.0.0.1");
    EXPECT_EQ(o.PmsServerPort, 9873);
    EXPECT_FALSE(std::filesystem::exists(dir / "Option.ini"));
}

TEST(SysOption, LoadsStoredValues) {
    TTempDir dir;
    WriteFile(dir / "Option.ini",
              "[SysOption]\r\nDoorlockPortNo=0x22C4\r\nWriteLog=true\r\nPassword=secret\r\n"
              "[DOORLOCKOPTION]\r\nDelayMinutes=-15\r\nUseNativeDoorlockDb=1\r\n"
              "PmsServer=pms.local\r\nPmsServerPort=$10\r\n");
    TSysOption o(dir / "Option.ini");
    o.Load();
    EXPECT_EQ(o.DoorlockPortNo, 8900);
    EXPECT_TRUE(o.WriteLog);  // "true" is no number: the default, on
    EXPECT_EQ(o.Password, "secret");
    EXPECT_EQ(o.DelayMinutes, -15);
    EXPECT_TRUE(o.UseNativeDoorlockDb);
    EXPECT_EQ(o.PmsServer, "pms.local");
    EXPECT_EQ(o.PmsServerPort, 16);

    WriteFile(dir / "Option.ini", "[SysOption]\r\nWriteLog=0\r\n");
    o.Load();
    EXPECT_FALSE(o.WriteLog);
}

TEST(SysOption, SaveWritesAllFourteenKeysInOrder) {
    TTempDir dir;
    WriteFile(dir / "Option.ini",
              "[SysOption]\r\nPolicePortNo=7001\r\n[DoorlockOption]\r\nPort=4\r\n");
    TSysOption o(dir / "Option.ini");
    o.Load();
    o.Password = "neu";
    o.Save();
    EXPECT_EQ(ReadFile(dir / "Option.ini"),
              "[SysOption]\r\nPolicePortNo=7001\r\nPassword=neu\r\nDoorlockPortNo=8886\r\n"
              "HandPortNo=8886\r\nMemberPortNo=8883\r\nScanPortNo=8881\r\nWriteLog=1\r\n"
              "[DoorlockOption]\r\nPort=4\r\nDelayMinutes=0\r\nDelayMinutes2=0\r\n"
              "UseNativeDoorlockDb=0\r\nSaveDoorlockRecord=0\r\nAutoReadDoorCard=0\r\n"
              "PmsServer=127.0.0.1\r\nPmsServerPort=9873\r\n");
    TSysOption again(dir / "Option.ini");
    again.Load();
    EXPECT_EQ(again.Password, "neu");
    EXPECT_EQ(again.PolicePortNo, 7001);
}

TEST(SysOption, SaveFailureRaises) {
    TTempDir dir;
    TSysOption o(dir / "gone/Option.ini");
    EXPECT_THROW(o.Save(), EIniWriteError);
}

}  // namespace
}  // namespace ostra
