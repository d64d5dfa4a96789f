// The gate that shutdown closes before it frees what requests use.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "service/ui/RequestGate.h"

namespace ostra {
namespace {

TEST(RequestGate, CloseWaitsForEveryPassAndRefusesLaterOnes) {
    TRequestGate gate;
    std::atomic<bool> release{false};
    std::atomic<int> admitted{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            TRequestGate::Pass pass(gate);
            if (pass.Admitted()) ++admitted;
            while (!release) std::this_thread::yield();
        });
    while (admitted < 8) std::this_thread::yield();

    EXPECT_FALSE(gate.CloseAndWait(std::chrono::milliseconds(0)));
    {
        TRequestGate::Pass late(gate);
        EXPECT_FALSE(late.Admitted());
    }
    EXPECT_EQ(gate.Running(), 8u);
    release = true;
    EXPECT_TRUE(gate.CloseAndWait(std::chrono::minutes(1)));
    EXPECT_EQ(gate.Running(), 0u);
    for (auto& t : threads) t.join();

    gate.Reopen();
    TRequestGate::Pass again(gate);
    EXPECT_TRUE(again.Admitted());
}

}  // namespace
}  // namespace ostra
