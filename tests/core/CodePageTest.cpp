#include <gtest/gtest.h>

#include "platform/text/CodePage.h"

namespace ostra {
namespace {

TEST(CodePage, ValidatesUtf8) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("发卡成功 ok"));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xFF"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xE5\x8F"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_THROW(DecodeUtf8("ab\x80"), EEncodingError);
    EXPECT_EQ(DecodeUtf8("房间"), "房间");
}

TEST(CodePage, ConvertsToAndFromAChineseCodePage) {
    SetSystemCodePageForTesting("GB18030");
    EXPECT_FALSE(SystemCodePageIsUtf8());
    EXPECT_EQ(ToSystemCodePage("发卡成功"), "\xB7\xA2\xBF\xA8\xB3\xC9\xB9\xA6");
    EXPECT_EQ(FromSystemCodePage("\xB7\xA2\xBF\xA8"), "发卡");
    EXPECT_EQ(ToSystemCodePage("a\xFFz"), "a?z");
    SetSystemCodePageForTesting("GBK");
    EXPECT_EQ(ToSystemCodePage("x\xF0\x9F\x98\x80y"), "x?y");  // no emoji in GBK
    SetSystemCodePageForTesting("UTF-8");
    EXPECT_EQ(ToSystemCodePage("发卡"), "发卡");
    SetSystemCodePageForTesting("");
}

}  // namespace
}  // namespace ostra
