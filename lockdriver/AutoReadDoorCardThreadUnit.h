// The card auto-read thread: reads the encoder through Doorlock without pause
// and tells the front-desk (PMS) client the number of every card newly laid
// on it, one "<ZeltRequest>" notification per fresh TCP connection.
//
// Each TAutoReadDoorCard::Create starts one more thread; the threads do not
// know of each other. They run until StopAutoReadDoorCards, which the
// program calls at exit before it frees the lock object, the log and the
// settings (the lock object's destructor calls it too).
//
// Threads: Create runs on the main thread (it may show a message box). The
// body runs on its own thread and uses Doorlock, LogFile, SysOption (read
// only at creation) and its own socket. StopAutoReadDoorCards may be called
// from any thread but one of the auto-read threads; the list of running
// threads is guarded by a module mutex, each thread's stop flag is atomic
// and its sleeps are woken through its own mutex and condition variable.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/net/TcpClient.h"

namespace ostra {

class TAutoReadDoorCard {
  public:
    // Connects to the front-desk client (SysOption->PmsServer and
    // PmsServerPort, read now), then starts the thread. A failed connect
    // shows and logs "PMS客户端未启动或者连接不正确" with the error's message;
    // the thread starts all the same and connects again for its first card.
    // The module keeps the object until StopAutoReadDoorCards.
    static void Create();

    ~TAutoReadDoorCard();
    TAutoReadDoorCard(const TAutoReadDoorCard&) = delete;
    TAutoReadDoorCard& operator=(const TAutoReadDoorCard&) = delete;

  private:
    TAutoReadDoorCard() = default;

    void ConnectPms();
    void Execute();
    void SendCardNo();
    // Sleeps up to Milliseconds; true when a stop was asked for.
    bool WaitForStop(int Milliseconds);
    void Terminate();

    friend void StopAutoReadDoorCards();

    TcpClient PmsClient;  // used by the creating thread, then only by the thread
    int64_t LastCardNo = 0;
    int64_t CardNo = 0;

    std::atomic<bool> FTerminated{false};
    std::mutex FSleepMutex;
    std::condition_variable FWake;
    std::thread FThread;
};

// Stops every running auto-read thread and waits for it: a thread in the
// middle of a card read or a notification finishes that first. Afterwards
// no thread uses Doorlock or LogFile any more. New threads may be created
// again later.
void StopAutoReadDoorCards();

// How many auto-read threads are running.
std::size_t AutoReadDoorCardCount();

}  // namespace ostra
