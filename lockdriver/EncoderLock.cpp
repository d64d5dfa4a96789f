#include "lockdriver/EncoderLock.h"

namespace ostra {

void TEncoderLock::Acquire() {
    std::unique_lock<std::mutex> Guard(FMutex);
    const uint64_t Ticket = FNextTicket++;
    FTurnChanged.wait(Guard, [&] { return FServing == Ticket; });
}

void TEncoderLock::Release() {
    {
        std::lock_guard<std::mutex> Guard(FMutex);
        ++FServing;
    }
    FTurnChanged.notify_all();
}

TEncoderLock& TEncoderLock::Instance() {
    static TEncoderLock Lock;
    return Lock;
}

}  // namespace ostra
