// The real OstraDoorLock as a child process (offscreen) in a folder of its
// own, answering over loopback. The card library, the encoders and the card
// database are those of the environment the test process set up
// (OSTRA_COM_REGISTRY, LYCOMM_STATE_DIR, ODBCSYSINI: see TPrivateCardRoad).
//
// Threads: made and ended by one thread; Send may be called from many
// threads at once (each call has its own connection).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/FrontDesk.h"

namespace ostra::testsupport {

class TServiceProgram {
  public:
    // Makes Folder afresh with the program (a link, else a copy: it finds
    // its files beside itself) and "Option.ini": OptionIni followed by the
    // [SysOption] section with a free port and the log on; then starts it.
    // Child adds to what the child gets (its environment, its descriptors).
    TServiceProgram(const std::filesystem::path& Folder, const std::string& OptionIni,
                    TChildOptions Child = {});
    TServiceProgram(const TServiceProgram&) = delete;
    TServiceProgram& operator=(const TServiceProgram&) = delete;

    // Waits until the listener answers (false when the program ended first).
    bool WaitUntilListening() { return testsupport::WaitUntilListening(Port, *Child_); }
    bool Running() { return Child_->Running(); }
    void Kill() { Child_->Kill(); }
    pid_t Pid() const { return Child_->Pid(); }

    // One request on a fresh connection; its reply without the 0x00, or nothing.
    std::optional<std::string> Send(const std::string& Request, int GuardSeconds = kGuardSeconds) {
        return Exchange(Port, Request, GuardSeconds);
    }

    // The log file of the run (the one ".LOG" file in the folder), if any.
    std::optional<std::filesystem::path> LogPath() const;

    const std::filesystem::path Folder;
    const uint16_t Port;

  private:
    std::unique_ptr<TChildProcess> Child_;
};

}  // namespace ostra::testsupport
