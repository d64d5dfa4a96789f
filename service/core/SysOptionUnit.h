// The service's settings, loaded once from "Option.ini" beside the program.
//
// Keys, in the order Load reads and Save writes them:
//   [SysOption]      Password ("movrel"), DoorlockPortNo (8886), HandPortNo (8886),
//                    PolicePortNo (8885), MemberPortNo (8883), ScanPortNo (8881),
//                    WriteLog (1)
//   [DoorlockOption] DelayMinutes (0), DelayMinutes2 (0), UseNativeDoorlockDb (0),
//                    SaveDoorlockRecord (0), AutoReadDoorCard (0),
//                    PmsServer ("127.0.0.1"), PmsServerPort (9873)
//
// Threads: Load runs on the main thread before any other thread exists.
// Afterwards every thread reads the fields without a lock; only the main
// thread changes Password and calls Save. No field is written while other
// threads run except Password, which only the main thread reads.
#pragma once

#include <cstdint>
#include <string>

namespace ostra {

class TSysOption {
  public:
    explicit TSysOption(std::string FileName);  // keeps the path, reads nothing
    virtual ~TSysOption() = default;

    // Reads every key; a missing file, section or key, or an unreadable
    // number, gives the key's default.
    void Load();
    // Writes every key in order. Throws EIniWriteError("Unable to write to
    // <path>") at the first key that cannot be written; earlier keys stay.
    void Save();

    // Fields in declaration order.
    int32_t DoorlockPortNo = 8886;
    int32_t HandPortNo = 8886;
    bool UseNativeDoorlockDb = false;
    bool SaveDoorlockRecord = false;
    int32_t PolicePortNo = 8885;
    int32_t MemberPortNo = 8883;
    int32_t ScanPortNo = 8881;
    std::string FileName;
    std::string Password = "movrel";
    int32_t DelayMinutes = 0;
    int32_t DelayMinutes2 = 0;
    bool WriteLog = true;
    bool AutoReadDoorCard = false;
    std::string PmsServer = "127.0.0.1";
    int32_t PmsServerPort = 9873;
};

// The one settings object. Unset until CreateSysOption; never freed in the
// program. Tests may point it at an object of their own (SetSysOption) while
// no other thread uses it.
extern TSysOption* SysOption;

// Module start: SysOption := TSysOption(ExecutableDirectory() + "Option.ini"), Load.
void CreateSysOption();
// Replaces the global; returns the previous object (the caller owns both).
TSysOption* SetSysOption(TSysOption* Option);

// Module start, after CreateLogFile: when SysOption's file exists but cannot
// be read (so Load gave every key its default), one line on stderr and one
// log entry name the file and the system's reason and say that the defaults
// are in force. Nothing otherwise.
void ReportUnreadSysOption();

}  // namespace ostra
