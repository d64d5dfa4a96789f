// The lock driver's own settings in "Option.ini": the encoder's serial port,
// the auto-read switch as the option dialog shows it, and a card counter.
//
//   [DoorlockOption] PortName ("COM1"), CurrentCardNo (1), AutoReadDoorCard (0)
//
// Section and key names match without regard to case, so this is the same
// section that the service settings call "DoorlockOption".
//
// Threads: Load, Save, SetPortName and the other fields belong to the main
// thread (start-up and the option dialog). PortName() and PortIndex() are
// also called by every thread that runs a card operation (connection threads,
// the auto-read thread) while the dialog may replace the name; the name is
// guarded by the object's own mutex, so they always see a whole name.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace ostra {

class TOption {
  public:
    explicit TOption(std::string FileName);  // keeps the path, reads nothing

    // Reads PortName, CurrentCardNo and AutoReadDoorCard, in this order. A
    // missing file or key, or a value that is not a number, gives the default.
    void Load();
    // Writes the three keys in the same order. Throws EIniWriteError
    // ("Unable to write to <path>") at the first key that cannot be written;
    // the keys before it stay written.
    void Save();

    // The port index the card library opens: "COM1" gives 0 ... "COM13" gives
    // 12, compared exactly (letter case included). Any other name gives -1,
    // which the card library refuses (it opens index + 1, and there is no
    // port 0).
    int32_t PortIndex() const;

    std::string PortName() const;
    void SetPortName(std::string Name);

    const std::string FileName;
    bool AutoReadDoorCard = false;
    int64_t CurrentCardNo = 1;

  private:
    mutable std::mutex FPortNameMutex;
    std::string FPortName = "COM1";  // guarded by FPortNameMutex
};

// The one driver settings object. Unset until CreateOption; never freed in
// the program. Tests may point it at an object of their own (SetOption) while
// no other thread uses it.
extern TOption* Option;

// Module start, before the service settings are made: Option :=
// TOption(ExecutableDirectory() + "Option.ini"), then Load.
void CreateOption();
// Replaces the global; returns the previous object (the caller owns both).
TOption* SetOption(TOption* NewOption);

}  // namespace ostra
