// The service's settings as the password dialogs see them.
//
// Threads: main (user-interface) thread only, as the dialogs.
#pragma once

#include "service/ui/PasswordStore.h"

namespace ostra {

// Reads and writes `SysOption->Password`; Save saves every setting.
class TSysOptionPasswordStore final : public IPasswordStore {
  public:
    std::string Password() const override;
    void SetPassword(const std::string& Value) override;
    void Save() override;
};

}  // namespace ostra
