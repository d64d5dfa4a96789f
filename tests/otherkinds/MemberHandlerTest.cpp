// Member-card requests over loopback against a test device.
#include <string>
#include <vector>

#include "otherkinds/core/MemberMessageHandlerUnit.h"
#include "tests/otherkinds/HandlerFixture.h"

namespace ostra::test {
namespace {

using Strings = std::vector<std::string>;

std::string Reply(const std::string& Code, const std::string& Message, const std::string& CardNo,
                  const std::string& ExpireDate = "", const std::string& GuestName = "",
                  const std::string& Score = "", const std::string& Password = "") {
    return Framed("<DoorResponse><RequestID></RequestID><ResultCode>" + Code +
                  "</ResultCode><ResultMessage>" + Message + "</ResultMessage><CardNo>" + CardNo +
                  "</CardNo><ExpireDate>" + ExpireDate + "</ExpireDate><GuestName>" + GuestName +
                  "</GuestName><Score>" + Score + "</Score><Password>" + Password +
                  "</Password></DoorResponse>");
}

std::string WriteRequest(const std::string& Children) {
    return "<MemberRequest type=\"WriteMemberCard\">" + Children + "</MemberRequest>";
}
std::string ReadRequest(const std::string& Children) {
    return "<MemberRequest type=\"ReadMemberCard\">" + Children + "</MemberRequest>";
}
const std::string FiveChildren = "<a>x</a><b>8001</b><c>pw</c><d>2030-01-01</d><e>张三</e>";

using MemberHandler = THandlerTest<TMemberMessageHandler, TFakeMember>;

TEST_F(MemberHandler, WriteRepliesTheRequestsCardNumber) {
    const std::string request = WriteRequest(FiveChildren);
    EXPECT_EQ(AskFresh(request),
              "<DoorResponse><RequestID></RequestID><ResultCode>200</ResultCode>"
              "<ResultMessage>写卡成功</ResultMessage><CardNo>8001</CardNo><ExpireDate>"
              "</ExpireDate><GuestName></GuestName><Score></Score><Password></Password>"
              "</DoorResponse>" +
                  std::string(1, '\0'));
    EXPECT_EQ(Log, (Strings{Received(request), "写卡成功,卡号为:8001"}));
    auto g = device_->Lock();
    EXPECT_EQ(device_->LastTexts, (Strings{"8001", "pw", "2030-01-01", "张三"}));
    EXPECT_EQ(device_->LastChannel, -1);
}

TEST_F(MemberHandler, FailedWriteStillCarriesTheCardNumber) {
    device_->Lock(), device_->Result = false;
    const std::string request = WriteRequest("<a/><b>会员&amp;8&lt;1</b><c/><d/><e/>");
    EXPECT_EQ(AskFresh(request), Reply("500", "写卡失败", "会员&8<1"));
    EXPECT_EQ(Log, (Strings{Received(request), "写卡失败,卡号为:会员&8<1"}));
}

TEST_F(MemberHandler, WriteChannelIsTheOptionalSixthChild) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"", -1},           {"<f>11</f>", 11},         {"<f>abc</f>", -1},
        {"<f>-7</f>", -7},  {"<f>2147483648</f>", -1}, {"<f></f>", -1},
        {"<f> 11 </f>", 11}};
    for (const auto& [sixth, channel] : cases) {
        EXPECT_EQ(Ask(WriteRequest(FiveChildren + sixth)), Reply("200", "写卡成功", "8001"))
            << sixth;
        auto g = device_->Lock();
        EXPECT_EQ(device_->LastChannel, channel) << sixth;
    }
}

TEST_F(MemberHandler, ReadRepliesTheFiveTextsInReplyOrderUnescaped) {
    {
        auto g = device_->Lock();
        device_->CardNo = "8001";
        device_->Password = "p<w&";
        device_->ExpireDate = "2030-12-31";
        device_->GuestName = "李四 & <王五>";
        device_->Score = "150";
    }
    const std::string request = ReadRequest("<a/><flag>1</flag>");
    EXPECT_EQ(AskFresh(request),
              Reply("200", "读卡成功", "8001", "2030-12-31", "李四 & <王五>", "150", "p<w&"));
    EXPECT_EQ(Log, (Strings{Received(request), "读卡成功，卡号为：8001"}));
    auto g = device_->Lock();
    EXPECT_TRUE(device_->LastFlag);
    EXPECT_EQ(device_->LastChannel, -1);
    EXPECT_EQ(device_->LastTexts, Strings(5));  // outputs handed in empty
}

