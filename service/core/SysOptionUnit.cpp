#include "service/core/SysOptionUnit.h"

#include <cstdio>

#include "platform/ini/IniFile.h"
#include "service/core/ExecutablePath.h"
#include "service/core/LogFileUnit.h"

namespace ostra {

namespace {
const char* const SysSection = "SysOption";
const char* const DoorlockSection = "DoorlockOption";
}  // namespace

TSysOption* SysOption = nullptr;

TSysOption::TSysOption(std::string FileName) : FileName(std::move(FileName)) {}

void TSysOption::Load() {
    const IniFile ini(FileName);
    Password = ini.ReadString(SysSection, "Password", "movrel");
    DoorlockPortNo = ini.ReadInteger(SysSection, "DoorlockPortNo", 8886);
    HandPortNo = ini.ReadInteger(SysSection, "HandPortNo", 8886);
    PolicePortNo = ini.ReadInteger(SysSection, "PolicePortNo", 8885);
    MemberPortNo = ini.ReadInteger(SysSection, "MemberPortNo", 8883);
    ScanPortNo = ini.ReadInteger(SysSection, "ScanPortNo", 8881);
    WriteLog = ini.ReadBool(SysSection, "WriteLog", true);
    DelayMinutes = ini.ReadInteger(DoorlockSection, "DelayMinutes", 0);
    DelayMinutes2 = ini.ReadInteger(DoorlockSection, "DelayMinutes2", 0);
    UseNativeDoorlockDb = ini.ReadBool(DoorlockSection, "UseNativeDoorlockDb", false);
    SaveDoorlockRecord = ini.ReadBool(DoorlockSection, "SaveDoorlockRecord", false);
    AutoReadDoorCard = ini.ReadBool(DoorlockSection, "AutoReadDoorCard", false);
    PmsServer = ini.ReadString(DoorlockSection, "PmsServer", "127.0.0.1");
    PmsServerPort = ini.ReadInteger(DoorlockSection, "PmsServerPort", 9873);
}

void TSysOption::Save() {
    IniFile ini(FileName);
    ini.WriteString(SysSection, "Password", Password);
    ini.WriteInteger(SysSection, "DoorlockPortNo", DoorlockPortNo);
    ini.WriteInteger(SysSection, "HandPortNo", HandPortNo);
    ini.WriteInteger(SysSection, "PolicePortNo", PolicePortNo);
    ini.WriteInteger(SysSection, "MemberPortNo", MemberPortNo);
    ini.WriteInteger(SysSection, "ScanPortNo", ScanPortNo);
    ini.WriteBool(SysSection, "WriteLog", WriteLog);
    ini.WriteInteger(DoorlockSection, "DelayMinutes", DelayMinutes);
    ini.WriteInteger(DoorlockSection, "DelayMinutes2", DelayMinutes2);
    ini.WriteBool(DoorlockSection, "UseNativeDoorlockDb", UseNativeDoorlockDb);
    ini.WriteBool(DoorlockSection, "SaveDoorlockRecord", SaveDoorlockRecord);
    ini.WriteBool(DoorlockSection, "AutoReadDoorCard", AutoReadDoorCard);
    ini.WriteString(DoorlockSection, "PmsServer", PmsServer);
    ini.WriteInteger(DoorlockSection, "PmsServerPort", PmsServerPort);
}

void CreateSysOption() {
    auto* option = new TSysOption(ExecutableDirectory() + "Option.ini");
    option->Load();
    SysOption = option;
}

TSysOption* SetSysOption(TSysOption* Option) {
    TSysOption* old = SysOption;
    SysOption = Option;
    return old;
}

void ReportUnreadSysOption() {
    if (!SysOption) return;
    const std::string why = IniFile(SysOption->FileName).ReadFailure();
    if (why.empty()) return;
    const std::string text =
        "cannot read " + SysOption->FileName + " (" + why + "); the defaults are in force";
    std::fprintf(stderr, "OstraDoorLock: %s\n", text.c_str());
    std::fflush(stderr);
    LogWrite(text);
}

}  // namespace ostra
