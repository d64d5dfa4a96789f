// Reading date-time texts with the user's regional settings.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "plugin/RegionalSettingsUnit.h"

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

TEST(KestraneRegionalSettings, TheUsersLocaleIsReadFromTheEnvironment) {
    // sv_SE is installed by scripts/deps; its short date is year first.
    const char* saved = getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    setenv("LC_ALL", "sv_SE.UTF-8", 1);
    const TRegionalSettings sv = ReadUserRegionalSettings();
    if (saved)
        setenv("LC_ALL", keep.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_EQ(sv.DateOrder, TDateOrder::YMD) << "is the sv_SE.UTF-8 locale installed?";
    EXPECT_EQ(sv.DateSeparator, "-");
    EXPECT_EQ(sv.TimeSeparator, ":");
}

}  // namespace
}  // namespace ostra::kestrane
