// The plug-in's request handler over a real connection (a socket pair), with
// a recording lock, the library's settings and a real log file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "plugin/MessageHandlerUnit.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/plugin/PluginTestSupport.h"

namespace ostra::kestrane::testing {
namespace {

class KestraneMessageHandler : public ::testing::Test {
  protected:
    // Runs one request through a handler; returns the client's bytes and
    // whether the handler abandoned the request (an error left it).
    std::string Handle(const std::string& Request, bool* Abandoned = nullptr) {
        TSocketPair pair;
        TcpConnection connection(pair.TakeOurs());
        TMessageHandler handler;
        bool abandoned = false;
        try {
            handler.HandleMessage(connection, Request);
        } catch (const std::exception&) {
            abandoned = true;
        }
        connection.Close();
        if (Abandoned) *Abandoned = abandoned;
        return pair.ReceiveAll();
    }

    TRecordingLock Lock;
};

TEST_F(KestraneMessageHandler, IssueCardWritesTheCardAndLogsTwoEntries) {
    TLibraryGlobals globals(&Lock);
    const std::string request = IssueRequest(NineChildren());
    EXPECT_EQ(Handle(request), DoorResponse("200", "发卡成功", 1234));
    ASSERT_EQ(Lock.Calls().size(), 1u);
    EXPECT_EQ(Lock.Calls()[0],
              "WriteCard|R1|00|01|0101|张三|2008-05-01 14:00:00|2008-05-01 14:00:00|"
              "2008-05-03 12:00:00|2008-05-03 12:00:00");
    const std::vector<std::string> expected = {"收到消息: \r\n" + request, "房间(0101)发卡成功"};
    EXPECT_EQ(globals.LogEntries(), expected);
}

TEST_F(KestraneMessageHandler, DelayMinutesMovesBothEndsTheSameWay) {
    {
        TLibraryGlobals globals(&Lock, 30);
        Handle(IssueRequest(NineChildren()));
    }
    {
        TLibraryGlobals globals(&Lock, -15);
        Handle(IssueRequest(NineChildren()));
    }
    ASSERT_EQ(Lock.Calls().size(), 2u);
    EXPECT_EQ(Lock.Calls()[0],
              "WriteCard|R1|00|01|0101|张三|2008-05-01 13:30:00|2008-05-01 13:30:00|"
              "2008-05-03 11:30:00|2008-05-03 11:30:00");
    EXPECT_EQ(Lock.Calls()[1],
              "WriteCard|R1|00|01|0101|张三|2008-05-01 14:15:00|2008-05-01 14:15:00|"
              "2008-05-03 12:15:00|2008-05-03 12:15:00");
}

TEST_F(KestraneMessageHandler, ChildrenTenAndElevenMakeNoDifference) {
    TLibraryGlobals globals(&Lock);
    std::vector<std::string> children = NineChildren();
    children.push_back("1");     // the service's copy flag
    children.push_back("true");  // the service's keep-connection flag
    EXPECT_EQ(Handle(IssueRequest(children)), DoorResponse("200", "发卡成功", 1234));
    ASSERT_EQ(Lock.Calls().size(), 1u);
    EXPECT_EQ(Lock.Calls()[0].rfind("WriteCard|R1|00|01|0101|张三|2008-05-01 14:00:00|", 0), 0u);
}

TEST_F(KestraneMessageHandler, MalformedIssueCardIsAbandonedWithoutTouchingTheLock) {
    TLibraryGlobals globals(&Lock);
    std::vector<std::string> eight = NineChildren();
    eight.pop_back();  // positions 0 to 8 only
    const std::vector<std::string> requests = {
        IssueRequest(eight),
        IssueRequest(NineChildren("05/01/2008")),              // not the user's date form
        IssueRequest(NineChildren("2008-05-01", "25:00:00")),  // no such time
        IssueRequest(NineChildren("2008-02-30")),              // no such day
        "<DoorRequest type=\"IssueCard\"><a>",                 // rejected by the parser
        "no xml at all",
        "",
    };
    for (const std::string& request : requests) {
        bool abandoned = false;
        EXPECT_EQ(Handle(request, &abandoned), "") << request;
        EXPECT_TRUE(abandoned) << request;
    }
    EXPECT_TRUE(Lock.Calls().empty());
    // Only the received-request entries: no result lines.
    for (const std::string& entry : globals.LogEntries())
        EXPECT_EQ(entry.rfind("收到消息: ", 0), 0u) << entry;
}

TEST_F(KestraneMessageHandler, NoLockAnswersFailureWithCardZero) {
    TLibraryGlobals globals(nullptr);
    EXPECT_EQ(Handle(IssueRequest(NineChildren())), DoorResponse("500", "发卡失败", 0));
    EXPECT_EQ(Handle("<DoorRequest type=\"ReadCard\"/>"), DoorResponse("500", "读卡失败", 0));
    EXPECT_EQ(Handle("<DoorRequest type=\"EraseCard\"/>"), DoorResponse("500", "注销卡失败", 0));
    // A malformed IssueCard still fails as malformed, without a reply.
    bool abandoned = false;
    EXPECT_EQ(Handle(IssueRequest({"R1"}), &abandoned), "");
    EXPECT_TRUE(abandoned);
}

TEST_F(KestraneMessageHandler, FailedIssueReportsTheNumberTheLockLeft) {
    TLibraryGlobals globals(&Lock);
    Lock.WriteOk = false;
    Lock.WriteCardNo = 77;
    EXPECT_EQ(Handle(IssueRequest(NineChildren())), DoorResponse("500", "发卡失败", 77));
    EXPECT_EQ(globals.LogEntries().back(), "房间(0101)发卡失败");
}

TEST_F(KestraneMessageHandler, ReadCardRepliesTheNumberOnlyOnSuccess) {
    TLibraryGlobals globals(&Lock);
    EXPECT_EQ(Handle("<DoorRequest type=\"ReadCard\"/>"), DoorResponse("200", "读卡成功", 4321));
    EXPECT_EQ(globals.LogEntries().back(), "读卡成功，卡号为：4321");
    Lock.ReadOk = false;  // the lock still writes 4321 before failing
    EXPECT_EQ(Handle("<DoorRequest type=\"ReadCard\"/>"), DoorResponse("500", "读卡失败", 0));
    EXPECT_EQ(globals.LogEntries().back(), "读卡失败");
}

TEST_F(KestraneMessageHandler, EraseCardTextsHaveNoTrailingBlank) {
    TLibraryGlobals globals(&Lock);
    EXPECT_EQ(Handle("<DoorRequest type=\" EraseCard\t\"/>"), DoorResponse("200", "注销卡成功", 0));
    EXPECT_EQ(globals.LogEntries().back(), "注销卡成功");
    Lock.EraseOk = false;
    EXPECT_EQ(Handle("<DoorRequest type=\"EraseCard\"/>"), DoorResponse("500", "注销卡失败", 0));
    EXPECT_EQ(globals.LogEntries().back(), "注销卡失败");
}

TEST_F(KestraneMessageHandler, UnknownOperationLogsOnceAndSendsNothing) {
    TLibraryGlobals globals(&Lock);
    for (const std::string request :
         {"<DoorRequest type=\"issuecard\"/>", "<DoorRequest/>", "<DoorRequest type=\"\"/>"}) {
        bool abandoned = true;
        EXPECT_EQ(Handle(request, &abandoned), "");
        EXPECT_FALSE(abandoned);
    }
    EXPECT_EQ(globals.LogEntries().size(), 3u);
    EXPECT_TRUE(Lock.Calls().empty());
}

TEST_F(KestraneMessageHandler, AFailedSendIsDroppedSilently) {
    TLibraryGlobals globals(&Lock);
    TSocketPair pair;
    TcpConnection connection(pair.TakeOurs());
    ::shutdown(pair.Client(), SHUT_RDWR);
    connection.Close();  // writing now fails
    TMessageHandler handler;
    EXPECT_NO_THROW(handler.HandleMessage(connection, "<DoorRequest type=\"EraseCard\"/>"));
    EXPECT_EQ(globals.LogEntries().size(), 2u);  // no entry for the failed send
}

TEST_F(KestraneMessageHandler, AnUnwritableLogAbandonsTheRequestBeforeTheLock) {
    TLibraryGlobals globals(&Lock);
    // A directory where the log file should be: every open fails.
    ::mkdir(globals.Log->FileName().c_str(), 0755);
    const std::vector<std::string> requests = {IssueRequest(NineChildren()),
                                               "<DoorRequest type=\"ReadCard\"/>",
                                               "<DoorRequest type=\"EraseCard\"/>"};
    const std::string errFile = globals.Dir.File("stderr");
    {
        ostra::test::StderrToFile err(errFile);
        for (const std::string& request : requests) {
            bool abandoned = false;
            EXPECT_EQ(Handle(request, &abandoned), "");
            EXPECT_TRUE(abandoned);
        }
    }
    EXPECT_TRUE(Lock.Calls().empty());
    // Each lost entry went to standard error instead.
    std::vector<std::string> expected;
    for (const std::string& request : requests) expected.push_back("收到消息: \r\n" + request);
    EXPECT_EQ(ostra::test::LogEntries(errFile), expected);
}

// A log that accepts its first entry and fails the second: the card
// operation is done, but the client gets no reply.
class TFailingSecondEntry final : public LogWriter {
  public:
    TFailingSecondEntry() : LogWriter("", {}, IoErrors::Raise) {}
    void Write(std::string_view) override {
        if (++Entries == 2) throw ELogIoError("disk full");
    }
    int Entries = 0;
};

TEST_F(KestraneMessageHandler, AFailedResultLineLeavesTheCardWrittenButUnanswered) {
    TLibraryGlobals globals(&Lock);
    TFailingSecondEntry failing;
    LogFile = &failing;
    bool abandoned = false;
    EXPECT_EQ(Handle(IssueRequest(NineChildren()), &abandoned), "");
    EXPECT_TRUE(abandoned);
    EXPECT_EQ(Lock.Calls().size(), 1u);
}

}  // namespace
}  // namespace ostra::kestrane::testing
