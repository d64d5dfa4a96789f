#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "service/core/DoorlockMessageHandlerUnit.h"
#include "tests/core/CoreTestSupport.h"

namespace ostra {
namespace {

using test::PairedConnection;
using test::ServiceGlobals;
using test::TestLock;

std::string Reply(const std::string& Code, const std::string& Message, const std::string& CardNo) {
    return "<DoorResponse><RequestID></RequestID><ResultCode>" + Code +
           "</ResultCode><ResultMessage>" + Message + "</ResultMessage><CardNo>" + CardNo +
           "</CardNo></DoorResponse>";
}

// An IssueCard request; Extra goes after child 10.
std::string Issue(const std::string& IsCopy = "0", const std::string& Extra = "",
                  const std::string& CheckIn =
                      "<CheckInDate>2008-05-01</CheckInDate>"
                      "<CheckInTime>14:00:00</CheckInTime>") {
    return "<DoorRequest type=\"IssueCard\"><RequestID>1</RequestID><RegisterId>R1</RegisterId>"
           "<BuildingCode>01</BuildingCode><FloorCode>02</FloorCode><RoomNo>101</RoomNo>"
           "<GuestName>Zhang</GuestName>" +
           CheckIn +
           "<CheckOutDate>2008-05-03</CheckOutDate><CheckOutTime>12:00:00</CheckOutTime>"
           "<IsCopy>" +
           IsCopy + "</IsCopy>" + Extra + "</DoorRequest>";
}

class HandlerTest : public ::testing::Test {
  protected:
    // Runs one request; the bytes that reached the client.
    std::string Handle(const std::string& Request) {
        TDoorlockMessageHandler handler;
        handler.HandleMessage(*Pair.Connection, Request);
        return Pair.Received();
    }
    // Runs one request that must be abandoned; true when it threw and sent nothing.
    bool Abandoned(const std::string& Request) {
        TDoorlockMessageHandler handler;
        try {
            handler.HandleMessage(*Pair.Connection, Request);
        } catch (const std::exception&) {
            return Pair.Received().empty();
        }
        return false;
    }

