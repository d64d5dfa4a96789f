#include "tests/support/ServiceProgram.h"

#include <fstream>

#include "tests/support/Folders.h"

namespace ostra::testsupport {

TServiceProgram::TServiceProgram(const fs::path& Dir, const std::string& OptionIni,
                                 TChildOptions Child)
    : Folder(Dir), Port(FreePort()) {
    fs::remove_all(Folder);
    fs::create_directories(Folder);
    const fs::path Program = Folder / "OstraDoorLock";
    std::error_code Ec;
    fs::create_hard_link(fs::path(BinDir()) / "OstraDoorLock", Program, Ec);
    if (Ec) fs::copy_file(fs::path(BinDir()) / "OstraDoorLock", Program);
    std::ofstream(Folder / "Option.ini", std::ios::binary)
        << OptionIni << "[SysOption]\r\nDoorlockPortNo=" << Port << "\r\nWriteLog=1\r\n";
    Child.Set.insert(Child.Set.begin(), "QT_QPA_PLATFORM=offscreen");
    Child_ = std::make_unique<TChildProcess>(Program.string(), Child);
}

std::optional<fs::path> TServiceProgram::LogPath() const {
    for (const auto& E : fs::directory_iterator(Folder))
        if (E.path().extension() == ".LOG") return E.path();
    return std::nullopt;
}

}  // namespace ostra::testsupport
