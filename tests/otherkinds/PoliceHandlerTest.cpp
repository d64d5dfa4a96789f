// Police requests over loopback against a test device.
#include <string>
#include <vector>

#include "otherkinds/core/PoliceMessageHandlerUnit.h"
#include "tests/otherkinds/HandlerFixture.h"

namespace ostra::test {
namespace {

using Strings = std::vector<std::string>;

const std::string Empty = "<PoliceResponse></PoliceResponse>";

class PoliceHandler : public THandlerTest<TPoliceMessageHandler, TFakePolice> {
  protected:
    void SetUp() override {
        THandlerTest::SetUp();
        auto g = device_->Lock();
        device_->Guest = TGuest{"8101",
                                "2008-05-01 14:00:00",
                                "3",
                                "110101190001011234",
                                "张三",
                                "汉族",
                                "1",
                                "9",
                                "156",
                                "11",
                                "北京市东城区&<1>号",
                                "1990-01-02"};
    }
};

TEST_F(PoliceHandler, RepliesTheCurrentGuest) {
    const std::string text =
        "<PoliceResponse><Guest><RoomNo>8101</RoomNo><EnterTime>2008-05-01 14:00:00</EnterTime>"
        "<IdCardTypeID>11</IdCardTypeID><IdCardNo>110101190001011234</IdCardNo>"
        "<Name>张三</Name><Nationality>汉族</Nationality><GenderID>1</GenderID>"
        "<SalutationID>2</SalutationID><CountryCode>156</CountryCode>"
        "<ProvinceCode>11</ProvinceCode><Address>北京市东城区&<1>号</Address>"
        "<Birthday>1990-01-02</Birthday></Guest></PoliceResponse>";
    const std::string request = "<PoliceRequest type=\"GetGuest\"/>";
    EXPECT_EQ(AskFresh(request), text + std::string(1, '\0'));
    EXPECT_EQ(Log, (Strings{Received(request), "返回结果: \r\n" + text}));
}

TEST_F(PoliceHandler, AnyRequestTextGetsTheSameReply) {
    const std::string reply = Ask("<x/>");
    ASSERT_FALSE(reply.empty());
    for (const std::string& request : {std::string("not xml <at all"), std::string(""),
                                       std::string("<r type=\"ReadMemberCard\"><a/></r>")}) {
        EXPECT_EQ(AskFresh(request), reply) << request;
        EXPECT_EQ(Log.front(), Received(request));
    }
    // Bytes that are not UTF-8 at all: logged with U+FFFD for each, answered alike.
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(AskFresh("\xFF\x80<r\x01\xC3(\xD5\xC5"), reply);
    EXPECT_EQ(Log.front(), Received(fffd + fffd + "<r\x01" + fffd + "(" + fffd + fffd));
}

TEST_F(PoliceHandler, NoGuestOrNoDeviceRepliesTheEmptyResponse) {
    device_->Lock(), device_->HasGuest = false;
    EXPECT_EQ(AskFresh("<r/>"), Empty + std::string(1, '\0'));
    EXPECT_EQ(Log, (Strings{Received("<r/>"), "返回结果: \r\n" + Empty}));
    RemoveDevice();
    EXPECT_EQ(AskFresh("<r/>"), Empty + std::string(1, '\0'));
    EXPECT_EQ(Log, (Strings{Received("<r/>"), "返回结果: \r\n" + Empty}));
}

TEST_F(PoliceHandler, GenderThatIsNotAWholeNumberLeavesNoReply) {
    for (const char* gender : {"F", "", "1.0"}) {
        device_->Lock(), device_->Guest.GenderID = gender;
        EXPECT_EQ(AskFresh("<r/>"), "") << gender;
        EXPECT_EQ(Log, Strings{Received("<r/>")}) << gender;
    }
    device_->Lock(), device_->Guest.GenderID = "0";
    EXPECT_NE(Ask("<r/>").find("<GenderID>0</GenderID><SalutationID>1</SalutationID>"),
              std::string::npos);
}

TEST_F(PoliceHandler, ADeviceThatRaisesGetsNoReplyAndTheServiceGoesOn) {
    device_->Lock(), device_->Raise = true;
    EXPECT_EQ(AskFresh("<r/>"), "");
    EXPECT_EQ(Log, Strings{Received("<r/>")});
    device_->Lock(), device_->Raise = false;
    EXPECT_FALSE(Ask("<r/>").empty());
}

TEST_F(PoliceHandler, AClientGoneBeforeTheReplyIsNotLoggedTwice) {
    AskAndVanish("<r/>");
    const Strings log = log_.Entries();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].rfind("返回结果: \r\n<PoliceResponse><Guest>", 0), 0u);
}

}  // namespace
}  // namespace ostra::test
