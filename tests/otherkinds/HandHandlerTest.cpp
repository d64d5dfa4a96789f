// Hand-card requests over loopback against a test device.
#include <string>
#include <vector>

#include "otherkinds/core/HandMessageHandlerUnit.h"
#include "tests/otherkinds/HandlerFixture.h"

namespace ostra::test {
namespace {

using Strings = std::vector<std::string>;

std::string Text(const std::string& Code, const std::string& Message, const std::string& HandNo) {
    return "<DoorResponse><RequestID></RequestID><ResultCode>" + Code +
           "</ResultCode><ResultMessage>" + Message + "</ResultMessage><HandNo>" + HandNo +
           "</HandNo></DoorResponse>";
}
std::string Request(const std::string& Operation) {
    return "<HandRequest type=\"" + Operation + "\"></HandRequest>";
}
// The log of one request: received, "执行操作->", the result line(s), the
// reply as text, "完成一次操作".
Strings Frame(const std::string& Request, const Strings& Middle, const std::string& ReplyText) {
    Strings log{Received(Request), "执行操作->"};
    log.insert(log.end(), Middle.begin(), Middle.end());
    log.push_back("返回数据:" + ReplyText);
    log.push_back("完成一次操作");
    return log;
}

using HandHandler = THandlerTest<THandMessageHandler, TFakeHand>;

TEST_F(HandHandler, IssueRepliesTheIssuedNumber) {
    device_->Lock(), device_->HandNo = "0815";
    const std::string request = Request("IssueHand");
    EXPECT_EQ(AskFresh(request),
              "<DoorResponse><RequestID></RequestID><ResultCode>200</ResultCode>"
              "<ResultMessage>写手牌卡成功</ResultMessage><HandNo>0815</HandNo></DoorResponse>" +
                  std::string(1, '\0'));
    const std::string text = Text("200", "写手牌卡成功", "0815");
    EXPECT_EQ(Log, Frame(request, {"写手牌卡成功"}, text));
    EXPECT_EQ(device_->CallsSoFar(), Strings{"WriteCard"});
}

TEST_F(HandHandler, FailedIssueKeepsWhatTheDeviceLeft) {
    {
        auto g = device_->Lock();
        device_->Result = false;
        device_->HandNo = "手牌&<7>";
    }
    const std::string request = Request("IssueHand");
    const std::string text = Text("500", "发手牌卡失败", "手牌&<7>");
    EXPECT_EQ(AskFresh(request), Framed(text));
    EXPECT_EQ(Log, Frame(request, {"发手牌失败"}, text));

    device_->Lock(), device_->HandNo = "";
    EXPECT_EQ(Ask(request), Framed(Text("500", "发手牌卡失败", "")));
}

TEST_F(HandHandler, ReadAndEraseRepliesAndLogLines) {
    struct Case {
        std::string Operation;
        bool Ok;
        std::string Reply;
        Strings Middle;
    };
    const std::vector<Case> cases = {
        {"ReadHand", true, Text("200", "读手牌卡成功", "0815"), {"读手牌成功，卡号为：0815"}},
        {"ReadHand", false, Text("500", "读手牌卡失败", ""), {"读手牌失败"}},
        {"EraseHand", true, Text("200", "注销手牌成功 ", "0815"), {"注销手牌成功"}},
        {"EraseHand", false, Text("500", "注销手牌失败 ", ""), {"注销手牌失败"}},
    };
    for (const Case& c : cases) {
        {
            auto g = device_->Lock();
            device_->Result = c.Ok;
            device_->HandNo = "0815";  // also set by a failing device
        }
        const std::string request = Request(c.Operation);
        EXPECT_EQ(AskFresh(request), Framed(c.Reply)) << c.Operation << c.Ok;
        EXPECT_EQ(Log, Frame(request, c.Middle, c.Reply)) << c.Operation << c.Ok;
        auto g = device_->Lock();
        EXPECT_EQ(device_->HandNoOnEntry, "");
    }
}

TEST_F(HandHandler, ChildrenAreNeverReadAndTheOperationIsTrimmed) {
    device_->Lock(), device_->HandNo = "12";
    const std::string reply = Framed(Text("200", "读手牌卡成功", "12"));
    EXPECT_EQ(Ask("<r type=\"ReadHand\"/>"), reply);
    EXPECT_EQ(Ask("<r type=\"\r\n ReadHand\t\"><a>whatever</a><!-- x --><b/></r>"), reply);
    EXPECT_EQ(Ask("<r Type=\"ReadHand\">text only</r>"), reply);
}

TEST_F(HandHandler, UnknownOperationLogsTheEmptyReplyAndSendsNothing) {
    for (const std::string& request :
         {Request("issuehand"), std::string("<r/>"), Request(""), Request("IssueCard")}) {
        EXPECT_EQ(AskFresh(request), "") << request;
        EXPECT_EQ(Log, Frame(request, {}, Text("", "", ""))) << request;
    }
    EXPECT_TRUE(device_->CallsSoFar().empty());
}

TEST_F(HandHandler, MalformedRequestsGetNoReplyAndNoFurtherLog) {
    for (const std::string& request :
         {std::string("IssueHand"), std::string("<r type=\"IssueHand\">"), std::string(""),
          std::string("<!-- only -->")}) {
        EXPECT_EQ(AskFresh(request), "") << request;
        EXPECT_EQ(Log, Strings{Received(request)}) << request;
    }
    EXPECT_TRUE(device_->CallsSoFar().empty());
}

TEST_F(HandHandler, NoDeviceFailsEveryOperation) {
    RemoveDevice();
    EXPECT_EQ(Ask(Request("IssueHand")), Framed(Text("500", "发手牌卡失败", "")));
    EXPECT_EQ(Ask(Request("ReadHand")), Framed(Text("500", "读手牌卡失败", "")));
    EXPECT_EQ(AskFresh(Request("EraseHand")), Framed(Text("500", "注销手牌失败 ", "")));
    EXPECT_EQ(Log, Frame(Request("EraseHand"), {"注销手牌失败"}, Text("500", "注销手牌失败 ", "")));
}

TEST_F(HandHandler, ADeviceThatRaisesGetsNoReplyAndTheServiceGoesOn) {
    device_->Lock(), device_->Raise = true;
    const std::string request = Request("EraseHand");
    EXPECT_EQ(AskFresh(request), "");
    EXPECT_EQ(Log, (Strings{Received(request), "执行操作->"}));
    device_->Lock(), device_->Raise = false;
    EXPECT_EQ(Ask(Request("ReadHand")), Framed(Text("200", "读手牌卡成功", "")));
}

TEST_F(HandHandler, AFailedSendIsLoggedAndTheFrameEnds) {
    device_->Lock(), device_->HandNo = "0815";
    const std::string request = Request("ReadHand");
    AskAndVanish(request);
    const Strings log = log_.Entries();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[2], "读手牌成功，卡号为：0815");
    EXPECT_FALSE(log[3].empty());  // the write's error text
    EXPECT_EQ(log[4], "返回数据:" + Text("200", "读手牌卡成功", "0815"));
    EXPECT_EQ(log[5], "完成一次操作");
}

}  // namespace
}  // namespace ostra::test
