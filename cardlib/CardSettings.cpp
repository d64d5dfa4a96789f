#include "cardlib/CardSettings.h"

#include <dlfcn.h>

#include <cstdio>

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
    const std::string why = ini.ReadFailure();
    if (why.empty()) {
        unreadSaid_.store(false);
    } else if (!unreadSaid_.exchange(true)) {
        std::fprintf(stderr,
                     "Pendrix: cannot read %s (%s); the defaults are in force (SQLServer %s, "
                     "SiteCode %s)\n",
                     ini.FileName().c_str(), why.c_str(), kServerDefault, kSiteCodeDefault);
        std::fflush(stderr);
    }
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