    ServiceGlobals G;
    PairedConnection Pair;
    TestLock Lock;
    TBaseDoorlock BaseLock;
};

TEST_F(HandlerTest, BaseLockFailsEveryOperation) {
    Doorlock = &BaseLock;
    EXPECT_EQ(Handle(Issue()), Reply("500", "发卡失败", "0") + '\0');
    EXPECT_EQ(Handle("<DoorRequest type=\"ReadCard\"/>"), Reply("500", "读卡失败", "0") + '\0');
    EXPECT_EQ(Handle("<DoorRequest type=\"EraseCard\"/>"), Reply("500", "注销卡失败 ", "0") + '\0');
    // Without any lock object the answers are the same.
    Doorlock = nullptr;
    EXPECT_EQ(Handle(Issue()), Reply("500", "发卡失败", "0") + '\0');
    EXPECT_EQ(Handle("<DoorRequest type=\"ReadCard\"/>"), Reply("500", "读卡失败", "0") + '\0');
}

TEST_F(HandlerTest, SucceedingLockRepliesWithTheCard) {
    Doorlock = &Lock;
    EXPECT_EQ(Handle(Issue()), Reply("200", "发卡成功", "1234") + '\0');
    EXPECT_EQ(Handle("<x type=\"ReadCard\"/>"), Reply("200", "读卡成功", "1234") + '\0');
    EXPECT_EQ(Handle("<x type=\"EraseCard\"/>"), Reply("200", "注销卡成功 ", "0") + '\0');
    Lock.NextCardNo = -5;
    EXPECT_EQ(Handle(Issue()), Reply("200", "发卡成功", "-5") + '\0');
}

TEST_F(HandlerTest, FailedOperationsReportTheirCardNumbers) {
    Doorlock = &Lock;
    Lock.Succeed = false;
    Lock.NextCardNo = 77;
    // A failed issue reports the number as the lock left it; a failed read reports 0.
    EXPECT_EQ(Handle(Issue()), Reply("500", "发卡失败", "77") + '\0');
    EXPECT_EQ(Handle("<x type=\"ReadCard\"/>"), Reply("500", "读卡失败", "0") + '\0');
}

TEST_F(HandlerTest, LogsEveryStepInOrder) {
    Doorlock = &Lock;
    const std::string request = Issue();
    Handle(request);
    Handle("<x type=\"ReadCard\"/>");
    Handle("<x type=\"EraseCard\"/>");
    const std::vector<std::string> expected = {
        "收到消息: \r\n" + request,
        "执行操作->",
        "房间(101)发卡成功",
        "返回数据:" + Reply("200", "发卡成功", "1234"),
        "完成一次操作",
        "收到消息: \r\n<x type=\"ReadCard\"/>",
        "执行操作->",
        "读卡成功，卡号为：1234",
        "返回数据:" + Reply("200", "读卡成功", "1234"),
        "完成一次操作",
        "收到消息: \r\n<x type=\"EraseCard\"/>",
        "执行操作->",
        "注销卡成功",
        "返回数据:" + Reply("200", "注销卡成功 ", "0"),
        "完成一次操作",
    };
    EXPECT_EQ(G.Entries(), expected);
}

TEST_F(HandlerTest, UnknownOperationSendsNothingButLogs) {
    Doorlock = &Lock;
    for (const char* request : {"<r type=\"issuecard\"/>", "<r/>", "<r TYPE=\"Other\"/>"})
        EXPECT_EQ(Handle(request), "") << request;
    const auto entries = G.Entries();
    ASSERT_EQ(entries.size(), 12u);
    EXPECT_EQ(entries[1], "执行操作->");
    EXPECT_EQ(entries[2], "返回数据:" + Reply("", "", "0"));
    EXPECT_EQ(entries[3], "完成一次操作");
    EXPECT_TRUE(Lock.Issues.empty());
}

TEST_F(HandlerTest, OperationNameIsFoundWithoutCaseAndTrimmed) {
    Doorlock = &Lock;
    EXPECT_EQ(Handle("<r TyPe=\" \tReadCard&#10; \"/>"), Reply("200", "读卡成功", "1234") + '\0');
}

TEST_F(HandlerTest, ChildrenCountByPositionNotByName) {
    Doorlock = &Lock;
    const std::string request =
        "<q type='IssueCard'>\r\n  <a/>\r\n  <b>R9</b>\n\t<c>B</c><d>F</d><e> 8 &amp; 9 </e>"
        "<f>   </f><g>2008-05-01</g><h>14:00:00</h><i>2008-05-03</i><j>12:00:00</j>"
        "<k>true</k></q>";
    EXPECT_EQ(Handle(request), Reply("200", "发卡成功", "1234") + '\0');
    ASSERT_EQ(Lock.Issues.size(), 1u);
    const auto& issue = Lock.Issues[0];
    EXPECT_EQ(issue.RegisterId, "R9");
    EXPECT_EQ(issue.BuildingCode, "B");
    EXPECT_EQ(issue.FloorCode, "F");
    EXPECT_EQ(issue.RoomNo, " 8 & 9 ");  // blanks kept, entities resolved
    EXPECT_EQ(issue.GuestName, "");      // only blanks: empty
    EXPECT_TRUE(issue.IsCopy);
    EXPECT_EQ(G.Entries()[2], "房间( 8 & 9 )发卡成功");
}

TEST_F(HandlerTest, CommentsAndTextRunsTakePositions) {
    Doorlock = &Lock;
    // Text before the first child takes no position; a comment and a text
    // run after it each take one.
    const std::string request =
        "<q type='IssueCard'>lead<a/><!--note-->R1<c>B</c><d>F</d><f>G</f>"
        "<g>2008-05-01</g><h>14:00:00</h><i>2008-05-03</i><j>12:00:00</j><k>1</k></q>";
    EXPECT_EQ(Handle(request), Reply("200", "发卡成功", "1234") + '\0');
    ASSERT_EQ(Lock.Issues.size(), 1u);
    EXPECT_EQ(Lock.Issues[0].RegisterId, "note");
    EXPECT_EQ(Lock.Issues[0].BuildingCode, "R1");
    EXPECT_EQ(Lock.Issues[0].RoomNo, "F");

    pugi::xml_document doc;
    doc.load_string("<r>x<a/>  <![CDATA[c]]> t <?pi v?></r>",
                    pugi::parse_default | pugi::parse_comments | pugi::parse_pi);
    const pugi::xml_node root = doc.document_element();
    EXPECT_STREQ(DoorRequest::ChildAt(root, 0).name(), "a");
    EXPECT_EQ(DoorRequest::ValueOf(DoorRequest::ChildAt(root, 1)), "c");
    EXPECT_EQ(DoorRequest::ValueOf(DoorRequest::ChildAt(root, 2)), " t ");
    EXPECT_STREQ(DoorRequest::ChildAt(root, 3).name(), "pi");
    EXPECT_FALSE(DoorRequest::ChildAt(root, 4));
}

TEST(DoorRequestValues, TruthValues) {
    for (const char* t : {"1", "7", "-3", "007", "true", "TRUE", "True"})
        EXPECT_TRUE(DoorRequest::ReadBool(t, false)) << t;
    for (const char* f : {"0", "000", "false", "FALSE"})
        EXPECT_FALSE(DoorRequest::ReadBool(f, true)) << f;
    for (const char* d : {"", "yes", " 1", "1 ", "truex", "+", "0x1"}) {
        EXPECT_FALSE(DoorRequest::ReadBool(d, false)) << d;
        EXPECT_TRUE(DoorRequest::ReadBool(d, true)) << d;
    }
}

TEST_F(HandlerTest, ShiftsCheckInAndCheckOut) {
    Doorlock = &Lock;
    G.Option.DelayMinutes = 30;
    G.Option.DelayMinutes2 = 60;
    Handle(Issue());
    ASSERT_EQ(Lock.Issues.size(), 1u);
    const auto& issue = Lock.Issues[0];
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", issue.BeginDate), "2008-05-01 13:30:00");
    EXPECT_EQ(issue.BeginTime, issue.BeginDate);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", issue.EndDate), "2008-05-03 13:00:00");
    EXPECT_EQ(issue.EndTime, issue.EndDate);
    EXPECT_DOUBLE_EQ(issue.BeginDate,
                     (EncodeDateTime({2008, 5, 1, 14, 0, 0, 0}) * 1440 - 30) / 1440);

    // A negative shift moves the check-in later.
    G.Option.DelayMinutes = -15;
    Handle(Issue());
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", Lock.Issues[1].BeginDate),
              "2008-05-01 14:15:00");
}

TEST_F(HandlerTest, MalformedRequestsGetNoReply) {
    Doorlock = &Lock;
    KeepClientConnection = true;
    const std::string badDate = Issue("0", "<Keep>0</Keep>",
                                      "<CheckInDate>2008/05/01</CheckInDate>"
                                      "<CheckInTime>14:00:00</CheckInTime>");
    EXPECT_TRUE(Abandoned(badDate));
    EXPECT_TRUE(KeepClientConnection);  // children after the bad one are not read
    EXPECT_TRUE(Abandoned(Issue("0", "", "<CheckInDate>2008-05-01</CheckInDate>")));
    EXPECT_TRUE(
        Abandoned("<r type='IssueCard'><a/><b/><c/><d/><e/><f/>"
                  "<g>2008-05-01</g><h>14:00:00</h><i>2008-05-03</i><j>12:00:00</j></r>"));
    EXPECT_TRUE(Abandoned("<r type='ReadCard'>"));
    EXPECT_TRUE(Abandoned("not xml"));
    EXPECT_TRUE(Abandoned(""));
    EXPECT_TRUE(Lock.Issues.empty());
    // Each left only its first lines in the log: the request, and for
    // parsed requests the operation line.
    const auto entries = G.Entries();
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_EQ(entries[0], "收到消息: \r\n" + badDate);
    EXPECT_EQ(entries[1], "执行操作->");
    EXPECT_EQ(entries[8], "收到消息: \r\n");
}

TEST_F(HandlerTest, KeepConnectionChild) {
    Doorlock = &Lock;
    for (const char* on : {"1", "7", "true", "TrUe"}) {
        KeepClientConnection = false;
        Handle(Issue("0", std::string("<Keep>") + on + "</Keep>"));
        EXPECT_TRUE(KeepClientConnection) << on;
    }
    for (const char* off : {"0", "false", "", "yes"}) {
        KeepClientConnection = true;
        Handle(Issue("0", std::string("<Keep>") + off + "</Keep>"));
        EXPECT_FALSE(KeepClientConnection) << off;
    }
    // Without the child the flag keeps its value.
    KeepClientConnection = true;
    Handle(Issue());
    EXPECT_TRUE(KeepClientConnection);
}

TEST_F(HandlerTest, FailedSendIsLoggedAndTheRequestFinishes) {
    Doorlock = &Lock;
    Pair.ClosePeer();
    TDoorlockMessageHandler handler;
    handler.HandleMessage(*Pair.Connection, "<x type=\"EraseCard\"/>");
    const auto entries = G.Entries();
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[2], "注销卡成功");
    EXPECT_NE(entries[3].find("Broken pipe"), std::string::npos) << entries[3];
    EXPECT_EQ(entries[4], "返回数据:" + Reply("200", "注销卡成功 ", "0"));
    EXPECT_EQ(entries[5], "完成一次操作");
}

