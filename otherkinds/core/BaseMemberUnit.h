// The member-card device interface and the one global reference to it.
//
// Threads: WriteCard and ReadCard are called from the listener's connection
// threads, several at once, and from the member test dialog on the main thread;
// the other operations run on the main thread only (Option action, test
// dialog). The service takes no lock around any call: a device that cannot
// serve concurrent calls guards itself.
//
// `Member` is published by the device registry (DeviceRegistryUnit.h) on the
// main thread before the listener starts and is not changed while it runs; it
// is atomic so that connection threads read the published pointer race-free.
#pragma once

#include <atomic>
#include <string>

namespace ostra {

class TBaseMember {
  public:
    virtual ~TBaseMember() = default;

    // The base versions do nothing and report failure.
    virtual void ShowOptionForm() {}            // slot 0
    virtual bool OpenPort() { return false; }   // slot 1
    virtual bool ClosePort() { return false; }  // slot 2
    virtual void Reserved() {}                  // slot 3: never called by the service
    virtual void Beep() {}                      // slot 4

    // Writes a member card. The four texts are passed through unchanged;
    // Channel -1 is the hotel's own member card, 11 the alliance card.
    virtual bool WriteCard(const std::string& CardNo, const std::string& Text2,  // slot 5
                           const std::string& Text3, const std::string& Text4, int Channel);

    // Reads a member card. The caller empties the five outputs before the call;
    // the device fills those it has.
    virtual bool ReadCard(bool Flag, std::string& CardNo, std::string& Password,  // slot 6
                          std::string& ExpireDate, std::string& GuestName, std::string& Score,
                          int Channel);
};

// The member device of interface kind 3; null when none was registered.
// Nothing frees an object through it.
extern std::atomic<TBaseMember*> Member;

// The channel texts of the member test dialog.
inline constexpr int HotelMemberCardChannel = -1;
inline constexpr int AllianceCardChannel = 11;

}  // namespace ostra
