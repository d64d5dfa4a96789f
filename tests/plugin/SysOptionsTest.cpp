// The plug-in's settings in "Option.ini", section "SysOptions".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/ini/IniFile.h"
#include "plugin/SysOptionsUnit.h"
#include "tests/plugin/PluginTestSupport.h"

namespace ostra::kestrane::testing {
namespace {

TEST(KestraneSysOptions, MissingFileOrOnlyTheServiceSectionGivesDefaults) {
    TTempDir dir;
    TSysOptions missing(dir.File("Option.ini"));
    missing.Load();
    EXPECT_EQ(missing.PortNo, 8886);
    EXPECT_EQ(missing.Password, "movrel");
    EXPECT_EQ(missing.DelayMinutes, 0);

    WriteFile(dir.File("Option.ini"),
              "[SysOption]\r\nPassword=abc\r\nDoorlockPortNo=9000\r\n"
              "[DoorlockOption]\r\nDelayMinutes=30\r\n");
    TSysOptions service(dir.File("Option.ini"));
    service.Load();
    EXPECT_EQ(service.PortNo, 8886);
    EXPECT_EQ(service.Password, "movrel");
    EXPECT_EQ(service.DelayMinutes, 0);
}

TEST(KestraneSysOptions, ReadsItsThreeKeysWithoutRegardToCase) {
    TTempDir dir;
    WriteFile(dir.File("Option.ini"),
              "[SYSOPTIONS]\r\npassword=secret\r\nPortNo=0x2328\r\nDelayMinutes=-15\r\n");
    TSysOptions options(dir.File("Option.ini"));
    options.Load();
    EXPECT_EQ(options.Password, "secret");
    EXPECT_EQ(options.PortNo, 9000);
    EXPECT_EQ(options.DelayMinutes, -15);
}

TEST(KestraneSysOptions, SaveWritesAllThreeKeysAndKeepsTheServiceSection) {
    TTempDir dir;
    WriteFile(dir.File("Option.ini"), "[SysOption]\r\nPassword=service\r\n");
    TSysOptions options(dir.File("Option.ini"));
    options.Load();
    options.Password = "new";
    options.Save();
    const IniFile ini(dir.File("Option.ini"));
    EXPECT_EQ(ini.ReadString("SysOptions", "Password", ""), "new");
    EXPECT_EQ(ini.ReadString("SysOptions", "PortNo", ""), "8886");
    EXPECT_EQ(ini.ReadString("SysOptions", "DelayMinutes", ""), "0");
    EXPECT_EQ(ini.ReadString("SysOption", "Password", ""), "service");
}

TEST(KestraneSysOptions, AFailedSaveNamesTheFile) {
    TTempDir dir;
    const std::string path = dir.File("missing-dir/Option.ini");
    TSysOptions options(path);
    try {
        options.Save();
        FAIL() << "saved into a directory that does not exist";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
}

}  // namespace
}  // namespace ostra::kestrane::testing
