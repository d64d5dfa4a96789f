#include "tests/support/ServiceProgram.h"

#include <fstream>

#include "tests/support/Folders.h"

namespace ostra::testsupport {

TServiceProgram::TServiceProgram(const fs::path& Dir, const std::string& DoorlockOption)
    : Folder(Dir) {
    fs::remove_all(Folder);
    fs::create_directories(Folder);
    const fs::path Program = Folder / "OstraDoorLock";
    std::error_code Ec;
    fs::create_hard_link(fs::path(BinDir()) / "OstraDoorLock", Program, Ec);
    if (Ec) fs::copy_file(fs::path(BinDir()) / "OstraDoorLock", Program);
    std::ofstream(Folder / "Option.ini", std::ios::binary)
        << "[DoorlockOption]\r\n"
        << DoorlockOption << "[SysOption]\r\nDoorlockPortNo=0\r\nWriteLog=1\r\n";
    TChildOptions Child;
    Child.Set = {"QT_QPA_PLATFORM=offscreen",
                 "ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=8:"
                 "allocator_release_to_os_interval_ms=0"};
    Child.FdLimit = kServiceFdLimit;
    Child_ = std::make_unique<TChildProcess>(Program.string(), Child);
}

std::optional<fs::path> TServiceProgram::LogPath() const {
    for (const auto& E : fs::directory_iterator(Folder))
        if (E.path().extension() == ".LOG") return E.path();
    return std::nullopt;
}

long TServiceProgram::RssKib() const {
    std::ifstream In("/proc/" + std::to_string(Pid()) + "/smaps");
    std::string Line;
    long Total = 0;
    bool Shadow = false;
    while (std::getline(In, Line)) {
        const std::size_t Dash = Line.find('-');
        if (Dash != std::string::npos && Dash < Line.find(' ') &&
            Line.find_first_not_of("0123456789abcdef") == Dash) {
            const unsigned long long Start = std::stoull(Line.substr(0, Dash), nullptr, 16);
            Shadow = Start >= 0x7fff8000ULL && Start < 0x10007fff8000ULL;
        } else if (Line.rfind("Rss:", 0) == 0 && !Shadow) {
            Total += std::stol(Line.substr(4));
        }
    }
    return Total;
}

std::size_t TServiceProgram::Threads() const {
    return Count("/task", [](const fs::path& Task) {
        return ReadFile(Task / "comm") != "Thread (pooled)\n";
    });
}

std::size_t TServiceProgram::Count(const std::string& Sub,
                                   const std::function<bool(const fs::path&)>& Counts) const {
    std::size_t N = 0;
    std::error_code Ec;
    for (auto It = fs::directory_iterator("/proc/" + std::to_string(Pid()) + Sub, Ec);
         !Ec && It != fs::directory_iterator(); It.increment(Ec))
        if (!Counts || Counts(It->path())) ++N;
    return N;
}

}  // namespace ostra::testsupport
