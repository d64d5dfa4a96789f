// What the password dialogs need of a settings object: the administrator
// password and a way to save it. The service hands in its `SysOption`, the
// plug-in its own "SysOptions".
//
// Threads: main (user-interface) thread only.
#pragma once

#include <string>

namespace ostra {

class IPasswordStore {
  public:
    virtual ~IPasswordStore() = default;
    virtual std::string Password() const = 0;  // UTF-8, as stored
    virtual void SetPassword(const std::string& Value) = 0;
    virtual void Save() = 0;  // writes every setting; throws when it cannot
};

}  // namespace ostra
