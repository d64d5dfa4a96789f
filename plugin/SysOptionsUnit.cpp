#include "plugin/SysOptionsUnit.h"

#include <utility>

#include "platform/ini/IniFile.h"

namespace ostra::kestrane {

TSysOptions* SysOptions = nullptr;

TSysOptions::TSysOptions(std::string FileName) : FileName(std::move(FileName)) {}

void TSysOptions::Load() {
    const IniFile ini(FileName);
    Password = ini.ReadString(Section, "Password", DefaultPassword);
    PortNo = ini.ReadInteger(Section, "PortNo", DefaultPortNo);
    DelayMinutes = ini.ReadInteger(Section, "DelayMinutes", 0);
}

void TSysOptions::Save() {
    IniFile ini(FileName);
    ini.WriteString(Section, "Password", Password);
    ini.WriteInteger(Section, "PortNo", PortNo);
    ini.WriteInteger(Section, "DelayMinutes", DelayMinutes);
}

}  // namespace ostra::kestrane
