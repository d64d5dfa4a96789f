// libPendrix.so as an in-process automation server: registration, creation
// by ProgID, late-bound calls, per-apartment state, and the whole road of a
// card (issue, read, cancel) from child processes as the service drives it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "cardlib/Pendrix.h"
#include "platform/com/Com.h"
#include "platform/lycomm/SimEncoder.h"
#include "tests/cardlib/PendrixFixture.h"
#include "tests/cardlib/SimulatorFixture.h"

namespace ostra::cardlib {
namespace {

using namespace ostra::com;
using testing::PendrixInstall;

class PendrixCom : public ::testing::Test {
  protected:
    void SetUp() override {
        install.WriteSettings("127.0.0.1;PORT=1");
        ASSERT_EQ(install.RegSvr(), 0);
    }

    PendrixInstall install;
};

TEST_F(PendrixCom, RegistrationWritesAndRemovesTheClass) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID("Pendrix.MervCard", &clsid), S_OK);
    EXPECT_EQ(clsid, pendrix::kClsidMervCard);
    std::string key = "CLSID\\" + GuidToString(clsid);
    std::string value;
    ASSERT_EQ(RegGetValue(key + "\\InprocServer32", "", &value), S_OK);
    EXPECT_EQ(value, install.Library());
    ASSERT_EQ(RegGetValue(key + "\\InprocServer32", "ThreadingModel", &value), S_OK);
    EXPECT_EQ(value, "Apartment");
    ASSERT_EQ(RegGetValue(key + "\\ProgID", "", &value), S_OK);
    EXPECT_EQ(value, "Pendrix.MervCard");
    std::string lib = "TypeLib\\" + GuidToString(pendrix::kLibId) + "\\10.0";
    EXPECT_TRUE(RegKeyExists(lib));
    EXPECT_TRUE(RegKeyExists("Interface\\" + GuidToString(pendrix::kIidMervCard)));

    ASSERT_EQ(install.RegSvr(true), 0);
    EXPECT_EQ(CLSIDFromProgID("Pendrix.MervCard", &clsid), CO_E_CLASSSTRING);
    EXPECT_FALSE(RegKeyExists(key));
    EXPECT_FALSE(RegKeyExists(lib));
}

class PendrixInProcess : public PendrixCom {
  protected:
    void SetUp() override {
        PendrixCom::SetUp();
        ASSERT_TRUE(Succeeded(apartment.result()));
    }
    static Variant Call(IDispatch* card, const char* name, std::vector<Variant> args) {
        return CallMethod(card, name, std::move(args));
    }
    static int32_t Open(IDispatch* card, Variant port) {
        return VariantToInt32(Call(card, "openport", {port, Variant::I4(9600)}));
    }
    static int32_t Read(IDispatch* card, std::string& no, std::string& room, std::string& end) {
        int32_t h = 1;
        return VariantToInt32(
            Call(card, "ReadCard",
                 {Variant::Ref(&h), Variant::Ref(&no), Variant::Ref(&room), Variant::Ref(&end)}));
    }
    static int32_t Write(IDispatch* card, std::string end, int32_t bldg, int32_t floor,
                         std::string room, std::string& cardNo, std::string holder = "USER1") {
        int32_t h = 1;
        return VariantToInt32(
            Call(card, "WriteCard",
                 {Variant::Ref(&h), Variant::Ref(&end), Variant::Ref(&cardNo), Variant::Ref(&bldg),
                  Variant::Ref(&floor), Variant::Ref(&room), Variant::Ref(&holder)}));
    }
    static HRESULT FailureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const ComError& e) {
            return e.hr();
        }
        return S_OK;
    }

    ApartmentScope apartment{COINIT_APARTMENTTHREADED};
};

