// The library's settings: section "SysOptions" of "Option.ini" beside the
// host's executable.
//
// Threads: `Load` runs once, when the library is loaded, before any thread of
// the library exists. `PortNo` and `Password` are read and `Password` is
// changed and saved on the host's user-interface thread only. `DelayMinutes`
// is read by the connection threads, several at once; nothing writes it
// after `Load`, so no lock guards it.
#pragma once

#include <cstdint>
#include <string>

namespace ostra::kestrane {

class TSysOptions {
  public:
    static constexpr const char* Section = "SysOptions";
    static constexpr const char* DefaultPassword = "movrel";
    static constexpr int32_t DefaultPortNo = 8886;

    // Keeps the path; reads nothing.
    explicit TSysOptions(std::string FileName);

    // Reads "Password", "PortNo" and "DelayMinutes"; a missing file, section
    // or key (or a value that is not a number) gives the default.
    void Load();
    // Writes the three keys in that order. Throws EIniWriteError
    // ("Unable to write to <path>"); keys before the failed one stay written.
    void Save();

    int32_t PortNo = DefaultPortNo;
    std::string FileName;
    std::string Password = DefaultPassword;
    int32_t DelayMinutes = 0;
};

// The library's settings, created and loaded when the library is loaded and
// freed when it is unloaded, unless a connection thread pinned the library
// (plugin/LibraryPin.h): then they stay for that thread. Tests may set their
// own while no thread of the library runs.
extern TSysOptions* SysOptions;

}  // namespace ostra::kestrane