class HandlerWithRecordsTest : public HandlerTest {
  protected:
    void SetUp() override {
        test::MakeClientMdb(G.Dir / "Client.mdb");
        Records.Open(G.Dir / "Client.mdb");
        SetRecordManager(&Records);
        Doorlock = &Lock;
    }
    std::string Db() { return G.Dir / "Client.mdb"; }
    TDoorlockRecordManager Records;
};

TEST_F(HandlerWithRecordsTest, NativeBeginTimesFollowTheRoom) {
    G.Option.UseNativeDoorlockDb = true;
    G.Option.DelayMinutes = 10;

    // A copy for a room without a stored time: now less the delay, stored as the room's.
    const TDateTime before = IncMinute(Now(), -10);
    Handle(Issue("1"));
    const TDateTime after = IncMinute(Now(), -10);
    ASSERT_EQ(Lock.Issues.size(), 1u);
    const TDateTime copyBegin = Lock.Issues[0].BeginDate;
    EXPECT_GE(copyBegin, before);
    EXPECT_LE(copyBegin, after);
    EXPECT_EQ(Records.GetLastCheckInTime("0102101"), copyBegin);
    EXPECT_EQ(G.Entries()[2], "新建房间0102101");

    // A first card stores its own begin time (now less the delay) ...
    Handle(Issue("0"));
    const TDateTime firstBegin = Lock.Issues[1].BeginDate;
    EXPECT_GE(firstBegin, copyBegin);
    EXPECT_EQ(Records.GetLastCheckInTime("0102101"), firstBegin);
    // ... and later copies start there.
    Handle(Issue("1"));
    EXPECT_EQ(Lock.Issues[2].BeginDate, firstBegin);
    EXPECT_EQ(test::Query(Db(), "select count(*) from T_Room"), "1");
}

