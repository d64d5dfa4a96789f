// The hand-card (wristband) device interface and the one global reference to it.
//
// Threads: WriteCard, ReadCard and EraseCard are called from the listener's
// connection threads, several at once, and from the hand test dialog on the
// main thread; the other operations run on the main thread only. The service
// takes no lock around any call: a device that cannot serve concurrent calls
// guards itself.
//
// `Hand` is published by the device registry (DeviceRegistryUnit.h) on the
// main thread before the listener starts and is not changed while it runs; it
// is atomic so that connection threads read the published pointer race-free.
#pragma once

#include <atomic>
#include <string>

namespace ostra {

class TBaseHand {
  public:
    virtual ~TBaseHand() = default;

    // The base versions do nothing and report failure. The card operations get
    // an empty HandNo and set it to the number of the card they acted on; the
    // number is passed through as text and never interpreted.
    virtual void ShowOptionForm() {}                                   // slot 0
    virtual bool OpenPort() { return false; }                          // slot 1
    virtual void Beep() {}                                             // slot 2
    virtual bool ClosePort() { return false; }                         // slot 3
    virtual bool WriteCard(std::string& /*HandNo*/) { return false; }  // slot 4: issue
    virtual bool ReadCard(std::string& /*HandNo*/) { return false; }   // slot 5
    virtual bool EraseCard(std::string& /*HandNo*/) { return false; }  // slot 6: cancel
};

// The hand device of interface kind 4; null when none was registered.
// Nothing frees an object through it.
extern std::atomic<TBaseHand*> Hand;

}  // namespace ostra
