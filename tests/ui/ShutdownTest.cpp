// Shutdown: a request that outlives the listener's stop keeps the objects it
// uses alive until it has finished, and is answered (run under
// AddressSanitizer).
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/core/InterfaceKind.h"
#include "service/ui/MainFormUnit.h"
#include "service/ui/RequestGate.h"
#include "tests/support/DoorRequests.h"
#include "tests/ui/UiTestSupport.h"

namespace ostra::test {
namespace {

// A lock whose ReadCard waits until the test lets it go.
class TBlockingLock : public TBaseDoorlock {
  public:
    bool ReadCard(int64_t& CardNo) override {
        std::unique_lock<std::mutex> lock(Mutex);
        Entered = true;
        Changed.notify_all();
        Changed.wait(lock, [this] { return Released; });
        CardNo = 77;
        return true;
    }
    void WaitEntered() {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [this] { return Entered; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(Mutex);
        Released = true;
        Changed.notify_all();
    }

  private:
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Entered = false;
    bool Released = false;
};

TEST(Shutdown, ARequestThatOutlivesTheListenerIsWaitedForBeforeTheLockIsFreed) {
    App();
    TTempSite site;
    TRecordedBoxes boxes;
    site.Option().DoorlockPortNo = 0;
    InterfaceKind.store(KindDoorlock);
    RequestGate().Reopen();
    auto lock = std::make_unique<TBlockingLock>();
    TBaseDoorlock* saved = Doorlock.exchange(lock.get());

    auto form = std::make_unique<TMainForm>();
    const uint16_t port = form->ListenerPort();
    std::optional<std::string> reply = "unset";
    std::thread client([&] { reply = Exchange(port, "<r type=\"ReadCard\"/>"); });
    lock->WaitEntered();

    form.reset();  // the listener gives up waiting for the request and says so
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(RequestGate().Running(), 1u);
    EXPECT_FALSE(RequestGate().CloseAndWait(std::chrono::milliseconds(0)));

    lock->Release();
    EXPECT_TRUE(RequestGate().CloseAndWait(std::chrono::minutes(1)));
    lock.reset();  // nothing touches it any more
    Doorlock.store(saved);
    client.join();
    // The stop ended no request that was being handled: it was answered.
    EXPECT_EQ(reply, testsupport::DoorReply("200", "读卡成功", 77));
    RequestGate().Reopen();
}

}  // namespace
}  // namespace ostra::test
