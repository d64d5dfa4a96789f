// The Ostra lock driver: issues, reads and cancels guest cards through the
// card library's automation class "Pendrix.MervCard".
//
// Every card operation is whole in itself: it enters the multithreaded COM
// apartment for its own length (a thread already in a single-threaded
// apartment, the main thread, stays there), creates the automation object,
// opens the encoder port ("openport"), makes its one card call, closes the
// port ("closeport") and releases the object. The encoder is one device, so
// the whole of each operation, from creation to release, holds the
// encoder's turn (lockdriver/EncoderLock.h); callers are served in order.
//
// Threads: WriteCard, ReadCard and EraseCard are called at once from the
// connection threads, the auto-read thread and the main thread (test
// dialog); the object has no fields, and the encoder turn orders the
// operations. ShowOptionForm, OpenPort, Beep and ClosePort run on the main
// thread. The operations read Option (port name, under its own lock),
// SysOption (read-only after start) and LogFile.
#pragma once

#include "service/core/BaseDoorlockUnit.h"

namespace ostra {

class TOstraDoorLock : public TBaseDoorlock {
  public:
    TOstraDoorLock() = default;
    // Stops the card auto-read threads, which read through this object.
    ~TOstraDoorLock() override;

    void ShowOptionForm() override;
    // Starts one card auto-read thread when SysOption->AutoReadDoorCard is
    // set (each call one more); the encoder is not touched. Always True.
    bool OpenPort() override;
    void Beep() override;
    bool ClosePort() override;
    bool WriteCard(std::string RegisterId, std::string BuildingCode, std::string FloorCode,
                   std::string RoomNo, std::string GuestName, TDateTime BeginDate,
                   TDateTime BeginTime, TDateTime EndDate, TDateTime EndTime, bool IsCopy,
                   int64_t& CardNo) override;
    bool ReadCard(int64_t& CardNo) override;
    bool EraseCard() override;
};

}  // namespace ostra
