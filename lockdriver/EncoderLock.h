// One turn at a time on the card encoder.
//
// The encoder is a single device: a card operation opens its port, talks to
// the card and closes the port again, and nothing else may touch the encoder
// in between. Card operations come from every connection thread, from the
// auto-read thread (which reads without pause) and from the test dialog on
// the main thread. A plain mutex would let the auto-read thread take the
// encoder again and again while a front-desk request waits; this lock hands
// the encoder out strictly in the order in which the callers asked for it.
//
// Threads: any thread may construct a TEncoderTurn; the queue of waiting
// callers is guarded by the lock's own mutex. Each waiter sleeps on a
// condition of its own and Release wakes only the next one, so a turn
// handed on costs one wake-up however many wait. A turn must not be taken
// twice on one thread (the second would wait for the first for ever).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace ostra {

class TEncoderLock {
  public:
    void Acquire();
    void Release();

    // The one lock of the process that every card operation goes through.
    static TEncoderLock& Instance();

  private:
    struct TWaiter {
        std::condition_variable Turn;
        bool Granted = false;
    };
    std::mutex FMutex;
    bool FBusy = false;             // someone holds the encoder
    std::deque<TWaiter*> FWaiting;  // in the order they asked
};

// Holds the encoder for the length of one scope.
class TEncoderTurn {
  public:
    explicit TEncoderTurn(TEncoderLock& Lock = TEncoderLock::Instance()) : FLock(Lock) {
        FLock.Acquire();
    }
    ~TEncoderTurn() { FLock.Release(); }
    TEncoderTurn(const TEncoderTurn&) = delete;
    TEncoderTurn& operator=(const TEncoderTurn&) = delete;

  private:
    TEncoderLock& FLock;
};

}  // namespace ostra
