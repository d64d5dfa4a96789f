// A private card road for one test process: a folder holding copies of the
// card library and the encoder driver with "Setting.ini" beside them, a
// private component registry (OSTRA_COM_REGISTRY) and private simulated
// encoders without delay (LYCOMM_STATE_DIR). Making one points this
// process's environment (and so its children's) at it; "Setting.ini" names
// no reachable server until SetSqlServer says otherwise, and the library is
// not registered until Register.
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/Folders.h"

namespace ostra::testsupport {

class TPrivateCardRoad {
  public:
    explicit TPrivateCardRoad(const std::string& Prefix);

    const std::filesystem::path& Root() const { return Dir_.Path(); }
    std::filesystem::path LibDir() const { return Root() / "lib"; }
    std::string Library() const { return (LibDir() / "libPendrix.so").string(); }

    // Writes "Setting.ini" beside the library copy: the card database server
    // and the site code.
    void SetSqlServer(const std::string& Server, const std::string& SiteCode = "12345");
    // Registers the library copy in the private registry (or removes it);
    // how ostra-regsvr ended.
    TChildEnd Register(bool On = true);

  private:
    TTempDir Dir_;
};

}  // namespace ostra::testsupport
