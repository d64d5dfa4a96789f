// The real OstraDoorLock as a child process (offscreen) in a folder of its
// own, answering over loopback, and what /proc says about it (threads,
// descriptors, resident memory). The card library, the encoders and the card
// database are those of the environment the test process set up
// (OSTRA_COM_REGISTRY, LYCOMM_STATE_DIR, ODBCSYSINI: see TPrivateCardRoad).
//
// The child runs with its limit of descriptors set to kServiceFdLimit (the
// service raises its soft limit to this hard limit itself), so 1,000 held
// connections plus the program's own files fit whatever the test process's
// own limits are. Its memory is
// measured: a small sanitizer quarantine keeps the sanitizer's own hold on
// freed memory out of the figures.
//
// Threads: made and ended by one thread; Send may be called from many
// threads at once (each call has its own connection).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/FrontDesk.h"

namespace ostra::testsupport {

inline constexpr rlim_t kServiceFdLimit = 4096;

class TServiceProgram {
  public:
    // Makes Folder afresh with the program (a link, else a copy: it finds
    // its files beside itself) and "Option.ini": the [DoorlockOption]
    // section with the lines of DoorlockOption, the [SysOption] section with
    // port 0 (the listener takes a port the system hands it) and the log on;
    // then starts it.
    TServiceProgram(const std::filesystem::path& Folder, const std::string& DoorlockOption);
    TServiceProgram(const TServiceProgram&) = delete;
    TServiceProgram& operator=(const TServiceProgram&) = delete;

    // Waits until the program listens and sets Port to its listener's port
    // (false when the program ended first or never listened).
    bool WaitUntilListening() {
        Port = WaitForListeningPort(*Child_);
        return Port != 0;
    }
    bool Running() { return Child_->Running(); }
    void Kill() { Child_->Kill(); }
    pid_t Pid() const { return Child_->Pid(); }

    // One request on a fresh connection; its reply without the 0x00, or nothing.
    std::optional<std::string> Send(const std::string& Request, int GuardSeconds = kGuardSeconds) {
        return Exchange(Port, Request, GuardSeconds);
    }

    // The log file of the run (the one ".LOG" file in the folder), if any.
    std::optional<std::filesystem::path> LogPath() const;

    // The program's own threads: Qt's pooled worker threads ("Thread
    // (pooled)"), which Qt starts for work of its own and ends after 30 s
    // idle, are left out, so that a count taken early still holds later.
    std::size_t Threads() const;
    std::size_t Descriptors() const { return Count("/fd"); }
    // Resident memory in KiB, the sanitizer's shadow memory left out: under
    // AddressSanitizer the shadow of every thread stack that ever ran stays
    // resident, which says nothing about the program's own memory. On
    // x86-64 the shadow lies in [0x7fff8000, 0x10007fff8000); a program
    // built without the sanitizer maps nothing there.
    long RssKib() const;

    const std::filesystem::path Folder;
    uint16_t Port = 0;  // known once WaitUntilListening has succeeded

  private:
    // The entries of /proc/<pid><Sub> for which Counts holds (all without it).
    std::size_t Count(const std::string& Sub,
                      const std::function<bool(const std::filesystem::path&)>& Counts = {}) const;

    std::unique_ptr<TChildProcess> Child_;
};

}  // namespace ostra::testsupport
