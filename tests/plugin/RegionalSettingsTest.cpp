// Reading date-time texts with the user's regional settings.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <utility>
#include <vector>

#include "plugin/RegionalSettingsUnit.h"
#include "tests/plugin/PluginTestSupport.h"

namespace ostra::kestrane {
namespace {

std::string Read(std::string_view Text, const TRegionalSettings& Settings) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", StrToDateTime(Text, Settings));
}

TEST(KestraneRegionalSettings, FormatsGiveOrderAndSeparators) {
    const TRegionalSettings sv = RegionalSettingsFromFormats("%Y-%m-%d", "%H:%M:%S");
    EXPECT_EQ(sv.DateOrder, TDateOrder::YMD);
    EXPECT_EQ(sv.DateSeparator, "-");
    EXPECT_EQ(sv.TimeSeparator, ":");
    const TRegionalSettings c = RegionalSettingsFromFormats("%D", "%T");
    EXPECT_EQ(c.DateOrder, TDateOrder::MDY);
    EXPECT_EQ(c.DateSeparator, "/");
    const TRegionalSettings de = RegionalSettingsFromFormats("%-d.%-m.%Y", "%H.%M.%S");
    EXPECT_EQ(de.DateOrder, TDateOrder::DMY);
    EXPECT_EQ(de.DateSeparator, ".");
    EXPECT_EQ(de.TimeSeparator, ".");
}

TEST(KestraneRegionalSettings, ReadsTheUsersOwnForm) {
    const TRegionalSettings sv = RegionalSettingsFromFormats("%Y-%m-%d", "%H:%M:%S");
    EXPECT_EQ(Read("2008-05-01 14:00:00", sv), "2008-05-01 14:00:00");
    EXPECT_EQ(Read("  2008-5-1 9:05 ", sv), "2008-05-01 09:05:00");  // lenient fields, no seconds
    EXPECT_EQ(Read("2008-05-01", sv), "2008-05-01 00:00:00");        // a date alone
    EXPECT_EQ(Read("2008-05-01 ", sv), "2008-05-01 00:00:00");

    const TRegionalSettings us = RegionalSettingsFromFormats("%m/%d/%Y", "%r", "AM", "PM");
    EXPECT_EQ(Read("05/01/2008 02:00:00 PM", us), "2008-05-01 14:00:00");
    EXPECT_EQ(Read("05/01/2008 12:30:00 am", us), "2008-05-01 00:30:00");
    EXPECT_EQ(Read("05/01/2008 14:00:00", us), "2008-05-01 14:00:00");

    const TRegionalSettings de = RegionalSettingsFromFormats("%d.%m.%Y", "%H:%M:%S");
    EXPECT_EQ(Read("01.05.2008 14:00:00", de), "2008-05-01 14:00:00");

    const TRegionalSettings zh = RegionalSettingsFromFormats("%Y年%m月%d日", "%H时%M分%S秒");
    EXPECT_EQ(Read("2008年05月01日 14时00分00秒", zh), "2008-05-01 14:00:00");
}

TEST(KestraneRegionalSettings, TwoFigureYearsFallWithinFiftyYearsOfNow) {
    const TRegionalSettings c = RegionalSettingsFromFormats("%m/%d/%y", "%H:%M:%S");
    const int year = DecodeDateTime(Now()).Year;
    const int expected =
        year / 100 * 100 + 8 < year - 50 ? year / 100 * 100 + 108 : year / 100 * 100 + 8;
    EXPECT_EQ(DecodeDateTime(StrToDateTime("05/01/08", c)).Year, expected);
    // Both sides of the window: fifty years back and forty-nine ahead.
    const int back = (year - 50) % 100, ahead = (year + 49) % 100;
    EXPECT_EQ(
        DecodeDateTime(StrToDateTime("05/01/" + std::to_string(100 + back).substr(1), c)).Year,
        year - 50);
    EXPECT_EQ(
        DecodeDateTime(StrToDateTime("05/01/" + std::to_string(100 + ahead).substr(1), c)).Year,
        year + 49);
}

TEST(KestraneRegionalSettings, TheServiceFormReadsOnlyWhereYearComesFirstWithDashAndColon) {
    const std::string service = "2008-05-01 14:00:00";
    for (const auto& [date, time] :
         std::vector<std::pair<const char*, const char*>>{{"%m/%d/%y", "%H:%M:%S"},
                                                          {"%d.%m.%Y", "%H:%M:%S"},
                                                          {"%Y/%m/%d", "%H:%M:%S"},
                                                          {"%Y-%m-%d", "%H.%M.%S"}}) {
        EXPECT_THROW(StrToDateTime(service, RegionalSettingsFromFormats(date, time)), EConvertError)
            << date << " " << time;
    }
}

TEST(KestraneRegionalSettings, UnreadableTextsNameThemselvesInTheError) {
    const TRegionalSettings sv = RegionalSettingsFromFormats("%Y-%m-%d", "%H:%M:%S");
    for (const char* text : {"", "abc", "2008-13-01 00:00:00", "2008-02-30", "2008-05-01 24:00",
                             "2008-05-01 14:60", "2008-05-01 14:00:00 xyz", "12345-05-01",
                             "2008-05-01 02:00:00 PM PM", "2008-05-01 13:00 PM"}) {
        try {
            StrToDateTime(text, sv);
            ADD_FAILURE() << "read: " << text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("'") + text + "' is not a valid date and time");
        }
    }
}

// The settings of the locale that LC_ALL names, found among the locales made
// for the tests; the environment is put back afterwards.
TRegionalSettings SettingsOfLocale(const char* Locale) {
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"LC_ALL", "LOCPATH"}) {
        const char* value = getenv(name);
        saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("LOCPATH", testing::TestLocaleDir().c_str(), 1);
    setenv("LC_ALL", Locale, 1);
    const TRegionalSettings settings = ReadUserRegionalSettings();
    for (const auto& [name, value] : saved) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    return settings;
}

TEST(KestraneRegionalSettings, TheUsersLocaleIsReadFromTheEnvironment) {
    const TRegionalSettings sv = SettingsOfLocale("sv_SE.UTF-8");
    EXPECT_EQ(sv.DateOrder, TDateOrder::YMD) << "no test locale in " << testing::TestLocaleDir();
    EXPECT_EQ(sv.DateSeparator, "-");
    EXPECT_EQ(sv.TimeSeparator, ":");
}

TEST(KestraneRegionalSettings, ALocaleInItsOwnCharacterSetIsReadAsUtf8) {
    // The separators and the AM/PM words of zh_CN.GB18030 are GB18030 bytes
    // in the locale; the request texts are UTF-8.
    const TRegionalSettings zh = SettingsOfLocale("zh_CN.GB18030");
    EXPECT_EQ(zh.DateOrder, TDateOrder::YMD) << "no test locale in " << testing::TestLocaleDir();
    EXPECT_EQ(zh.DateSeparator + zh.DateSeparator2 + zh.DateTerminator, "年月日");
    EXPECT_EQ(zh.TimeSeparator + zh.TimeSeparator2 + zh.TimeTerminator, "时分秒");
    EXPECT_EQ(Read("2008年05月01日 14时00分00秒", zh), "2008-05-01 14:00:00");
    EXPECT_EQ(Read("2008年05月01日 02时30分00秒 下午", zh), "2008-05-01 14:30:00");
    EXPECT_EQ(Read("2008年05月01日 12时00分00秒 上午", zh), "2008-05-01 00:00:00");
}

}  // namespace
}  // namespace ostra::kestrane
