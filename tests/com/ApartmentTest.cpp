// Apartment entry and exit with their results and counting, apartment
// identity across threads, and per-apartment state with its lifetime.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <set>
#include <thread>
#include <vector>

#include "platform/com/Com.h"

using namespace ostra::com;

namespace {

// Runs fn on a fresh thread (so the test's own thread stays outside COM).
template <class F>
void OnThread(F fn) {
    std::thread t(fn);
    t.join();
}

TEST(Apartment, MultithreadedEntryIsCounted) {
    OnThread([] {
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::None);
        EXPECT_EQ(CurrentApartmentId(), 0u);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::MultiThreaded);
        CoUninitialize();
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::MultiThreaded);
        CoUninitialize();  // the refused entry is not counted
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::None);
        CoUninitialize();  // unbalanced: nothing happens
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(Apartment, SingleThreadedEntryIsCounted) {
    OnThread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::SingleThreaded);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::None);
        EXPECT_EQ(CoInitializeEx(nullptr, 0x4), E_INVALIDARG);
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::None);
    });
}

TEST(Apartment, ScopeLeavesOnlyWhatItEntered) {
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        {
            ApartmentScope scope(COINIT_MULTITHREADED);
            EXPECT_EQ(scope.result(), RPC_E_CHANGED_MODE);
        }
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::SingleThreaded);
        CoUninitialize();
        {
            ApartmentScope scope(COINIT_MULTITHREADED);
            EXPECT_EQ(scope.result(), S_OK);
        }
        EXPECT_EQ(CurrentApartmentKind(), ApartmentKind::None);
    });
}

TEST(Apartment, NothingWorksOutsideAnApartment) {
    OnThread([] {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(GUID_NULL, nullptr, CLSCTX_SERVER, IUnknown::kIid, &out),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(CoGetApartmentState(
                      &out, [] { return static_cast<void*>(new int(0)); },
                      [](void* p) { delete static_cast<int*>(p); }, &out),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(CoFindApartmentState(&out), nullptr);
    });
}

TEST(Apartment, EachSingleThreadedApartmentIsItsOwn) {
    std::latch bothIn(2);
    std::atomic<ApartmentId> a{0}, b{0};
    auto sta = [&](std::atomic<ApartmentId>* id) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        *id = CurrentApartmentId();
        bothIn.arrive_and_wait();
        CoUninitialize();
    };
    std::thread t1(sta, &a), t2(sta, &b);
    t1.join();
    t2.join();
    EXPECT_NE(a.load(), 0u);
    EXPECT_NE(b.load(), 0u);
    EXPECT_NE(a.load(), b.load());
}

TEST(Apartment, ThreadsShareTheMultithreadedApartmentWhileItLives) {
    constexpr int kThreads = 8;
    std::latch allIn(kThreads);
    std::vector<ApartmentId> ids(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            ids[i] = CurrentApartmentId();
            allIn.arrive_and_wait();
            CoUninitialize();
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::set<ApartmentId>(ids.begin(), ids.end()).size(), 1u);

    // Once every thread has left, the next entry makes a new MTA.
    ApartmentId next = 0;
    OnThread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        next = CurrentApartmentId();
        CoUninitialize();
    });
    EXPECT_NE(next, ids[0]);
}

// State whose creation and destruction the tests watch.
struct Tracker {
    static inline std::atomic<int> made{0};
    static inline std::atomic<int> destroyed{0};
    static inline std::atomic<std::thread::id> destroyedOn{};
    int value = 0;
    Tracker() { ++made; }
    ~Tracker() {
        destroyedOn = std::this_thread::get_id();
        ++destroyed;
    }
};
ApartmentLocal<Tracker> g_tracker;

class ApartmentState : public ::testing::Test {
  protected:
    void SetUp() override {
        Tracker::made = 0;
        Tracker::destroyed = 0;
    }
};

TEST_F(ApartmentState, LivesAsLongAsItsSingleThreadedApartment) {
    std::thread::id self;
    OnThread([&] {
        self = std::this_thread::get_id();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(g_tracker.Find(), nullptr);
        g_tracker.Get().value = 5;
        EXPECT_EQ(g_tracker.Get().value, 5);
        EXPECT_EQ(g_tracker.Find(), &g_tracker.Get());
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CoUninitialize();
        EXPECT_EQ(Tracker::destroyed, 0);  // the apartment still lives
        CoUninitialize();
        EXPECT_EQ(Tracker::destroyed, 1);
        // A new apartment on the same thread starts afresh.
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(g_tracker.Get().value, 0);
        CoUninitialize();
    });
    EXPECT_EQ(Tracker::made, 2);
    EXPECT_EQ(Tracker::destroyed, 2);
    EXPECT_EQ(Tracker::destroyedOn.load(), self);
}

TEST_F(ApartmentState, SeparateApartmentsNeverShare) {
    std::latch bothSet(2);
    std::atomic<int> seenA{0}, seenB{0};
    auto sta = [&](int mine, std::atomic<int>* seen) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        g_tracker.Get().value = mine;
        bothSet.arrive_and_wait();
        *seen = g_tracker.Get().value;
        CoUninitialize();
    };
    std::thread t1(sta, 1, &seenA), t2(sta, 2, &seenB);
    t1.join();
    t2.join();
    EXPECT_EQ(seenA, 1);
    EXPECT_EQ(seenB, 2);
}

TEST_F(ApartmentState, MultithreadedStateGoesWithTheLastThread) {
    std::latch allIn(2), firstLeft(1);
    std::atomic<Tracker*> first{nullptr}, second{nullptr};
    std::atomic<int> destroyedAfterFirstLeft{-1};
    std::thread::id lastThread;
    std::thread a([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        first = &g_tracker.Get();
        allIn.arrive_and_wait();
        CoUninitialize();
        firstLeft.count_down();
    });
    std::thread b([&] {
        lastThread = std::this_thread::get_id();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        allIn.arrive_and_wait();
        second = &g_tracker.Get();
        firstLeft.wait();
        destroyedAfterFirstLeft = Tracker::destroyed.load();
        CoUninitialize();
    });
    a.join();
    b.join();
    EXPECT_EQ(first.load(), second.load());
    EXPECT_EQ(destroyedAfterFirstLeft, 0);
    EXPECT_EQ(Tracker::destroyed, 1);
    EXPECT_EQ(Tracker::destroyedOn.load(), lastThread);
}

TEST_F(ApartmentState, ManyThreadsAskingAtOnceGetOneValue) {
    constexpr int kThreads = 8;
    std::latch allIn(kThreads), allAsked(kThreads);
    std::vector<Tracker*> got(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            allIn.arrive_and_wait();
            got[i] = &g_tracker.Get();
            allAsked.arrive_and_wait();
            CoUninitialize();
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::set<Tracker*>(got.begin(), got.end()).size(), 1u);
    EXPECT_EQ(Tracker::made.load(), Tracker::destroyed.load());
}

TEST_F(ApartmentState, AThreadThatEndsInsideItsApartmentLeavesIt) {
    OnThread([] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        g_tracker.Get();
    });
    EXPECT_EQ(Tracker::destroyed, 1);
    OnThread([] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        g_tracker.Get();
    });
    EXPECT_EQ(Tracker::destroyed, 2);
}

}  // namespace
