// Creation by ProgID of the probe server after registering it with the
// tool, calls into the host apartment from many threads, exception records
// and by-reference texts through Invoke, and unloading of the library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <set>
#include <thread>
#include <vector>

#include "platform/com/Com.h"
#include "tests/com/ComTestSupport.h"

using namespace ostra::com;
using ostra::com::test::ProbePath;
using ostra::com::test::TempRegistry;

namespace {

constexpr const char* kProgId = "OstraTest.Probe";

template <class F>
void OnThread(F fn) {
    std::thread t(fn);
    t.join();
}

bool ProbeLoaded() {
    void* h = dlopen(ProbePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return false;
    dlclose(h);
    return true;
}

class Creation : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ostra::com::test::RunRegSvr({"-s", ProbePath()}, reg_.dir()), 0);
    }
    TempRegistry reg_;
};

// Tests that read the probe's own counters keep it loaded while they run.
class CreationWithProbe : public Creation {
  protected:
    void SetUp() override {
        Creation::SetUp();
        handle_ = dlopen(ProbePath().c_str(), RTLD_NOW);
        ASSERT_NE(handle_, nullptr);
        statesDestroyed_ = reinterpret_cast<int (*)()>(dlsym(handle_, "ProbeStatesDestroyed"));
        canUnload_ = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle_, "DllCanUnloadNow"));
        ASSERT_NE(statesDestroyed_, nullptr);
        ASSERT_NE(canUnload_, nullptr);
    }
    void TearDown() override {
        if (handle_) dlclose(handle_);
    }
    void* handle_ = nullptr;
    int (*statesDestroyed_)() = nullptr;
    DllCanUnloadNowFn canUnload_ = nullptr;
};

// A stand-in outer object for the aggregation check.
class Counted final : public IUnknown {
  public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
};

std::int32_t CallI4(IDispatch* obj, const char* name) {
    return VariantToInt32(CallMethod(obj, name, {}));
}

TEST_F(Creation, FromASingleThreadedApartmentTheObjectLivesThere) {
    OnThread([] {
        ApartmentScope sta(COINIT_APARTMENTTHREADED);
        ComPtr<IDispatch> obj = CreateObject(kProgId);
        EXPECT_EQ(static_cast<ApartmentId>(CallI4(obj.Get(), "ApartmentId")), CurrentApartmentId());
    });
}

TEST_F(Creation, FromTheMultithreadedApartmentTheObjectLivesInTheHost) {
    OnThread([] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        ComPtr<IDispatch> a = CreateObject(kProgId);
        ComPtr<IDispatch> b = CreateObject(kProgId);
        ApartmentId host = static_cast<ApartmentId>(CallI4(a.Get(), "ApartmentId"));
        EXPECT_NE(host, 0u);
        EXPECT_NE(host, CurrentApartmentId());
        EXPECT_EQ(static_cast<ApartmentId>(CallI4(b.Get(), "apartmentid")), host);
        // The proxy answers for IUnknown and IDispatch only.
        ComPtr<IUnknown> unk;
        EXPECT_EQ(a.As(&unk), S_OK);
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(a.As(&factory), E_NOINTERFACE);
    });
}

TEST_F(Creation, CallsFromManyThreadsRunOneAtATimeOnOneThread) {
    constexpr int kThreads = 8, kCalls = 40;
    std::latch allIn(kThreads);
    std::vector<ApartmentId> homes(kThreads);
    std::vector<std::int32_t> overlapsBefore(kThreads), overlapsAfter(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            ApartmentScope mta(COINIT_MULTITHREADED);
            ComPtr<IDispatch> own = CreateObject(kProgId);
            overlapsBefore[i] = CallI4(own.Get(), "Enter");
            allIn.arrive_and_wait();
            for (int c = 0; c < kCalls; ++c) overlapsAfter[i] = CallI4(own.Get(), "Enter");
            homes[i] = static_cast<ApartmentId>(CallI4(own.Get(), "ApartmentId"));
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(overlapsAfter[i], overlapsBefore[i]) << i;
    EXPECT_EQ(std::set<ApartmentId>(homes.begin(), homes.end()).size(), 1u);
}

TEST_F(Creation, OneObjectSharedByManyThreads) {
    OnThread([] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        ComPtr<IDispatch> shared = CreateObject(kProgId);
        std::int32_t before = CallI4(shared.Get(), "Enter");
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (int i = 0; i < 6; ++i)
            threads.emplace_back([&] {
                ApartmentScope inner(COINIT_MULTITHREADED);
                ComPtr<IDispatch> mine = shared;  // AddRef/Release from this thread
                for (int c = 0; c < 30; ++c) {
                    std::string text = "a";
                    CallMethod(mine.Get(), "Append", {Variant::Ref(&text), Variant::Str("b")});
                    if (text != "ab") ++failures;
                    CallI4(mine.Get(), "Enter");
                }
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(CallI4(shared.Get(), "Enter"), before);
    });
}

TEST_F(Creation, ByReferenceTextsAndResultsThroughTheHost) {
    OnThread([] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        ComPtr<IDispatch> obj = CreateObject(kProgId);
        std::string text = "00000028";
        Variant r = CallMethod(obj.Get(), "APPEND", {Variant::Ref(&text), Variant::Str("-9")});
        EXPECT_EQ(text, "00000028-9");
        EXPECT_EQ(r.vt(), VT_I2);
        EXPECT_EQ(r.i2(), 10);
        std::int32_t a = 2;
        EXPECT_EQ(
            VariantToInt32(CallMethod(obj.Get(), "Add", {Variant::Ref(&a), Variant::Str("40")})),
            42);
        EXPECT_EQ(VariantToInt32(CallMethod(obj.Get(), "Optional", {})), -1);
        EXPECT_EQ(
            VariantToInt32(CallMethod(obj.Get(), "Optional", {Variant::I4(1), Variant::I4(7)})), 7);
        EXPECT_THROW(CallMethod(obj.Get(), "Add", {Variant::I4(70000), Variant::I4(1)}), ComError);
    });
}

TEST_F(Creation, ExceptionRecordsComeBackThroughInvoke) {
    OnThread([] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        ComPtr<IDispatch> obj = CreateObject(kProgId);
        try {
            CallMethod(obj.Get(), "Fail",
                       {Variant::I4(static_cast<std::int32_t>(0x80040E4D)),
                        Variant::Str("Login failed for user 'x'.")});
            ADD_FAILURE() << "no exception";
        } catch (const ComError& e) {
            EXPECT_EQ(static_cast<std::uint32_t>(e.hr()), 0x80040E4Du);
            EXPECT_EQ(e.source(), kProgId);
            EXPECT_STREQ(e.what(), "Login failed for user 'x'.");
        }
        // The raw record, as Invoke hands it over.
        const char* names[] = {"ThrowStd"};
        DISPID id = 0;
        ASSERT_EQ(obj->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        DispParams none;
        Variant result;
        ExcepInfo excep;
        EXPECT_EQ(obj->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &none, &result, &excep, nullptr),
                  DISP_E_EXCEPTION);
        EXPECT_EQ(excep.scode, E_FAIL);
        EXPECT_EQ(excep.source, kProgId);
        EXPECT_EQ(excep.description, "probe failed");
        // The object carries on after a failure.
        EXPECT_NE(CallI4(obj.Get(), "ApartmentId"), 0);
    });
}

