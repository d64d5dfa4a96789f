#include "service/ui/SysOptionPasswordStore.h"

#include <stdexcept>

#include "service/core/SysOptionUnit.h"

namespace ostra {
namespace {

TSysOption& Settings() {
    if (!SysOption) throw std::logic_error("The settings are not loaded");
    return *SysOption;
}

}  // namespace

std::string TSysOptionPasswordStore::Password() const {
    return Settings().Password;
}

void TSysOptionPasswordStore::SetPassword(const std::string& Value) {
    Settings().Password = Value;
}

void TSysOptionPasswordStore::Save() {
    Settings().Save();
}

}  // namespace ostra
