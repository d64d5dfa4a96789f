// The plug-in's listener step on a real listener over loopback: one request
// per connection, many connections at once. No Qt here.
#include <gtest/gtest.h>

#include <thread>

#include "plugin/MessageHandlerUnit.h"
#include "tests/plugin/PluginTestSupport.h"

namespace ostra::kestrane::testing {
namespace {

class KestraneListener : public ::testing::Test {
  protected:
    void SetUp() override {
        Listener.SetPort(0);
        Listener.SetBacklog(10);
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
    EXPECT_EQ(ExchangeToEnd(Listener.BoundPort(), two).Reply, DoorResponse("200", "注销卡成功", 0));
    EXPECT_EQ(Lock.Calls(), std::vector<std::string>{"EraseCard"});
}

TEST_F(KestraneListener, AClientThatSendsNothingLeavesNoTrace) {
    EXPECT_EQ(ExchangeToEnd(Listener.BoundPort(), "", true).Reply, "");
    EXPECT_EQ(ExchangeToEnd(Listener.BoundPort(), "<R type=\"ReadCard\"/>", true).Reply,
              "");  // no 0x00
    EXPECT_EQ(Globals.LogText(), "");
    EXPECT_EQ(
        ExchangeToEnd(Listener.BoundPort(), std::string("<R type=\"ReadCard\"/>") + '\0').Reply,
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
            replies[i] = ExchangeToEnd(Listener.BoundPort(), IssueRequest(children) + '\0').Reply;
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
