// The abstract lock object and the one global reference to it.
//
// Threads: WriteCard, ReadCard and EraseCard are called from the listener's
// connection threads and the card auto-read thread, several at once, on the
// one shared object; a driver makes each of them self-contained and safe to
// run concurrently. The other operations run on the main thread.
//
// `Doorlock` is written once during start-up (before any thread that reads it
// exists) and never set back; it is atomic so that the auto-read thread and
// the connection threads see the published object without a data race.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/datetime/DateTime.h"

namespace ostra {

class TBaseDoorlock {
  public:
    virtual ~TBaseDoorlock() = default;

    // Slot order matters to nobody on Linux, but it is kept as declared.
    virtual void ShowOptionForm() {}                // slot 0
    virtual bool OpenPort() { return false; }       // slot 1
    virtual void Beep() {}                          // slot 2
    virtual bool ClosePort() { return false; }      // slot 3
    virtual bool WriteCard(std::string RegisterId,  // slot 4
                           std::string BuildingCode, std::string FloorCode, std::string RoomNo,
                           std::string GuestName, TDateTime BeginDate, TDateTime BeginTime,
                           TDateTime EndDate, TDateTime EndTime, bool IsCopy, int64_t& CardNo);
    virtual bool ReadCard(int64_t& CardNo);     // slot 5
    virtual bool EraseCard() { return false; }  // slot 6
};

// The lock object every handler, dialog and the auto-read thread reach the
// encoder through. Nil at load; nothing frees an object through it.
extern std::atomic<TBaseDoorlock*> Doorlock;

}  // namespace ostra
