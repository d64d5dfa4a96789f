#include "lockdriver/OptionUnit.h"

#include <utility>

#include "platform/ini/IniFile.h"
#include "service/core/ExecutablePath.h"

namespace ostra {

namespace {
constexpr const char* kPortNameKey = "PortName";
constexpr const char* kCurrentCardNoKey = "CurrentCardNo";
constexpr const char* kAutoReadDoorCardKey = "AutoReadDoorCard";
}  // namespace

TOption* Option = nullptr;

TOption::TOption(std::string FileName) : FileName(std::move(FileName)) {}

void TOption::Load() {
    const IniFile Ini(FileName);
    SetPortName(Ini.ReadString("DoorlockOption", kPortNameKey, "COM1"));
    CurrentCardNo = Ini.ReadInteger("DoorLockOption", kCurrentCardNoKey, 1);
    AutoReadDoorCard = Ini.ReadBool("DoorlockOption", kAutoReadDoorCardKey, false);
}

void TOption::Save() {
    IniFile Ini(FileName);
    Ini.WriteString("DoorlockOption", kPortNameKey, PortName());
    // The counter is kept as a 32-bit value in the file: its low 32 bits.
    Ini.WriteInteger("DoorLockOption", kCurrentCardNoKey,
                     static_cast<int32_t>(static_cast<uint32_t>(CurrentCardNo & 0xFFFFFFFF)));
    Ini.WriteBool("DoorlockOption", kAutoReadDoorCardKey, AutoReadDoorCard);
}

int32_t TOption::PortIndex() const {
    const std::string Name = PortName();
    for (int32_t Index = 0; Index < 13; ++Index)
        if (Name == "COM" + std::to_string(Index + 1)) return Index;
    return -1;
}

std::string TOption::PortName() const {
    std::lock_guard<std::mutex> Guard(FPortNameMutex);
    return FPortName;
}

void TOption::SetPortName(std::string Name) {
    std::lock_guard<std::mutex> Guard(FPortNameMutex);
    FPortName = std::move(Name);
}

void CreateOption() {
    Option = new TOption(ExecutableDirectory() + "Option.ini");
    Option->Load();
}

TOption* SetOption(TOption* NewOption) {
    return std::exchange(Option, NewOption);
}

}  // namespace ostra
