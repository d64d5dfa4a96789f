#include "cardlib/CardSettings.h"

#include <dlfcn.h>

#include "platform/ini/IniFile.h"

namespace ostra::cardlib {

namespace {

std::string Capped(std::string value) {
    if (value.size() > kMaxSettingLength) value.resize(kMaxSettingLength);
    return value;
}

}  // namespace

CardSettings IniCardSettings::Read() {
    IniFile ini(folder_ + "/" + kSettingFileName);
    CardSettings s;
    s.SqlServer = Capped(ini.ReadString(kSettingSection, kServerKey, kServerDefault));
    s.SiteCode = Capped(ini.ReadString(kSettingSection, kSiteCodeKey, kSiteCodeDefault));
    return s;
}

std::string FolderOfModule(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return ".";
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace ostra::cardlib
