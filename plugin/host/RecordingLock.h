// The host's lock object: it records every call as one line on standard
// output ("lock <operation>|<arguments>...") and answers with the results it
// was given. Stands in for a real encoder in the host program.
//
// Threads: the library calls it from its connection threads and from the
// user-interface thread at once; the output lines are serialised by a mutex
// and the answers are fixed before the first call.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/PluginDoorlockUnit.h"

namespace ostra::host {

struct TLockAnswers {
    bool WriteOk = true;
    int64_t WriteCardNo = 1234;  // written also when the write fails, if not 0
    bool ReadOk = true;
    int64_t ReadCardNo = 4321;  // written also when the read fails, if not 0
    bool EraseOk = true;
    bool BlockWrite = false;  // WriteCard waits for ReleaseWrites
};

// Lets every WriteCard that waits (and every later one) return.
void ReleaseWrites();

class TRecordingLock final : public kestrane::TBaseDoorlock {
  public:
    explicit TRecordingLock(TLockAnswers Answers) : Answers(Answers) {}

    void ShowOptionForm() override;
    bool OpenPort() override;
    void Beep() override;
    bool ClosePort() override;
    bool WriteCard(std::string RegisterId, std::string BuildingCode, std::string FloorCode,
                   std::string RoomNo, std::string GuestName, kestrane::TDateTime BeginDate,
                   kestrane::TDateTime BeginTime, kestrane::TDateTime EndDate,
                   kestrane::TDateTime EndTime, int64_t& CardNo) override;
    bool ReadCard(int64_t& CardNo) override;
    bool EraseCard() override;

  private:
    const TLockAnswers Answers;
};

// Writes one line to standard output and flushes it (any thread).
void Say(const std::string& Line);

}  // namespace ostra::host
