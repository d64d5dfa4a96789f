// The plug-in's listener step on a real listener over loopback: one request
// per connection, many connections at once. No Qt here.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <thread>

#include "plugin/MessageHandlerUnit.h"
#include "tests/plugin/PluginTestSupport.h"

namespace ostra::kestrane::testing {
namespace {

// Connects to the listener, sends Bytes, and returns everything received
// until the server closes the connection.
std::string Exchange(uint16_t Port, const std::string& Bytes, bool CloseAfterSend = false) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(Port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return "<no connection>";
    }
    if (!Bytes.empty()) ::send(fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
    if (CloseAfterSend) ::shutdown(fd, SHUT_WR);
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        all.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return all;
}

class KestraneListener : public ::testing::Test {
  protected:
    void SetUp() override {
        Listener.SetPort(0);
        Listener.SetBacklog(10);
        Listener.SetReuseAddress(true);
        Listener.SetOnExecute([](TcpConnection& c) { ServeConnection(c, nullptr); });
        Listener.Start();
    }
    void TearDown() override { Listener.Stop(); }

    TRecordingLock Lock;
    TLibraryGlobals Globals{&Lock};
    TcpListener Listener;
};

TEST_F(KestraneListener, TwoRequestsOnOneConnectionGetOneReply) {
    const std::string two =
        std::string("<R type=\"EraseCard\"/>") + '\0' + "<R type=\"ReadCard\"/>" + '\0';
    EXPECT_EQ(Exchange(Listener.BoundPort(), two), DoorResponse("200", "注销卡成功", 0));
    EXPECT_EQ(Lock.Calls(), std::vector<std::string>{"EraseCard"});
}

TEST_F(KestraneListener, AClientThatSendsNothingLeavesNoTrace) {
    EXPECT_EQ(Exchange(Listener.BoundPort(), "", true), "");
    EXPECT_EQ(Exchange(Listener.BoundPort(), "<R type=\"ReadCard\"/>", true), "");  // no 0x00
    EXPECT_EQ(Globals.LogText(), "");
    EXPECT_EQ(Exchange(Listener.BoundPort(), std::string("<R type=\"ReadCard\"/>") + '\0'),
              DoorResponse("200", "读卡成功", 4321));
}

TEST_F(KestraneListener, ManyClientsAtOnceEachGetTheirOwnReply) {
    constexpr int Clients = 16;
    std::vector<std::string> replies(Clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < Clients; ++i) {
        threads.emplace_back([&, i] {
            std::vector<std::string> children = NineChildren();
            children[3] = "room" + std::to_string(i);
            replies[i] = Exchange(Listener.BoundPort(), IssueRequest(children) + '\0');
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < Clients; ++i)
        EXPECT_EQ(replies[i], DoorResponse("200", "发卡成功", 1234)) << i;
    EXPECT_EQ(Lock.Calls().size(), static_cast<size_t>(Clients));
    // Every entry stands whole: one received and one result line per client.
    const std::vector<std::string> entries = Globals.LogEntries();
    ASSERT_EQ(entries.size(), static_cast<size_t>(2 * Clients));
    int results = 0;
    for (const std::string& e : entries)
        if (e.rfind("房间(room", 0) == 0 && e.find(")发卡成功") != std::string::npos) ++results;
    EXPECT_EQ(results, Clients);
}

}  // namespace
}  // namespace ostra::kestrane::testing
