// The police guest-registration device interface, its guest record and the one
// global reference to the device.
//
// Threads: GetGuest is called from the listener's connection threads, several
// at once, and from the main window's Test action on the main thread;
// ShowOptionForm runs on the main thread. The service takes no lock: the
// device keeps a returned guest valid while a reply is built from it (it stays
// the device's; nobody else frees or keeps it).
//
// `Police` is published by the device registry (DeviceRegistryUnit.h) on the
// main thread before the listener starts and is not changed while it runs; it
// is atomic so that connection threads read the published pointer race-free.
#pragma once

#include <atomic>
#include <string>

namespace ostra {

// The guest as the police device reports it; twelve members in this order.
// IdCardTypeID and SalutationID are never read: the Guest element always
// carries IdCardTypeID 11 and computes SalutationID from GenderID.
struct TGuest {
    std::string RoomNo;
    std::string EnterTime;
    std::string IdCardTypeID;  // not read
    std::string IdCardNo;
    std::string Name;
    std::string Nationality;
    std::string GenderID;
    std::string SalutationID;  // not read
    std::string CountryCode;
    std::string ProvinceCode;
    std::string Address;
    std::string Birthday;
};

class TBasePolice {
  public:
    virtual ~TBasePolice() = default;

    virtual void ShowOptionForm() {}  // slot 0
    // The current guest, or null when there is none.
    virtual TGuest* GetGuest() { return nullptr; }  // slot 1
};

// The police device of interface kind 2; null when none was registered.
// Nothing frees an object through it.
extern std::atomic<TBasePolice*> Police;

}  // namespace ostra
