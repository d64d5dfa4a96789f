// Test devices for interface kinds 2 to 4: they record every call and answer
// as the test sets them up. A device that "raises" throws std::runtime_error.
//
// Threads: the device methods run on connection threads while the test thread
// sets the device up and reads what it recorded; every field is guarded by
// `M` (device methods take it themselves, tests take it through Lock()).
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "otherkinds/core/BaseHandUnit.h"
#include "otherkinds/core/BaseMemberUnit.h"
#include "otherkinds/core/BasePoliceUnit.h"

namespace ostra::test {

struct TFakeDevice {
    mutable std::mutex M;
    std::vector<std::string> Calls;
    bool Raise = false;
    // Run inside every call, with M held: a test may hold the call here.
    std::function<void()> Hook;

    std::unique_lock<std::mutex> Lock() const { return std::unique_lock<std::mutex>(M); }
    std::vector<std::string> CallsSoFar() const {
        auto g = Lock();
        return Calls;
    }
    void Record(const char* call) {
        Calls.emplace_back(call);
        if (Hook) Hook();
        if (Raise) throw std::runtime_error(std::string(call) + " failed in the device");
    }
};

struct TFakeMember : TBaseMember, TFakeDevice {
    bool Result = true;
    // What ReadCard hands out.
    std::string CardNo, Password, ExpireDate, GuestName, Score;
    // What the last WriteCard or ReadCard got (ReadCard: its outputs on entry).
    std::vector<std::string> LastTexts;
    int LastChannel = 0;
    bool LastFlag = false;

    void ShowOptionForm() override {
        auto g = Lock();
        Record("ShowOptionForm");
    }
    bool OpenPort() override {
        auto g = Lock();
        Record("OpenPort");
        return true;
    }
    bool ClosePort() override {
        auto g = Lock();
        Record("ClosePort");
        return true;
    }
    void Beep() override {
        auto g = Lock();
        Record("Beep");
    }
    bool WriteCard(const std::string& No, const std::string& T2, const std::string& T3,
                   const std::string& T4, int Channel) override {
        auto g = Lock();
        LastTexts = {No, T2, T3, T4};
        LastChannel = Channel;
        Record("WriteCard");
        return Result;
    }
    bool ReadCard(bool Flag, std::string& No, std::string& Pw, std::string& Exp, std::string& Name,
                  std::string& Sc, int Channel) override {
        auto g = Lock();
        LastTexts = {No, Pw, Exp, Name, Sc};
        LastFlag = Flag;
        LastChannel = Channel;
        No = CardNo, Pw = Password, Exp = ExpireDate, Name = GuestName, Sc = Score;
        Record("ReadCard");
        return Result;
    }
};

struct TFakeHand : TBaseHand, TFakeDevice {
    bool Result = true;
    std::string HandNo;         // what the card operations set
    std::string HandNoOnEntry;  // what the last card operation got

    void ShowOptionForm() override {
        auto g = Lock();
        Record("ShowOptionForm");
    }
    bool OpenPort() override {
        auto g = Lock();
        Record("OpenPort");
        return true;
    }
    void Beep() override {
        auto g = Lock();
        Record("Beep");
    }
    bool ClosePort() override {
        auto g = Lock();
        Record("ClosePort");
        return true;
    }
    bool WriteCard(std::string& No) override { return Card("WriteCard", No); }
    bool ReadCard(std::string& No) override { return Card("ReadCard", No); }
    bool EraseCard(std::string& No) override { return Card("EraseCard", No); }

  private:
    bool Card(const char* name, std::string& No) {
        auto g = Lock();
        HandNoOnEntry = No;
        No = HandNo;
        Record(name);
        return Result;
    }
};

// Each GetGuest hands out a copy of `Guest` as it stands, kept until the
// device is freed: a reply built from it never meets the test's next change.
struct TFakePolice : TBasePolice, TFakeDevice {
    bool HasGuest = true;
    TGuest Guest;

    void ShowOptionForm() override {
        auto g = Lock();
        Record("ShowOptionForm");
    }
    TGuest* GetGuest() override {
        auto g = Lock();
        Record("GetGuest");
        if (!HasGuest) return nullptr;
        return &Handed.emplace_back(Guest);
    }

  private:
    std::deque<TGuest> Handed;
};

}  // namespace ostra::test
