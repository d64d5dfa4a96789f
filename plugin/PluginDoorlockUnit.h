// The lock object that a host program hands to the Kestrane library.
//
// A host derives its own lock class from `ostra::kestrane::TBaseDoorlock`,
// overrides the operations it supports and passes a pointer to its object to
// `ShowMainAppWin` (see plugin/Kestrane.h). The library calls the seven
// operations below and nothing else: it never copies, frees or destroys the
// object, and keeps the pointer after the call for later calls that pass none.
//
// This class is not the service's lock class (service/core/BaseDoorlockUnit.h):
// its `WriteCard` has ten arguments and no `IsCopy`. The two do not mix.
//
// Every operation has a body here, in the header, so that a host needs
// nothing from the library but this header and the one export. The seven
// operations are declared first and the destructor last, so that they occupy
// the first seven entries of the vtable in the order of their slots.
//
// Threads: `WriteCard`, `ReadCard` and `EraseCard` are called from the
// library's connection threads, several at once, and from the host's
// user-interface thread (the test dialog); `ShowOptionForm`, `OpenPort`,
// `Beep` and `ClosePort` from the user-interface thread. The library takes no
// lock around any call: a host object that needs one serialises itself.
// Errors (exceptions) that leave an operation are the host's: a connection
// thread then abandons its request without a reply; the user-interface thread
// shows the error's message to the operator.
#pragma once

#include <cstdint>
#include <string>

namespace ostra::kestrane {

// A date-time: a count of days since 1899-12-30, the time of day as the
// fraction, in local time.
using TDateTime = double;

class TBaseDoorlock {
  public:
    // Slot 0: show the lock's own settings dialog modally.
    virtual void ShowOptionForm() {}
    // Slot 1: make the encoder ready. The library ignores the result.
    virtual bool OpenPort() { return false; }
    // Slot 2: sound the encoder.
    virtual void Beep() {}
    // Slot 3: release the encoder. The library ignores the result.
    virtual bool ClosePort() { return false; }
    // Slot 4: issue one guest card. Texts are UTF-8. The library passes the
    // card's begin as both BeginDate and BeginTime and its end as both
    // EndDate and EndTime. On success CardNo holds the new card's number; the
    // library starts it at 0 and reports whatever the lock left in it.
    virtual bool WriteCard(std::string RegisterId, std::string BuildingCode, std::string FloorCode,
                           std::string RoomNo, std::string GuestName, TDateTime BeginDate,
                           TDateTime BeginTime, TDateTime EndDate, TDateTime EndTime,
                           int64_t& CardNo) {
        (void)RegisterId, (void)BuildingCode, (void)FloorCode, (void)RoomNo, (void)GuestName;
        (void)BeginDate, (void)BeginTime, (void)EndDate, (void)EndTime, (void)CardNo;
        return false;
    }
    // Slot 5: read the number of the card on the encoder.
    virtual bool ReadCard(int64_t& CardNo) {
        (void)CardNo;
        return false;
    }
    // Slot 6: cancel the card on the encoder.
    virtual bool EraseCard() { return false; }

    // The host frees its object; the library never calls this.
    virtual ~TBaseDoorlock() = default;
};

}  // namespace ostra::kestrane
