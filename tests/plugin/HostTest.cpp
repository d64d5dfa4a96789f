// The library as a host program sees it: KestraneHost loads libKestrane.so,
// calls ShowMainAppWin with its Qt application and its lock, and the tests
// talk to the library's listener over loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/plugin/PluginTestSupport.h"

namespace ostra::kestrane::testing {
namespace {

const std::string Title = "澄枫Zelt门锁接口";

class KestraneHost : public ::testing::Test {
  protected:
    // PortNo 0 by default: the listener takes a port the system hands it,
    // and Show reads which. A port picked beforehand and bound only once the
    // host has started could meanwhile go to another process.
    void WriteOptions(int DelayMinutes = 0, uint16_t PortNo = 0) {
        WriteFile(Dir.File("Option.ini"), "[SysOptions]\r\nPortNo=" + std::to_string(PortNo) +
                                              "\r\nDelayMinutes=" + std::to_string(DelayMinutes) +
                                              "\r\n");
    }

    // Loads the library and opens its window; true once the listener is on.
    bool LoadAndShow(THostProcess& Host, const std::string& Lock = "lock") {
        Host.Send("load");
        if (Host.WaitFor("load") != "loaded") return false;
        return Show(Host, Lock);
    }
    bool Show(THostProcess& Host, const std::string& Lock = "lock") {
        Host.Send("show " + Lock);
        // "ping" is answered inside the window's modal loop, after its
        // creation has started the listener.
        if (Host.WaitFor("showing") != "showing" || !Host.Sync()) return false;
        const std::vector<uint16_t> ports = Host.ListeningPorts();
        if (ports.size() != 1) return false;
        Port = ports[0];
        return true;
    }
    bool Close(THostProcess& Host) {
        Host.Send("close movrel");
        return Host.WaitFor("returned") == "returned";
    }

    std::string Send(const std::string& Request) {
        return ExchangeToEnd(Port, Request + '\0').Reply;
    }

