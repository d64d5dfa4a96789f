// The listener over real loopback sockets, serving the door-lock handler the
// way the service's kind 1 does.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <condition_variable>
#include <thread>
#include <vector>

#include "platform/net/TcpClient.h"
#include "service/core/DoorlockMessageHandlerUnit.h"
#include "tests/core/CoreTestSupport.h"

namespace ostra {
namespace {

using test::ServiceGlobals;
using test::TestLock;
using test::TFrontDeskClient;

std::string Reply(const std::string& Code, const std::string& Message, const std::string& CardNo) {
    return "<DoorResponse><RequestID></RequestID><ResultCode>" + Code +
           "</ResultCode><ResultMessage>" + Message + "</ResultMessage><CardNo>" + CardNo +
           "</CardNo></DoorResponse>" + std::string(1, '\0');
}

std::string Issue(const std::string& Keep = "", const std::string& Guest = "张三") {
    return "<DoorRequest type=\"IssueCard\"><RequestID>1</RequestID><RegisterId>R1</RegisterId>"
           "<BuildingCode>01</BuildingCode><FloorCode>02</FloorCode><RoomNo>101</RoomNo>"
           "<GuestName>" +
           Guest +
           "</GuestName><CheckInDate>2008-05-01</CheckInDate>"
           "<CheckInTime>14:00:00</CheckInTime><CheckOutDate>2008-05-03</CheckOutDate>"
           "<CheckOutTime>12:00:00</CheckOutTime><IsCopy>0</IsCopy>" +
           (Keep.empty() ? "" : "<Keep>" + Keep + "</Keep>") + "</DoorRequest>";
}

const std::string ReadCard = "<DoorRequest type=\"ReadCard\"></DoorRequest>";

// A ReadCard request padded with blanks to exactly Size bytes.
std::string ReadCardOfSize(size_t Size) {
    const std::string head = "<DoorRequest type=\"ReadCard\">";
    const std::string tail = "</DoorRequest>";
    return head + std::string(Size - head.size() - tail.size(), ' ') + tail;
}

class ListenerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Listener.SetPort(0);
        Listener.SetOnExecute([this](TcpConnection& c) {
            struct Count {
                ListenerTest* T;
                ~Count() {
                    std::lock_guard<std::mutex> l(T->StepMu);
                    ++T->StepsDone;
                    T->StepCv.notify_all();
                }
            } count{this};
            RunRequestStep(
                c, [] { return std::make_unique<TDoorlockMessageHandler>(); },
                [] { return KeepClientConnection.load(); });
        });
        Listener.Start();
        Port = Listener.BoundPort();
    }
    void TearDown() override { Listener.Stop(); }

    // Waits until N runs of the connection step have finished, each having
    // decided whether its connection stays open.
    void WaitSteps(int N) {
        std::unique_lock<std::mutex> l(StepMu);
        StepCv.wait(l, [&] { return StepsDone >= N; });
    }

    std::mutex StepMu;
    std::condition_variable StepCv;
    int StepsDone = 0;
    ServiceGlobals G;
    TestLock Lock;
    TBaseDoorlock BaseLock;
    TcpListener Listener;
    uint16_t Port = 0;
};

TEST_F(ListenerTest, RepliesBytesExactlyAndCloses) {
    Doorlock = &BaseLock;
    {
        TFrontDeskClient c(Port);
        c.Send(Issue() + '\0');
        EXPECT_EQ(c.ReadReply(), Reply("500", "发卡失败", "0"));
        EXPECT_TRUE(c.ReadsEnd());
    }
    Doorlock = &Lock;
    TFrontDeskClient c(Port);
    c.Send(Issue() + '\0');
    EXPECT_EQ(c.ReadReply(), Reply("200", "发卡成功", "1234"));
    EXPECT_TRUE(c.ReadsEnd());
    EXPECT_EQ(Lock.Issues.at(0).GuestName, "张三");
}

TEST_F(ListenerTest, JoinsSplitPackets) {
    Doorlock = &Lock;
    TFrontDeskClient c(Port);
    const std::string r = Issue();
    c.Send(r.substr(0, 10));
    std::this_thread::yield();
    c.Send(r.substr(10, 100));
    c.Send(r.substr(110));
    c.Send(std::string(1, '\0'));
    EXPECT_EQ(c.ReadReply(), Reply("200", "发卡成功", "1234"));
}

TEST_F(ListenerTest, AcceptsExactly16384Bytes) {
    Doorlock = &Lock;
    {
        TFrontDeskClient c(Port);
        c.Send(ReadCardOfSize(16384) + '\0');
        EXPECT_EQ(c.ReadReply(), Reply("200", "读卡成功", "1234"));
        EXPECT_TRUE(c.ReadsEnd());
    }
    {
        TFrontDeskClient c(Port);
        c.Send(ReadCardOfSize(16385) + '\0');
        EXPECT_EQ(c.ReadReply(), "");
        EXPECT_TRUE(c.ClosedByPeer);
    }
    {
        // No 0x00 at all: the read fails as soon as the limit is passed.
        TFrontDeskClient c(Port);
        c.Send(std::string(20000, ' '));
        EXPECT_EQ(c.ReadReply(), "");
        EXPECT_TRUE(c.ClosedByPeer);
    }
    // Only the accepted request reached the handler.
    EXPECT_EQ(G.Entries().size(), 5u);
}

