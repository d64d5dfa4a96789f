#include "lockdriver/EncoderLock.h"

namespace ostra {

void TEncoderLock::Acquire() {
    std::unique_lock<std::mutex> Guard(FMutex);
    if (!FBusy && FWaiting.empty()) {
        FBusy = true;
        return;
    }
    TWaiter Self;
    FWaiting.push_back(&Self);
    Self.Turn.wait(Guard, [&] { return Self.Granted; });
}

void TEncoderLock::Release() {
    std::lock_guard<std::mutex> Guard(FMutex);
    if (FWaiting.empty()) {
        FBusy = false;
        return;
    }
    // Handed straight to the longest waiter; woken under the mutex, it
    // cannot leave (and take its waiter record with it) before we are done.
    TWaiter* Next = FWaiting.front();
    FWaiting.pop_front();
    Next->Granted = true;
    Next->Turn.notify_one();
}

TEncoderLock& TEncoderLock::Instance() {
    static TEncoderLock Lock;
    return Lock;
}

}  // namespace ostra