TEST_F(PendrixInProcess, NamesResolveWithoutCaseAndTypeInformationIsComplete) {
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    const char* names[] = {"openport", "CLOSEPORT", "WriteCard", "ReadCard"};
    const DISPID expected[] = {pendrix::kDispOpenPort, pendrix::kDispClosePort,
                               pendrix::kDispWriteCard, pendrix::kDispReadCard};
    for (int i = 0; i < 4; ++i) {
        DISPID id = 0;
        ASSERT_EQ(card->GetIDsOfNames(GUID_NULL, &names[i], 1, 0, &id), S_OK);
        EXPECT_EQ(id, expected[i]);
    }
    const char* unknown = "EraseCard";
    DISPID id = 0;
    EXPECT_EQ(card->GetIDsOfNames(GUID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);

    const InterfaceDesc* info = nullptr;
    ASSERT_EQ(card->GetTypeInfo(0, 0, &info), S_OK);
    EXPECT_STREQ(info->name, "_MervCard");
    EXPECT_EQ(info->typeFlags, 0x11D0);
    ASSERT_EQ(info->funcs.size(), 4u);
    EXPECT_STREQ(info->funcs[2].params[6].name, "HoderName");
    EXPECT_STREQ(info->funcs[3].params[2].name, "RoomNO");

    ComPtr<pendrix::_MervCard> early;
    ASSERT_EQ(card.As(&early), S_OK);
    int16_t r = 1;
    EXPECT_EQ(early->ClosePort(Variant::Missing(), &r), S_OK);
    EXPECT_EQ(r, 0);
}

TEST_F(PendrixInProcess, PortResultsAndFailures) {
    ASSERT_EQ(lycomm::Attach(1, std::nullopt), "");
    ASSERT_EQ(lycomm::Attach(3, std::nullopt), "");
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    int32_t h = 0;
    EXPECT_EQ(VariantToInt32(Call(card.Get(), "closeport", {Variant::Ref(&h)})), 0);
    EXPECT_EQ(Open(card.Get(), Variant::I4(0)), 1);
    EXPECT_EQ(Open(card.Get(), Variant::I4(1)), -99);  // nothing on port 2
    EXPECT_EQ(Open(card.Get(), Variant::Str("2")), 3);
    EXPECT_EQ(VariantToInt32(Call(card.Get(), "openport", {Variant::I4(0)})), 1);  // no baud

    EXPECT_EQ(FailureOf([&] { Open(card.Get(), Variant::I4(255)); }), DISP_E_OVERFLOW);
    EXPECT_EQ(FailureOf([&] { Open(card.Get(), Variant::Str("COM1")); }), DISP_E_TYPEMISMATCH);
    // A building number that does not fit the 16-bit parameter.
    std::string cardNo;
    EXPECT_EQ(FailureOf([&] { Write(card.Get(), "202412311205", 100000, 1, "101", cardNo); }),
              DISP_E_OVERFLOW);
}

TEST_F(PendrixInProcess, WriteCardCodesThroughAutomation) {
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    std::string cardNo = "00000028";
    EXPECT_EQ(Write(card.Get(), "20241231120", 1, 1, "101", cardNo), -852);
    EXPECT_EQ(Write(card.Get(), "202412311205", 0, 1, "101", cardNo), -854);
    EXPECT_EQ(Write(card.Get(), "202412311205", 1, 100, "101", cardNo), -855);
    EXPECT_EQ(Write(card.Get(), "202412311205", 1, 1, "0a1f", cardNo), -856);
    EXPECT_EQ(Write(card.Get(), "202412311205", 1, 1, "101", cardNo), -840);  // no server
    EXPECT_EQ(cardNo, "00000028");
}

TEST_F(PendrixInProcess, ANewInstanceResetsThePortOfItsApartmentOnly) {
    testing::SimulatorFolder::EncoderWithBlankCard(1);
    ComPtr<IDispatch> first = CreateObject("Pendrix.MervCard");
    ASSERT_EQ(Open(first.Get(), Variant::I4(0)), 1);
    std::string no = "n", room = "r", end = "e";
    EXPECT_EQ(Read(first.Get(), no, room, end), -700);  // a blank card

    // An instance made in another apartment leaves this one's state alone.
    std::thread other([] {
        ApartmentScope sta(COINIT_APARTMENTTHREADED);
        ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
        std::string no, room, end;
        EXPECT_EQ(Read(card.Get(), no, room, end), 0);
    });
    other.join();
    EXPECT_EQ(Read(first.Get(), no, room, end), -700);

    ComPtr<IDispatch> second = CreateObject("Pendrix.MervCard");
    EXPECT_EQ(Read(first.Get(), no, room, end), 0);
    EXPECT_EQ(no, "n");
    EXPECT_EQ(room, "r");
    EXPECT_EQ(end, "e");
}

TEST_F(PendrixInProcess, TheServerSaysWhenItCanBeUnloaded) {
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    void* lib = dlopen(install.Library().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(lib, "DllCanUnloadNow"));
    auto getClass = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    ASSERT_NE(canUnload, nullptr);
    ASSERT_NE(getClass, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);
    card.Reset();
    EXPECT_EQ(canUnload(), S_OK);

    void* out = nullptr;
    EXPECT_EQ(getClass(pendrix::kIidMervCard, IClassFactory::kIid, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClass(pendrix::kClsidMervCard, IClassFactory::kIid, factory.PutVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    factory.Reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    ASSERT_EQ(getClass(pendrix::kClsidMervCard, IClassFactory::kIid, factory.PutVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(false), S_OK);
    factory.Reset();
    EXPECT_EQ(canUnload(), S_OK);
    dlclose(lib);
}

// ---- with the card database ----

class PendrixDb : public testing::CardDbTest {
  protected:
    void SetUp() override {
        testing::CardDbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        install.WriteSettings(Server());
        ASSERT_EQ(install.RegSvr(), 0);
    }
    PendrixInstall install;
};

TEST_F(PendrixDb, IssueReadCancelFromAChildProcess) {
    testing::SimulatorFolder::EncoderWithBlankCard(1);
    SetCounter("25", "0");
    EXPECT_EQ(install.Client("issue 0 1 1 101 202412311205"), "issue 0 00001A\n");
    EXPECT_EQ(install.Client("read 0"), "read 0 00000026 01#01#0101 202412311205\n");
    auto card = Rows("SELECT CardNo, Name_F, RoomNo, ChkOutMark FROM CardRecord",
                     {"CardNo", "Name_F", "RoomNo", "ChkOutMark"});
    ASSERT_EQ(card.size(), 1u);
    EXPECT_EQ(card[0], (std::vector<std::optional<std::string>>{"00000026", "USER1", "0101", ""}));
    EXPECT_EQ(
        Rows("SELECT State, CardQTY FROM RoomList WHERE RoomNo = '0101'", {"State", "CardQTY"})[0],
        (std::vector<std::optional<std::string>>{"1", "1"}));
    EXPECT_EQ(Counter(), "26");

    EXPECT_EQ(install.Client("cancel 0"), "cancel 0\n");
    EXPECT_EQ(Rows("SELECT ChkOutMark FROM CardRecord", {"ChkOutMark"})[0][0], "#1");
    // The room's only card: its row stays as the issue left it.
    EXPECT_EQ(
        Rows("SELECT State, CardQTY FROM RoomList WHERE RoomNo = '0101'", {"State", "CardQTY"})[0],
        (std::vector<std::optional<std::string>>{"1", "1"}));
    EXPECT_EQ(install.Client("read 0"), "read -700   \n");
    EXPECT_EQ(install.Client("cancel 0"), "cancel -700\n");
    EXPECT_EQ(Counter(), "26");
}

TEST_F(PendrixDb, ADatabaseFailureComesBackAsAFailedCall) {
    testing::SimulatorFolder::EncoderWithBlankCard(1);
    ApartmentScope sta(COINIT_APARTMENTTHREADED);
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    try {
        int32_t h = 1, bldg = 1, floor = 1;
        std::string end = "202412311205", cardNo, room = "101", holder = std::string(300, 'x');
        CallMethod(
            card.Get(), "WriteCard",
            {Variant::Ref(&h), Variant::Ref(&end), Variant::Ref(&cardNo), Variant::Ref(&bldg),
             Variant::Ref(&floor), Variant::Ref(&room), Variant::Ref(&holder)});
        FAIL() << "a name too long for its column was accepted";
    } catch (const ComError& e) {
        EXPECT_EQ(e.hr(), E_FAIL);
        EXPECT_EQ(e.source(), "Pendrix.MervCard");
        EXPECT_NE(e.description().find("1406"), std::string::npos) << e.description();
        EXPECT_NE(e.description().find("Name_F"), std::string::npos) << e.description();
    }
}

TEST_F(PendrixDb, SeveralProcessesIssuingAtOnceNeverShareANumber) {
    constexpr int kProcesses = 4, kEach = 10;
    for (int p = 1; p <= kProcesses; ++p) testing::SimulatorFolder::EncoderWithBlankCard(p);
    std::vector<std::string> outputs(kProcesses);
    std::vector<std::thread> children;
    for (int p = 0; p < kProcesses; ++p)
        children.emplace_back([&, p] {
            outputs[p] = install.Client("issue " + std::to_string(p) + " 1 1 101 202412311205 " +
                                        std::to_string(kEach));
        });
    for (auto& c : children) c.join();

    std::set<std::string> numbers;
    for (const std::string& out : outputs) {
        std::istringstream lines(out);
        std::string word, result, number;
        int count = 0;
        while (lines >> word >> result >> number) {
            EXPECT_EQ(word, "issue") << out;
            EXPECT_EQ(result, "0") << out;
            numbers.insert(number);
            ++count;
        }
        EXPECT_EQ(count, kEach) << out;
    }
    EXPECT_EQ(numbers.size(), static_cast<size_t>(kProcesses * kEach));
    EXPECT_EQ(Counter(), std::to_string(kProcesses * kEach));
    auto cards = Rows("SELECT DISTINCT CardNo FROM CardRecord", {"CardNo"});
    EXPECT_EQ(cards.size(), static_cast<size_t>(kProcesses * kEach));
    EXPECT_EQ(Rows("SELECT CardQTY FROM RoomList WHERE RoomNo = '0101'", {"CardQTY"})[0][0],
              std::to_string(kProcesses * kEach));
}

}  // namespace
}  // namespace ostra::cardlib