TEST_F(Creation, FailuresOfCreationSayWhatWentWrong) {
    OnThread([&] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        try {
            CreateObject("No.Such");
            ADD_FAILURE() << "no exception";
        } catch (const ComError& e) {
            EXPECT_EQ(e.hr(), CO_E_CLASSSTRING);
            EXPECT_STREQ(e.what(), "No.Such: Invalid class string");
        }
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(kProgId, &clsid), S_OK);
        void* out = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IDispatch::kIid, &out),
                  REGDB_E_CLASSNOTREG);
        Counted outer;
        EXPECT_EQ(CoCreateInstance(clsid, &outer, CLSCTX_SERVER, IDispatch::kIid, &out),
                  CLASS_E_NOAGGREGATION);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IClassFactory::kIid, &out),
                  E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);

        const std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
        ASSERT_EQ(RegSetValue(key, "", reg_.dir() + "/gone.so"), S_OK);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IDispatch::kIid, &out),
                  CO_E_DLLNOTFOUND);
        ASSERT_EQ(RegSetValue(key, "", test::BinDir() + "/libostracom.so"), S_OK);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IDispatch::kIid, &out),
                  CO_E_ERRORINDLL);
        ASSERT_EQ(RegDeleteTree(key), S_OK);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IDispatch::kIid, &out),
                  REGDB_E_CLASSNOTREG);
        Guid other = clsid;
        other.data1 ^= 1;
        ASSERT_EQ(
            RegSetValue("CLSID\\" + GuidToString(other) + "\\InprocServer32", "", ProbePath()),
            S_OK);
        EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_SERVER, IDispatch::kIid, &out),
                  CLASS_E_CLASSNOTAVAILABLE);
    });
}

TEST_F(CreationWithProbe, HostStateLivesAsLongAsTheMultithreadedApartment) {
    int destroyedBefore = statesDestroyed_();
    OnThread([&] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        ComPtr<IDispatch> a = CreateObject(kProgId);
        EXPECT_EQ(CallI4(a.Get(), "CountInApartment"), 1);
        ComPtr<IDispatch> b = CreateObject(kProgId);
        EXPECT_EQ(CallI4(b.Get(), "CountInApartment"), 2);  // one state for the host
        a.Reset();
        b.Reset();
        EXPECT_EQ(statesDestroyed_(), destroyedBefore);
    });
    EXPECT_EQ(statesDestroyed_(), destroyedBefore + 1);
    OnThread([&] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        EXPECT_EQ(CallI4(CreateObject(kProgId).Get(), "CountInApartment"), 1);
    });
}

TEST_F(CreationWithProbe, ProxiesOutlivingTheirApartmentAreDisconnected) {
    IDispatch* leaked = nullptr;
    OnThread([&] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        leaked = CreateObject(kProgId).Detach();
        EXPECT_EQ(canUnload_(), S_FALSE);
    });
    // The host released the object when the MTA ended.
    EXPECT_EQ(canUnload_(), S_OK);
    const char* names[] = {"Add"};
    DISPID id = 0;
    EXPECT_EQ(leaked->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), RPC_E_DISCONNECTED);
    leaked->Release();
}

TEST_F(Creation, LibraryStaysWhileInUseAndGoesWhenDone) {
    OnThread([] {
        ApartmentScope mta(COINIT_MULTITHREADED);
        ComPtr<IDispatch> obj = CreateObject(kProgId);
        CoFreeUnusedLibraries();
        EXPECT_TRUE(ProbeLoaded());  // an object is alive
        obj.Reset();
    });
    // The last apartment ended: the library said it may go.
    EXPECT_FALSE(ProbeLoaded());

    OnThread([] {
        ApartmentScope sta(COINIT_APARTMENTTHREADED);
        EXPECT_EQ(CallI4(CreateObject(kProgId).Get(), "CountInApartment"), 1);
        CoFreeUnusedLibraries();
        EXPECT_TRUE(ProbeLoaded());  // its state still lives in this apartment
    });
    EXPECT_FALSE(ProbeLoaded());
}

}  // namespace