TEST_F(MemberHandler, FailedReadRepliesNothingTheDeviceFilledIn) {
    {
        auto g = device_->Lock();
        device_->Result = false;
        device_->CardNo = "8001";
        device_->GuestName = "张三";
    }
    const std::string request = ReadRequest("<a/><b>0</b>");
    EXPECT_EQ(AskFresh(request), Reply("500", "读卡失败", ""));
    EXPECT_EQ(Log, (Strings{Received(request), "读卡失败"}));
}

TEST_F(MemberHandler, ReadFlagIsTrueExactlyForOne) {
    for (const auto& [text, flag] : std::vector<std::pair<std::string, bool>>{
             {"1", true}, {"+1", true}, {"01", true}, {"0", false}, {"2", false}, {"-1", false}}) {
        EXPECT_EQ(Ask(ReadRequest("<a/><b>" + text + "</b>")).substr(0, 50),
                  Reply("200", "读卡成功", "").substr(0, 50));
        auto g = device_->Lock();
        EXPECT_EQ(device_->LastFlag, flag) << text;
    }
}

TEST_F(MemberHandler, ReadChannelIsTheOptionalThirdChild) {
    for (const auto& [third, channel] : std::vector<std::pair<std::string, int>>{
             {"", -1}, {"<c>11</c>", 11}, {"<c>abc</c>", -1}, {"<c>0</c>", 0}}) {
        Ask(ReadRequest("<a/><b>1</b>" + third));
        auto g = device_->Lock();
        EXPECT_EQ(device_->LastChannel, channel) << third;
    }
}

TEST_F(MemberHandler, MalformedRequestsGetNoReplyAndNoResultLine) {
    for (const std::string& request :
         {ReadRequest("<a/><b>yes</b>"), ReadRequest("<a/><b></b>"), ReadRequest("<a/>"),
          ReadRequest("<a/><b>99999999999</b>"), WriteRequest("<a/><b>1</b><c/><d/>"),
          std::string("not xml at all"), std::string("<unclosed type=\"ReadMemberCard\">"),
          std::string("")}) {
        EXPECT_EQ(AskFresh(request), "") << request;
        EXPECT_EQ(Log, Strings{Received(request)}) << request;
    }
    EXPECT_TRUE(device_->CallsSoFar().empty());
}

TEST_F(MemberHandler, UnknownOperationsSendNothing) {
    for (const std::string& request :
         {std::string("<r type=\"writemembercard\">") + FiveChildren + "</r>",
          std::string("<r>") + FiveChildren + "</r>", std::string("<r type=\"\"/>"),
          std::string("<r type=\"IssueCard\"/>")}) {
        EXPECT_EQ(AskFresh(request), "") << request;
        EXPECT_EQ(Log, Strings{Received(request)});
    }
    EXPECT_TRUE(device_->CallsSoFar().empty());
}

TEST_F(MemberHandler, OperationIsTrimmedAndChildNamesDoNotMatter) {
    const std::string request =
        "<?xml version=\"1.0\"?>\n<Zelt TYPE=\" \tReadMemberCard\r\n\">\n  <x/>\n  <y>1</y>\n"
        "  <z>11</z>\n</Zelt>";
    EXPECT_EQ(Ask(request), Reply("200", "读卡成功", ""));
    auto g = device_->Lock();
    EXPECT_TRUE(device_->LastFlag);
    EXPECT_EQ(device_->LastChannel, 11);
}

TEST_F(MemberHandler, NoDeviceAnswersFailure) {
    RemoveDevice();
    EXPECT_EQ(Ask(WriteRequest(FiveChildren)), Reply("500", "写卡失败", "8001"));
    EXPECT_EQ(Ask(ReadRequest("<a/><b>1</b>")), Reply("500", "读卡失败", ""));
    EXPECT_EQ(Ask(WriteRequest("<a/>")), "");  // still malformed without a device
}

TEST_F(MemberHandler, ADeviceThatRaisesGetsNoReplyAndTheServiceGoesOn) {
    device_->Lock(), device_->Raise = true;
    const std::string request = ReadRequest("<a/><b>1</b>");
    EXPECT_EQ(AskFresh(request), "");
    EXPECT_EQ(Log, Strings{Received(request)});
    EXPECT_EQ(Ask(WriteRequest(FiveChildren)), "");
    device_->Lock(), device_->Raise = false;
    EXPECT_EQ(Ask(WriteRequest(FiveChildren)), Reply("200", "写卡成功", "8001"));
}

TEST_F(MemberHandler, AClientGoneBeforeTheReplyIsNotLogged) {
    const std::string request = WriteRequest(FiveChildren);
    AskAndVanish(request);
    EXPECT_EQ(log_.Entries(), (Strings{Received(request), "写卡成功,卡号为:8001"}));
    EXPECT_EQ(Ask(ReadRequest("<a/><b>1</b>")), Reply("200", "读卡成功", ""));
}

}  // namespace
}  // namespace ostra::test
