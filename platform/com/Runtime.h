// Internals of the runtime shared by its source files: apartments, the host
// single-threaded apartment of the MTA, and the loaded server libraries.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "platform/com/Com.h"

namespace ostra::com::detail {

// One apartment. Its state table is guarded by mutex_: an STA's is used by
// its own thread only, the MTA's by all of its threads at once.
class Apartment {
  public:
    Apartment(ApartmentKind kind);
    virtual ~Apartment() = default;

    ApartmentId id() const { return id_; }
    ApartmentKind kind() const { return kind_; }

    HRESULT GetState(const void* key, void* (*make)(), void (*destroy)(void*), void** out);
    void* FindState(const void* key);
    // Destroys every state value, newest first, on the calling thread (the
    // apartment's own thread, or the thread that ends the MTA).
    void DestroyStates();

  private:
    struct Entry {
        const void* key;
        void* value;
        void (*destroy)(void*);
    };
    const ApartmentId id_;
    const ApartmentKind kind_;
    std::mutex mutex_;
    std::vector<Entry> states_;
};

class Proxy;

// The host STA: one runtime thread that runs, one at a time, every call to
// the apartment-threaded objects that threads of the MTA create. Run() may
// be called from any thread; proxies register here so that the objects
// behind them are released on this thread when the host stops.
class HostApartment : public std::enable_shared_from_this<HostApartment> {
  public:
    HostApartment() = default;
    ~HostApartment();
    void Start();
    // Runs fn on the host thread and waits for it (inline when called on the
    // host thread). RPC_E_DISCONNECTED once the host has stopped.
    HRESULT Run(const std::function<HRESULT()>& fn);
    // Releases every object still held for proxies, ends the host STA and
    // joins the thread. Called once, by the thread that ends the MTA.
    void Stop();
    bool OnHostThread() const { return std::this_thread::get_id() == threadId_; }

    void AddProxy(Proxy* p);
    void RemoveProxy(Proxy* p);

  private:
    struct Task {
        const std::function<HRESULT()>* fn;
        HRESULT hr = S_OK;
        bool done = false;
    };
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_;  // a task was queued or stop was asked
    std::condition_variable done_;  // a task finished
    std::deque<Task*> queue_;
    bool stopping_ = false;
    bool stopped_ = false;
    std::set<Proxy*> proxies_;
    std::thread thread_;
    std::thread::id threadId_;
};

// The MTA: counts its threads and owns the host STA (made on first need).
class Mta : public Apartment {
  public:
    Mta() : Apartment(ApartmentKind::MultiThreaded) {}
    std::shared_ptr<HostApartment> Host();
    // Stops the host STA (if any) and destroys the MTA's states.
    void End();

  private:
    std::mutex hostMutex_;
    std::shared_ptr<HostApartment> host_;
};

// Per-thread apartment membership.
struct ThreadState {
    ApartmentKind kind = ApartmentKind::None;
    int count = 0;
    std::shared_ptr<Apartment> apartment;
    ~ThreadState();
};
ThreadState& CurrentThread();

// Creates an instance in the calling thread's apartment: loads the server
// library (once), asks it for its class factory and the factory for iid.
HRESULT CreateDirect(const std::string& path, const CLSID& clsid, const IID& iid, void** out);
// Wraps an object that lives in host for use from the MTA; takes over one
// reference to unk (released on the host thread). Returns the proxy's
// interface for iid.
HRESULT MakeProxy(const std::shared_ptr<HostApartment>& host, IUnknown* unk, const IID& iid,
                  void** out);

// Live state values per owning module, so that a library holding state is
// not unloaded.
void NoteStateCreated(void (*destroy)(void*));
void NoteStateDestroyed(void (*destroy)(void*));
bool ModuleOwnsState(const void* base);

// Counts apartments of the process; the last one to end frees unused libraries.
void ApartmentStarted();
void ApartmentEnded();

}  // namespace ostra::com::detail
