// Keeps the shared objects alive for the requests that run.
//
// Every connection step of the listener runs inside a `TRequestGate::Pass`.
// At shutdown, after the listener has been stopped, the program closes the
// gate and waits until no step runs any more; only then does it free the lock
// object, the record database and the log. A step that would start after the
// gate has closed does not run at all (its connection is closed instead).
//
// Threads: Pass is taken and dropped on connection threads, several at once;
// CloseAndWait runs on the main thread. One mutex and condition variable
// guard the count and the closed flag.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace ostra {

class TRequestGate {
  public:
    class Pass {
      public:
        explicit Pass(TRequestGate& Gate);
        ~Pass();
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        // False when the gate had already closed: the step must not run.
        bool Admitted() const { return Admitted_; }

      private:
        TRequestGate& Gate_;
        bool Admitted_;
    };

    // Refuses every later Pass, then waits up to Timeout for the running
    // ones to end. True when none runs any more.
    bool CloseAndWait(std::chrono::milliseconds Timeout);
    // Admits passes again (a later window of the same process).
    void Reopen();
    std::size_t Running() const;

  private:
    mutable std::mutex Mutex_;
    std::condition_variable Idle_;
    std::size_t Running_ = 0;
    bool Closed_ = false;
};

// The gate of the program's listener.
TRequestGate& RequestGate();

}  // namespace ostra
