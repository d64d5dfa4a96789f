#include <gtest/gtest.h>

#include "platform/datetime/DateTime.h"

namespace ostra {
namespace {

TEST(DateTime, EncodesAndDecodesTheDayCount) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(2008, 5, 1), 39569.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
    EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0), EConvertError);

    const TDateTime t = EncodeDateTime({2008, 5, 1, 14, 3, 7, 250});
    const DateTimeParts p = DecodeDateTime(t);
    EXPECT_EQ(p.Year, 2008);
    EXPECT_EQ(p.Month, 5);
    EXPECT_EQ(p.Day, 1);
    EXPECT_EQ(p.Hour, 14);
    EXPECT_EQ(p.Minute, 3);
    EXPECT_EQ(p.Second, 7);
    EXPECT_EQ(p.MilliSecond, 250);

    // Before 1899-12-30 the time of day counts away from zero.
    const TDateTime before = EncodeDateTime({1899, 12, 29, 6, 0, 0, 0});
    EXPECT_DOUBLE_EQ(before, -1.25);
    EXPECT_EQ(DecodeDateTime(before).Day, 29);
    EXPECT_EQ(DecodeDateTime(before).Hour, 6);
}

TEST(DateTime, ShiftsMinutesAsDayFractions) {
    const TDateTime t = EncodeDateTime({2008, 5, 1, 14, 0, 0, 0});
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", IncMinute(t, -30)), "2008-05-01 13:30:00");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", IncMinute(t, 600)), "2008-05-02 00:00:00");
    EXPECT_DOUBLE_EQ(IncMinute(t, 30), (t * 1440 + 30) / 1440);
}

TEST(DateTime, FormatsPictures) {
    const TDateTime t = EncodeDateTime({2008, 5, 1, 4, 3, 7, 9});
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss ", t), "2008-05-01 04:03:07 ");
    EXPECT_EQ(FormatDateTime("yyyymmdd", t), "20080501");
    EXPECT_EQ(FormatDateTime("yyyy-MM-dd hh:mm:ss", t), "2008-05-01 04:03:07");
    EXPECT_EQ(FormatDateTime("yy/m/d h:n:s.zzz", t), "08/5/1 4:3:7.009");
    EXPECT_EQ(FormatDateTime("'at' hh\"h\"", t), "at 04h");
    EXPECT_EQ(DateTimeToStr(t), "2008-05-01 04:03:07");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2008, 5, 1)), "2008-05-01");
}

TEST(DateTime, ReadsTheServiceForms) {
    EXPECT_EQ(StrToDateTime("2008-05-01 14:00:00"), EncodeDateTime({2008, 5, 1, 14, 0, 0, 0}));
    EXPECT_EQ(StrToDateTime("2008-5-1 9:05"), EncodeDateTime({2008, 5, 1, 9, 5, 0, 0}));
    EXPECT_EQ(StrToDateTime("  2008-05-01   14:00:00  "),
              EncodeDateTime({2008, 5, 1, 14, 0, 0, 0}));
    EXPECT_EQ(StrToDateTime("2008-05-01 "), EncodeDate(2008, 5, 1));
    EXPECT_EQ(StrToDateTime(" 14:00:00"), EncodeTime(14, 0, 0));

    for (const char* bad :
         {"", " ", "2008/05/01 14:00:00", "2008-13-01 00:00:00", "2008-02-30 00:00:00",
          "2008-05-01 24:00:00", "2008-05-01 12:60:00", "2008-05-01 14:00:00 x",
          "2008-05-0114:00:00", "abc", "14:00:00:00", "2008-05-01 14", "12008-05-01 00:00:00"}) {
        TDateTime v = 42;
        EXPECT_FALSE(TryStrToDateTime(bad, v)) << bad;
        EXPECT_EQ(v, 42) << bad;
    }
    try {
        StrToDateTime("x 1");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x 1' is not a valid date and time");
    }
}

TEST(DateTime, NowIsTheLocalClock) {
    const TDateTime a = Now();
    const TDateTime b = Now();
    EXPECT_LE(a, b);
    EXPECT_GT(a, EncodeDate(2020, 1, 1));
    EXPECT_EQ(Date(), static_cast<double>(static_cast<long long>(b)));
}

}  // namespace
}  // namespace ostra