TEST_F(ListenerTest, PipelinedRequestsWithoutKeepGetOneReply) {
    Doorlock = &Lock;
    TFrontDeskClient c(Port);
    c.Send(ReadCard + '\0' + ReadCard + '\0');
    EXPECT_EQ(c.ReadReply(), Reply("200", "读卡成功", "1234"));
    EXPECT_EQ(c.ReadReply(), "");
    EXPECT_TRUE(c.ClosedByPeer);
}

TEST_F(ListenerTest, KeepFlagKeepsEveryConnectionOpen) {
    Doorlock = &Lock;
    TFrontDeskClient c(Port);
    c.Send(Issue("1") + '\0' + ReadCard + '\0');
    EXPECT_EQ(c.ReadReply(), Reply("200", "发卡成功", "1234"));
    EXPECT_EQ(c.ReadReply(), Reply("200", "读卡成功", "1234"));
    WaitSteps(2);

    // Another connection is kept as well while the flag is set ...
    TFrontDeskClient other(Port);
    other.Send(ReadCard + '\0');
    EXPECT_EQ(other.ReadReply(), Reply("200", "读卡成功", "1234"));
    WaitSteps(3);

    // ... until an IssueCard anywhere clears it: each closes after its next reply.
    c.Send(Issue("0") + '\0');
    EXPECT_EQ(c.ReadReply(), Reply("200", "发卡成功", "1234"));
    EXPECT_TRUE(c.ReadsEnd());
    other.Send(ReadCard + '\0');
    EXPECT_EQ(other.ReadReply(), Reply("200", "读卡成功", "1234"));
    EXPECT_TRUE(other.ReadsEnd());
}

TEST_F(ListenerTest, ServesConcurrentClients) {
    Doorlock = &Lock;
    constexpr int Clients = 16;
    std::vector<std::thread> threads;
    std::vector<std::string> replies(Clients);
    for (int i = 0; i < Clients; ++i)
        threads.emplace_back([&, i] {
            TFrontDeskClient c(Port);
            c.Send(Issue() + '\0');
            replies[i] = c.ReadReply();
            c.ReadsEnd();  // wait for the handler's last log line
        });
    for (auto& t : threads) t.join();
    for (const auto& r : replies) EXPECT_EQ(r, Reply("200", "发卡成功", "1234"));
    EXPECT_EQ(Lock.Issues.size(), static_cast<size_t>(Clients));
    // Every entry stands whole: five per request.
    EXPECT_EQ(G.Entries().size(), 5u * Clients);
}

TEST_F(ListenerTest, BadInputEndsOnlyItsOwnConnection) {
    Doorlock = &Lock;
    TFrontDeskClient idle(Port);  // connected, sends nothing, stays waiting
    {
        TFrontDeskClient c(Port);
        c.Send("<DoorRequest type=\"ReadCard\"");
        c.Reset();
    }
    {
        TFrontDeskClient c(Port);
        c.Send(std::string(1, '\0'));  // a lone 0x00: empty text, no root
        EXPECT_EQ(c.ReadReply(), "");
        EXPECT_TRUE(c.ClosedByPeer);
    }
    {
        TFrontDeskClient c(Port);
        c.Send("<a><b></a>" + std::string(1, '\0'));
        EXPECT_EQ(c.ReadReply(), "");
        EXPECT_TRUE(c.ClosedByPeer);
    }
    TFrontDeskClient good(Port);
    good.Send(ReadCard + '\0');
    EXPECT_EQ(good.ReadReply(), Reply("200", "读卡成功", "1234"));
    EXPECT_TRUE(good.ReadsEnd());  // the handler has finished its log lines
    // The reset reached no handler; the empty request and the bad XML logged
    // only their request line.
    const auto entries = G.Entries();
    ASSERT_EQ(entries.size(), 7u) << ::testing::PrintToString(entries);
    EXPECT_EQ(entries[0], "收到消息: \r\n");
    EXPECT_EQ(entries[1], "收到消息: \r\n<a><b></a>");
}

