// Stopping the listener while a request is being handled: connections that
// wait for a request end at once, the request being handled still writes its
// reply, and nothing more is read from its connection.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/net/TcpListener.h"
#include "tests/support/FrontDesk.h"

namespace ostra {
namespace {

using testsupport::TFrontDeskClient;

TEST(ListenerStop, ARequestBeingHandledIsAnsweredWhileWaitingConnectionsEnd) {
    std::mutex mu;
    std::condition_variable cv;
    int handled = 0;
    bool release = false;
    TcpListener listener;
    // Reads, waits to be let go, replies, and leaves the connection open:
    // its thread would read the next request if the stop let it.
    listener.SetOnExecute([&](TcpConnection& c) {
        const std::string request = c.ReadRequest();
        std::unique_lock<std::mutex> l(mu);
        ++handled;
        cv.notify_all();
        cv.wait(l, [&] { return release; });
        l.unlock();
        c.WriteReply("done " + request);
    });
    listener.Start();
    TFrontDeskClient busy(listener.BoundPort());
    ASSERT_TRUE(busy.Connected());
    busy.Send(std::string("one\0two\0", 8));  // two requests back to back
    {
        std::unique_lock<std::mutex> l(mu);
        cv.wait(l, [&] { return handled == 1; });
    }
    // Taken in after the busy one: the stop ends the waiting of the
    // connections in the order they came, so once the idle one has seen its
    // end, the busy one's reading is ended too, and only then is it let go.
    TFrontDeskClient idle(listener.BoundPort());
    ASSERT_TRUE(idle.Connected());
    while (listener.ConnectionCount() != 2) std::this_thread::yield();

    std::thread stopper([&] { listener.Stop(std::chrono::minutes(1)); });
    EXPECT_TRUE(idle.ReadsEnd());  // ended while the other is still handled
    {
        std::lock_guard<std::mutex> l(mu);
        release = true;
    }
    cv.notify_all();
    stopper.join();  // no time-out: the handled request ended in time
    EXPECT_FALSE(listener.Active());
    EXPECT_EQ(busy.ReadReply(), std::string("done one\0", 9));
    EXPECT_TRUE(busy.ReadsEnd());  // "two" was never read
    std::lock_guard<std::mutex> l(mu);
    EXPECT_EQ(handled, 1);
}

}  // namespace
}  // namespace ostra