TEST_F(HandlerWithRecordsTest, FailedFirstCardStoresNoRoomTime) {
    G.Option.UseNativeDoorlockDb = true;
    Lock.Succeed = false;
    Handle(Issue("0"));
    EXPECT_EQ(test::Query(Db(), "select count(*) from T_Room"), "0");
}

TEST_F(HandlerWithRecordsTest, IssueRecordIsKeptWhetherOrNotTheCardWasWritten) {
    G.Option.SaveDoorlockRecord = true;
    G.Option.DelayMinutes = 30;
    Handle(Issue("0"));
    Doorlock = &BaseLock;
    Handle(Issue("1"));
    EXPECT_EQ(test::Query(Db(),
                          "select RegisterId || ',' || CardNo || ',' || RoomNo || ',' || "
                          "CardType || ',' || IsCopy || ',' || GuestName from "
                          "T_IssueCardRecord order by ID"),
              "R1,1234,0102101,1,0,Zhang|R1,0,0102101,1,1,Zhang");
    const double checkIn = IncMinute(EncodeDateTime({2008, 5, 1, 14, 0, 0, 0}), -30);
    EXPECT_NEAR(std::stod(test::Query(Db(), "select CheckInTime from T_IssueCardRecord limit 1")),
                checkIn, 1e-9);
    EXPECT_NEAR(
        std::stod(test::Query(Db(), "select LastCheckInTime from T_IssueCardRecord limit 1")),
        checkIn, 1e-9);
}

TEST_F(HandlerWithRecordsTest, WithoutARecordManagerIssuesGoOn) {
    SetRecordManager(nullptr);
    G.Option.UseNativeDoorlockDb = true;
    G.Option.SaveDoorlockRecord = true;
    EXPECT_EQ(Handle(Issue("1")), Reply("200", "发卡成功", "1234") + '\0');
}

}  // namespace
}  // namespace ostra
