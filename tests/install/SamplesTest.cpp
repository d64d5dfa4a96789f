// The sample settings in docs/samples load as no file does, and hold every
// key the program, the lock driver, the plug-in and the card library read.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cardlib/CardSettings.h"
#include "lockdriver/OptionUnit.h"
#include "platform/ini/IniFile.h"
#include "plugin/SysOptionsUnit.h"
#include "service/core/SysOptionUnit.h"
#include "tests/support/Folders.h"

namespace ostra {
namespace {

namespace fs = std::filesystem;

const fs::path Samples = fs::path(testsupport::SourceDir()) / "docs" / "samples";

std::string ReadText(const fs::path& Path) {
    std::string Text = testsupport::ReadFile(Path);
    std::erase(Text, '\r');  // the INI layer writes CR LF
    return Text;
}

// "" when both texts are equal, else the first line that differs.
std::string FirstChange(const std::string& Before, const std::string& After) {
    std::istringstream A(Before), B(After);
    std::string LineA, LineB;
    for (int Number = 1;; ++Number) {
        const bool MoreA = static_cast<bool>(std::getline(A, LineA));
        const bool MoreB = static_cast<bool>(std::getline(B, LineB));
        if (!MoreA && !MoreB) return {};
        if (MoreA != MoreB || LineA != LineB)
            return "line " + std::to_string(Number) + ": \"" + (MoreA ? LineA : "") +
                   "\" became \"" + (MoreB ? LineB : "") + "\"";
    }
}

class SampleSettings : public ::testing::Test {
  protected:
    testsupport::TTempDir Temp{"ostra-samples"};
    const fs::path Dir = Temp.Path();
};

// Each settings object, loaded from no file, saves its defaults over a copy
// of the sample: the copy stays as it was, so every key is there, in its
// section, holding its default in the form the program writes it.
TEST_F(SampleSettings, OptionIniHoldsEveryKeyAtItsDefault) {
    const std::string Copy = (Dir / "Option.ini").string();
    const std::string None = (Dir / "none.ini").string();
    fs::copy_file(Samples / "Option.ini", Copy);
    const std::string Sample = ReadText(Copy);

    TSysOption Service(None);
    Service.Load();
    Service.FileName = Copy;
    Service.Save();
    EXPECT_EQ(FirstChange(Sample, ReadText(Copy)), "") << "service settings";

    TOption DriverDefaults(None);
    DriverDefaults.Load();
    TOption Driver(Copy);
    Driver.SetPortName(DriverDefaults.PortName());
    Driver.CurrentCardNo = DriverDefaults.CurrentCardNo;
    Driver.AutoReadDoorCard = DriverDefaults.AutoReadDoorCard;
    Driver.Save();
    EXPECT_EQ(FirstChange(Sample, ReadText(Copy)), "") << "lock driver settings";

    kestrane::TSysOptions Plugin(None);
    Plugin.Load();
    Plugin.FileName = Copy;
    Plugin.Save();
    EXPECT_EQ(FirstChange(Sample, ReadText(Copy)), "") << "plug-in settings";
}

TEST_F(SampleSettings, SettingIniHoldsBothKeysAtTheirDefaults) {
    fs::copy_file(Samples / "Setting.ini", Dir / "Setting.ini");
    const IniFile Ini((Dir / "Setting.ini").string());
    for (const char* Key : {cardlib::kServerKey, cardlib::kSiteCodeKey})
        EXPECT_NE(Ini.ReadString(cardlib::kSettingSection, Key, "?"), "?") << Key;

    const cardlib::CardSettings Sample = cardlib::IniCardSettings(Dir.string()).Read();
    const cardlib::CardSettings None = cardlib::IniCardSettings((Dir / "none").string()).Read();
    EXPECT_EQ(Sample.SqlServer, None.SqlServer);
    EXPECT_EQ(Sample.SiteCode, None.SiteCode);
}

}  // namespace
}  // namespace ostra
