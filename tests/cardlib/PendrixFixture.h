// A private installation of libPendrix.so for one test: the library and the
// encoder driver copied into a temporary folder with their own Setting.ini,
// a private component registry (OSTRA_COM_REGISTRY) and private simulated
// encoders (LYCOMM_STATE_DIR), so tests never meet each other's state.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/cardlib/CardDbFixture.h"
#include "tests/support/CardRoad.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Folders.h"

namespace ostra::cardlib::testing {

using testsupport::BinDir;
using testsupport::Quoted;
using testsupport::Shell;

// A private card road (see TPrivateCardRoad) as these tests name its parts.
class PendrixInstall : public testsupport::TPrivateCardRoad {
  public:
    PendrixInstall() : TPrivateCardRoad("ostra-pendrix") {}

    void WriteSettings(const std::string& server, const std::string& siteCode = "HOTEL") {
        SetSqlServer(server, siteCode);
    }
    // ostra-regsvr on the copy; how it ended.
    testsupport::TChildEnd RegSvr(bool unregister = false) { return Register(!unregister); }
    // pendrix_client in a child process.
    std::string Client(const std::string& args) const {
        return Shell(Quoted(BinDir() + "/pendrix_client") + " " + args);
    }
};

}  // namespace ostra::cardlib::testing
