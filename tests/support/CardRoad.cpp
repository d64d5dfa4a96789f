#include "tests/support/CardRoad.h"

#include <stdlib.h>

#include <fstream>
#include <initializer_list>

#include "tests/support/ChildProcess.h"

namespace ostra::testsupport {

TPrivateCardRoad::TPrivateCardRoad(const std::string& Prefix) : Dir_(Prefix) {
    fs::create_directories(LibDir());
    for (const char* Lib : {"libPendrix.so", "liblyComm.so"})
        fs::copy_file(fs::path(BinDir()) / Lib, LibDir() / Lib);
    ::setenv("OSTRA_COM_REGISTRY", (Root() / "registry.ini").c_str(), 1);
    ::setenv("LYCOMM_STATE_DIR", (Root() / "lycomm").c_str(), 1);
    ::setenv("LYCOMM_DELAY_MS", "0", 1);
    SetSqlServer("127.0.0.1;PORT=1");
}

void TPrivateCardRoad::SetSqlServer(const std::string& Server, const std::string& SiteCode) {
    std::ofstream(LibDir() / "Setting.ini", std::ios::binary | std::ios::trunc)
        << "[Setting]\r\nSQLServer=" << Server << "\r\nSiteCode=" << SiteCode << "\r\n";
}

TChildEnd TPrivateCardRoad::Register(bool On) {
    std::vector<std::string> Args{BinDir() + "/ostra-regsvr", "-s"};
    if (!On) Args.push_back("-u");
    Args.push_back(Library());
    return RunProgram(Args);
}

}  // namespace ostra::testsupport