TEST_F(ListenerTest, RequestsThatAreNotUtf8AreHandledLikeAnyOther) {
    // A guest name in GBK: each byte that is not well-formed UTF-8 reaches
    // the handler as U+FFFD, and the request is logged and answered as the
    // same request with a plain name.
    Doorlock = &Lock;
    const std::string fffd = "\xEF\xBF\xBD";
    const std::string decoded = fffd + fffd + fffd + fffd;
    for (const std::string name : {"Wang", "\xD5\xC5\xC8\xFD"}) {  // the second: 张三 in GBK
        TFrontDeskClient c(Port);
        c.Send(Issue("", name) + '\0');
        EXPECT_EQ(c.ReadReply(), Reply("200", "发卡成功", "1234"));
        EXPECT_TRUE(c.ReadsEnd());
    }
    std::vector<std::string> entries = G.Entries();
    ASSERT_EQ(entries.size(), 10u) << ::testing::PrintToString(entries);
    entries[0].replace(entries[0].find("Wang"), 4, decoded);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(entries[5 + i], entries[i]);
    ASSERT_EQ(Lock.Issues.size(), 2u);
    EXPECT_EQ(Lock.Issues[1].GuestName, decoded);

    // Malformed bytes in a part of the request that ReadCard never reads.
    TFrontDeskClient c(Port);
    c.Send("<DoorRequest type=\"ReadCard\">\xFF\xFE</DoorRequest>" + std::string(1, '\0'));
    EXPECT_EQ(c.ReadReply(), Reply("200", "读卡成功", "1234"));
}

TEST(Listener, StopClosesWaitingConnections) {
    TcpListener listener;
    listener.SetOnExecute([](TcpConnection& c) { RunRequestStep(c, [] { return nullptr; }, {}); });
    listener.Start();
    TFrontDeskClient a(listener.BoundPort()), b(listener.BoundPort());
    ASSERT_TRUE(a.Connected());
    ASSERT_TRUE(b.Connected());
    listener.Stop();
    EXPECT_FALSE(listener.Active());
    EXPECT_TRUE(a.ReadsEnd());
    EXPECT_TRUE(b.ReadsEnd());
    // Stopping again does nothing; starting again works.
    listener.Stop();
    listener.Start();
    TFrontDeskClient c(listener.BoundPort());
    EXPECT_TRUE(c.Connected());
}

TEST(Listener, StopReportsThreadsThatDoNotEnd) {
    std::mutex mu;
    std::condition_variable cv;
    bool entered = false, release = false;
    TcpListener listener;
    listener.SetOnExecute([&](TcpConnection& c) {
        std::unique_lock<std::mutex> l(mu);
        entered = true;
        cv.notify_all();
        cv.wait(l, [&] { return release; });
        c.Close();
    });
    listener.Start();
    TFrontDeskClient a(listener.BoundPort());
    {
        std::unique_lock<std::mutex> l(mu);
        cv.wait(l, [&] { return entered; });
    }
    try {
        listener.Stop(std::chrono::milliseconds(300));
        FAIL() << "no time-out";
    } catch (const EStopTimeout& e) {
        EXPECT_STREQ(e.what(), "Terminate Thread Timeout");
    }
    EXPECT_FALSE(listener.Active());
    {
        std::lock_guard<std::mutex> l(mu);
        release = true;
    }
    cv.notify_all();
    // The thread finishes on its own and frees what it holds.
    while (listener.ConnectionCount() != 0) std::this_thread::yield();
}

TEST(Listener, BindFailureLeavesItOff) {
    TcpListener first;
    first.Start();
    TcpListener second;
    second.SetPort(first.BoundPort());
    try {
        second.Start();
        FAIL();
    } catch (const ENetError& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(second.Active());
}

TEST(TcpClientTest, SendsBytesWithoutTerminatorAndCloses) {
    // A plain listening socket stands in for the front-desk client.
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    socklen_t len = sizeof a;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);

    TcpClient client;
    // An address, not "localhost": a machine without /etc/hosts has no name
    // for loopback.
    client.Host = "127.0.0.1";
    client.Port = ntohs(a.sin_port);
    client.Connect();
    EXPECT_TRUE(client.Connected());
    const std::string note = "<ZeltRequest><DoorCardNo>26</DoorCardNo></ZeltRequest>";
    client.Send(note);
    client.Disconnect();
    EXPECT_FALSE(client.Connected());

    const int peer = ::accept(server, nullptr, nullptr);
    std::string got;
    char buf[256];
    ssize_t n;
    while ((n = ::recv(peer, buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(got, note);
    ::close(peer);
    ::close(server);

    // Nobody listens there any more: the connect fails with the system's text.
    try {
        client.Connect();
        FAIL();
    } catch (const ENetError& e) {
        EXPECT_NE(std::string(e.what()).find("Connection refused"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_THROW(client.Send("x"), ENetError);
    client.Host = "no-such-host.invalid";
    EXPECT_THROW(client.Connect(), ENetError);
}

TEST(TcpClientTest, AConnectThatIsNeverAnsweredCanBeAbandoned) {
    // A listener that never accepts, its queue filled: further handshakes are
    // left unanswered, as with a front-desk host that has gone away.
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }

    TcpClient client;
    client.Host = "127.0.0.1";
    client.Port = ntohs(a.sin_port);
    int asked = 0;
    EXPECT_THROW(client.Connect([&] { return ++asked >= 2; }), ENetError);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(asked, 2);

    for (int fd : fillers) ::close(fd);
    ::close(server);
}

}  // namespace
}  // namespace ostra
