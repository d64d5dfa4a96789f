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
}

TEST(CodePage, DecodesMalformedUtf8ByteByByte) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(DecodeUtf8("房间\xEF\xBB\xBF"), "房间\xEF\xBB\xBF");
    EXPECT_EQ(DecodeUtf8("ab\x80"), "ab" + fffd);
    // 张三 in GBK: no byte starts a well-formed sequence.
    EXPECT_EQ(DecodeUtf8("<\xD5\xC5\xC8\xFD>"), "<" + fffd + fffd + fffd + fffd + ">");
    // A sequence cut short, an overlong form and a surrogate: every byte of
    // them is replaced, and what follows is read again from its own start.
    EXPECT_EQ(DecodeUtf8("\xE5\x8F房"), fffd + fffd + "房");
    EXPECT_EQ(DecodeUtf8("\xC0\xAF"), fffd + fffd);
    EXPECT_EQ(DecodeUtf8("\xED\xA0\x80z"), fffd + fffd + fffd + "z");
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
    EXPECT_EQ(CodeSetToUtf8("\xC4\xEA", "GB18030"), "年");
    EXPECT_EQ(CodeSetToUtf8("%H:%M", "ANSI_X3.4-1968"), "%H:%M");
}

}  // namespace
}  // namespace ostra