    TTempDir Dir;
    uint16_t Port = 0;
};

TEST_F(KestraneHost, NilLockFailsThenTheFirstLockIsKeptAndTheTitleStays) {
    WriteOptions();
    THostProcess host(Dir.Dir(), {});
    ASSERT_TRUE(LoadAndShow(host, "nil"));
    EXPECT_EQ(Send(IssueRequest(NineChildren())), DoorResponse("500", "发卡失败", 0));
    ASSERT_TRUE(Close(host));

    host.Send("title");
    EXPECT_EQ(host.WaitFor("title"), "title " + Title);

    ASSERT_TRUE(Show(host, "lock"));
    EXPECT_EQ(Send(IssueRequest(NineChildren())), DoorResponse("200", "发卡成功", 1234));
    EXPECT_EQ(host.WaitFor("lock WriteCard").substr(0, 15), "lock WriteCard|");
    ASSERT_TRUE(Close(host));

    ASSERT_TRUE(Show(host, "nil"));  // keeps the lock of the call before
    EXPECT_EQ(Send("<DoorRequest type=\"ReadCard\"/>"), DoorResponse("200", "读卡成功", 4321));
    EXPECT_EQ(host.WaitFor("lock ReadCard"), "lock ReadCard");
    ASSERT_TRUE(Close(host));
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(KestraneHost, ServesOneRequestPerConnectionAndReadsOnlyNineChildren) {
    WriteOptions();
    THostProcess host(Dir.Dir(), {});
    ASSERT_TRUE(LoadAndShow(host));

    const std::string two =
        std::string("<R type=\"EraseCard\"/>") + '\0' + "<R type=\"ReadCard\"/>";
    EXPECT_EQ(Send(two), DoorResponse("200", "注销卡成功", 0));

    std::vector<std::string> twelve = NineChildren();
    twelve.push_back("1");
    twelve.push_back("1");
    EXPECT_EQ(Send(IssueRequest(twelve)), DoorResponse("200", "发卡成功", 1234));

    std::vector<std::string> nine = NineChildren();
    nine.pop_back();  // positions 0 to 8
    EXPECT_EQ(Send(IssueRequest(nine)), "");
    ASSERT_TRUE(host.Sync());
    ASSERT_TRUE(Close(host));
    EXPECT_EQ(host.Finish(), 0);

    std::vector<std::string> calls;
    for (const std::string& line : host.AllLines())
        if (line.rfind("lock ", 0) == 0) calls.push_back(line);
    ASSERT_EQ(calls.size(), 2u);  // the ReadCard after the 0x00 was never read
    EXPECT_EQ(calls[0], "lock EraseCard");
    EXPECT_EQ(calls[1],
              "lock WriteCard|R1|00|01|0101|张三|2008-05-01 14:00:00|2008-05-01 14:00:00|"
              "2008-05-03 12:00:00|2008-05-03 12:00:00");

    // The log beside the host's executable, named by the day of loading.
    const std::string log = ReadFile(Dir.File(FormatDateTime("yyyymmdd", Now()) + ".LOG"));
    EXPECT_NE(log.find("收到消息: \r\n<R type=\"EraseCard\"/>\r\n"), std::string::npos);
    EXPECT_NE(log.find(" 房间(0101)发卡成功\r\n"), std::string::npos);
    EXPECT_EQ(log.find("完成一次操作"), std::string::npos);
}

TEST_F(KestraneHost, DelayMinutesIsReadAtLoadAndMovesBothEnds) {
    WriteOptions(30);
    THostProcess host(Dir.Dir(), {});
    ASSERT_TRUE(LoadAndShow(host));
    EXPECT_EQ(Send(IssueRequest(NineChildren())), DoorResponse("200", "发卡成功", 1234));
    EXPECT_EQ(host.WaitFor("lock WriteCard"),
              "lock WriteCard|R1|00|01|0101|张三|2008-05-01 13:30:00|2008-05-01 13:30:00|"
              "2008-05-03 11:30:00|2008-05-03 11:30:00");
    ASSERT_TRUE(Close(host));
    host.Send("unload");
    ASSERT_EQ(host.WaitFor("unloaded"), "unloaded yes");

    WriteOptions(-15);
    ASSERT_TRUE(LoadAndShow(host));
    EXPECT_EQ(Send(IssueRequest(NineChildren())), DoorResponse("200", "发卡成功", 1234));
    EXPECT_EQ(host.WaitFor("lock WriteCard"),
              "lock WriteCard|R1|00|01|0101|张三|2008-05-01 14:15:00|2008-05-01 14:15:00|"
              "2008-05-03 12:15:00|2008-05-03 12:15:00");
    ASSERT_TRUE(Close(host));
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(KestraneHost, DatesReadInALocaleWhoseCharacterSetIsNotUtf8) {
    WriteOptions();
    THostProcess host(Dir.Dir(), {}, "zh_CN.GB18030");
    ASSERT_TRUE(LoadAndShow(host));
    EXPECT_EQ(Send(IssueRequest(NineChildren("2008年05月01日", "14时00分00秒", "2008年05月03日",
                                             "12时00分00秒"))),
              DoorResponse("200", "发卡成功", 1234));
    EXPECT_EQ(host.WaitFor("lock WriteCard"),
              "lock WriteCard|R1|00|01|0101|张三|2008-05-01 14:00:00|2008-05-01 14:00:00|"
              "2008-05-03 12:00:00|2008-05-03 12:00:00");
    ASSERT_TRUE(Close(host));
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(KestraneHost, AnUnwritableLogLeavesEveryRequestUnansweredAndTheLockUntouched) {
    WriteOptions();
    // Directories where the log files of today and tomorrow would go.
    const TDateTime now = Now();
    ::mkdir(Dir.File(FormatDateTime("yyyymmdd", now) + ".LOG").c_str(), 0755);
    ::mkdir(Dir.File(FormatDateTime("yyyymmdd", now + 1) + ".LOG").c_str(), 0755);
    THostProcess host(Dir.Dir(), {});
    ASSERT_TRUE(LoadAndShow(host));
    EXPECT_EQ(Send(IssueRequest(NineChildren())), "");
    EXPECT_EQ(Send("<DoorRequest type=\"ReadCard\"/>"), "");
    EXPECT_EQ(Send("<DoorRequest type=\"EraseCard\"/>"), "");
    ASSERT_TRUE(host.Sync());
    ASSERT_TRUE(Close(host));
    EXPECT_EQ(host.Finish(), 0);
    for (const std::string& line : host.AllLines()) EXPECT_NE(line.rfind("lock ", 0), 0u) << line;
}

TEST_F(KestraneHost, AWrongPasswordKeepsTheWindowAndTheListener) {
    WriteOptions();
    THostProcess host(Dir.Dir(), {});
    ASSERT_TRUE(LoadAndShow(host));
    host.Send("close wrong -");  // a wrong password, then the prompt cancelled
    EXPECT_EQ(host.WaitFor("password"), "password wrong");
    EXPECT_EQ(host.WaitFor("msgbox"), "msgbox 密码错误 ！");
    EXPECT_EQ(host.WaitFor("password"), "password -");
    ASSERT_TRUE(host.Sync());
    EXPECT_EQ(Send("<DoorRequest type=\"EraseCard\"/>"), DoorResponse("200", "注销卡成功", 0));
    for (const std::string& line : host.AllLines()) EXPECT_NE(line, "returned");
    ASSERT_TRUE(Close(host));
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(KestraneHost, UnloadingLeavesTheHostsApplicationAndNoListener) {
    WriteOptions();
    THostProcess host(Dir.Dir(), {});
    ASSERT_TRUE(LoadAndShow(host));
    ASSERT_TRUE(Close(host));
    EXPECT_TRUE(host.ListeningPorts().empty());
    host.Send("unload");
    EXPECT_EQ(host.WaitFor("unloaded"), "unloaded yes");
    host.Send("app");
    EXPECT_EQ(host.WaitFor("app"), "app same");
    host.Send("title");
    EXPECT_EQ(host.WaitFor("title"), "title " + Title);
    EXPECT_TRUE(host.Sync());  // the host's event loop still runs
    EXPECT_TRUE(host.ListeningPorts().empty());
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(KestraneHost, APortInUseIsReportedAndTheWindowStillOpens) {
    // The port is held by a listener of our own.
    TBusyPort busy;
    ASSERT_TRUE(busy.Listening);
    WriteOptions(0, busy.Port);
    THostProcess host(Dir.Dir(), {});
    host.Send("load");
    ASSERT_EQ(host.WaitFor("load"), "loaded");
    host.Send("show lock");
    EXPECT_NE(host.WaitFor("msgbox "), "");
    ASSERT_TRUE(host.Sync());
    ASSERT_TRUE(Close(host));
    EXPECT_EQ(host.Finish(), 0);
}

TEST_F(KestraneHost, AConnectionStuckInTheLockDoesNotHoldTheCallOrCrashTheHost) {
    WriteOptions();
    THostProcess host(Dir.Dir(), {"--block-write"});
    ASSERT_TRUE(LoadAndShow(host));
    std::string reply = "<none>";
    std::thread client([&] { reply = Send(IssueRequest(NineChildren())); });
    ASSERT_NE(host.WaitFor("lock WriteCard|"), "");
    host.Send("close movrel");
    EXPECT_EQ(host.WaitFor("msgbox"), "msgbox Terminate Thread Timeout");
    EXPECT_EQ(host.WaitFor("returned"), "returned");
    host.Send("release");
    EXPECT_EQ(host.WaitFor("lock WriteCard released"), "lock WriteCard released");
    // The stop ended no request that was being handled: once the lock
    // returns, its reply goes out.
    client.join();
    EXPECT_EQ(reply, DoorResponse("200", "发卡成功", 1234));
    // The thread still ran the library's code, so the library stays mapped.
    host.Send("unload");
    EXPECT_EQ(host.WaitFor("unloaded"), "unloaded no");
    EXPECT_EQ(host.Finish(), 0);
}

}  // namespace
}  // namespace ostra::kestrane::testing
