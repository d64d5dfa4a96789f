// Many threads driving "Pendrix.MervCard" at once, as the service's
// connection threads and card auto-read thread do: from the multithreaded
// apartment (all instances then live in the one host apartment and share its
// state) and from single-threaded apartments of their own.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/com/Com.h"
#include "platform/lycomm/SimEncoder.h"
#include "tests/cardlib/PendrixFixture.h"

namespace ostra::cardlib {
namespace {

using namespace ostra::com;

struct Outcome {
    int32_t open;
    int32_t read;
    std::string cardNo;
    int32_t badWrite;
};

Outcome OneOperation() {
    Outcome o{};
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    o.open =
        VariantToInt32(CallMethod(card.Get(), "openport", {Variant::I4(0), Variant::I4(9600)}));
    int32_t h = o.open;
    std::string room, end;
    o.read = VariantToInt32(CallMethod(
        card.Get(), "ReadCard",
        {Variant::Ref(&h), Variant::Ref(&o.cardNo), Variant::Ref(&room), Variant::Ref(&end)}));
    std::string endText = "19991231", cardNo, rooms = "101", holder = "USER1";
    int32_t one = 1;
    o.badWrite = VariantToInt32(CallMethod(
        card.Get(), "WriteCard",
        {Variant::Ref(&h), Variant::Ref(&endText), Variant::Ref(&cardNo), Variant::Ref(&one),
         Variant::Ref(&one), Variant::Ref(&rooms), Variant::Ref(&holder)}));
    CallMethod(card.Get(), "closeport", {Variant::Ref(&h)});
    return o;
}

TEST(PendrixThreads, ConcurrentOperationsFromBothKindsOfApartment) {
    testing::PendrixInstall install;
    install.WriteSettings("127.0.0.1;PORT=1");
    ASSERT_EQ(install.RegSvr(), 0);
    ASSERT_EQ(lycomm::Attach(1, std::nullopt), "");
    ASSERT_EQ(lycomm::LayBlankCard(1, lycomm::kFactoryPassword), "");
    lycomm::Block guest;
    guest.fill(0xFF);
    guest[0] = 0x1B;
    guest[6] = 0x1A;
    guest[7] = guest[8] = 0;
    ASSERT_EQ(lycomm::WriteCard(1, lycomm::kFactoryPassword, guest), lycomm::kOk);

    constexpr int kThreads = 8, kRounds = 15;
    std::atomic<int> bad{0}, done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ApartmentScope apartment(t % 2 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
            for (int i = 0; i < kRounds; ++i) {
                try {
                    Outcome o = OneOperation();
                    // A read sees the card, or finds the port of the shared
                    // host apartment reset or closed by another instance.
                    bool ok = o.open == 1 && o.badWrite == -852 &&
                              ((o.read == 0 && (o.cardNo == "00000026" || o.cardNo.empty())) ||
                               o.read == -128);
                    if (!ok) ++bad;
                } catch (const ComError&) {
                    ++bad;
                }
                ++done;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(done, kThreads * kRounds);
}

}  // namespace
}  // namespace ostra::cardlib
