// The listener under many connections that come and go at once: when the
// clients have gone, their threads and descriptors are gone too, without
// waiting for some later connection to come along.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <vector>

#include "platform/net/TcpListener.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FrontDesk.h"

namespace ostra::loadtest {
namespace {

using namespace ostra::testsupport;

std::size_t OwnDescriptors() {
    std::size_t N = 0;
    for ([[maybe_unused]] const auto& E : std::filesystem::directory_iterator("/proc/self/fd")) ++N;
    return N;
}

TEST(ListenerRelease, EndedConnectionsLeaveNoDescriptorBehind) {
    RaiseFdLimit(4096);
    std::atomic<int> Served{0};
    TcpListener Listener;
    Listener.SetPort(0);
    Listener.SetOnExecute([&](TcpConnection& C) {
        const std::string Request = C.ReadRequest();
        C.WriteReply(Request);
        ++Served;
    });
    Listener.Start();
    const std::size_t Base = OwnDescriptors();

    // Some served and held open, some idle, then all gone at once.
    constexpr int Clients = 300;
    std::vector<int> Fds;
    for (int I = 0; I < Clients; ++I) {
        const int Fd = Connect(Listener.BoundPort());
        ASSERT_GE(Fd, 0);
        SetReceiveLimit(Fd, 60);
        if (I % 2 == 0) {
            std::string Pending;
            ASSERT_TRUE(SendAll(Fd, std::string("ping", 5)));
            ASSERT_EQ(ReadReply(Fd, Pending), "ping");
        }
        Fds.push_back(Fd);
    }
    EXPECT_TRUE(Eventually([&] { return Listener.ConnectionCount() == Clients; }));
    for (int Fd : Fds) ::close(Fd);

    EXPECT_TRUE(Eventually([&] { return Listener.ConnectionCount() == 0; }));
    EXPECT_TRUE(Eventually([&] { return OwnDescriptors() <= Base; }))
        << OwnDescriptors() << " descriptors open, " << Base << " before";
    EXPECT_EQ(Served.load(), Clients / 2);
    Listener.Stop();
}

}  // namespace
}  // namespace ostra::loadtest
