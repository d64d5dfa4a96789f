// Apartments: per-thread entry and exit with their counting, the one MTA,
// and the per-apartment state table that servers keep their module state in.
#include <dlfcn.h>

#include <atomic>
#include <map>

#include "platform/com/Runtime.h"

namespace ostra::com {
namespace detail {

namespace {

std::atomic<ApartmentId> g_nextId{1};

// The current MTA and how many threads are in it. Heap-held and never
// destroyed, so that threads still running at process exit find it intact.
struct MtaSlot {
    std::mutex mutex;
    std::shared_ptr<Mta> mta;  // null while no thread is in the MTA
    int threads = 0;
    int apartments = 0;  // live apartments of every kind
};
MtaSlot& Slot() {
    static MtaSlot* slot = new MtaSlot;
    return *slot;
}

struct StateOwners {
    std::mutex mutex;
    std::map<const void*, int> count;  // module base -> live state values
};
StateOwners& Owners() {
    static StateOwners* owners = new StateOwners;
    return *owners;
}

const void* ModuleBase(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0) return nullptr;
    return info.dli_fbase;
}

void LeaveApartment(ThreadState& ts) {
    std::shared_ptr<Apartment> apartment = std::move(ts.apartment);
    const ApartmentKind kind = ts.kind;
    ts.kind = ApartmentKind::None;
    ts.count = 0;
    if (kind == ApartmentKind::SingleThreaded) {
        // The thread stays known as its apartment while the state goes, so
        // that a server's clean-up may still look its state up.
        ts.apartment = apartment;
        apartment->DestroyStates();
        ts.apartment.reset();
        ApartmentEnded();
        return;
    }
    std::shared_ptr<Mta> ending;
    {
        MtaSlot& slot = Slot();
        std::lock_guard guard(slot.mutex);
        if (--slot.threads == 0 && slot.mta == apartment) ending = std::move(slot.mta);
    }
    if (ending) {
        ending->End();
        ApartmentEnded();
    }
}

}  // namespace

Apartment::Apartment(ApartmentKind kind) : id_(g_nextId++), kind_(kind) {}

HRESULT Apartment::GetState(const void* key, void* (*make)(), void (*destroy)(void*), void** out) {
    if (void* found = FindState(key)) {
        *out = found;
        return S_OK;
    }
    // Made outside the lock: the server's constructor may use the runtime.
    void* value = make();
    std::unique_lock lock(mutex_);
    for (const Entry& e : states_)
        if (e.key == key) {  // another thread of the MTA was quicker
            lock.unlock();
            destroy(value);
            *out = FindState(key);
            return S_OK;
        }
    states_.push_back(Entry{key, value, destroy});
    NoteStateCreated(destroy);
    *out = value;
    return S_OK;
}

void* Apartment::FindState(const void* key) {
    std::lock_guard guard(mutex_);
    for (const Entry& e : states_)
        if (e.key == key) return e.value;
    return nullptr;
}

void Apartment::DestroyStates() {
    for (;;) {
        Entry e;
        {
            std::lock_guard guard(mutex_);
            if (states_.empty()) return;
            e = states_.back();
            states_.pop_back();
        }
        e.destroy(e.value);
        NoteStateDestroyed(e.destroy);
    }
}

std::shared_ptr<HostApartment> Mta::Host() {
    std::lock_guard guard(hostMutex_);
    if (!host_) {
        host_ = std::make_shared<HostApartment>();
        host_->Start();
    }
    return host_;
}

void Mta::End() {
    std::shared_ptr<HostApartment> host;
    {
        std::lock_guard guard(hostMutex_);
        host = std::move(host_);
    }
    if (host) host->Stop();
    DestroyStates();
}

ThreadState::~ThreadState() {
    // A thread that ends inside an apartment leaves it, so that its state
    // is destroyed and the MTA can end.
    if (count > 0) LeaveApartment(*this);
}

ThreadState& CurrentThread() {
    thread_local ThreadState state;
    return state;
}

void NoteStateCreated(void (*destroy)(void*)) {
    const void* base = ModuleBase(reinterpret_cast<const void*>(destroy));
    StateOwners& owners = Owners();
    std::lock_guard guard(owners.mutex);
    ++owners.count[base];
}

void NoteStateDestroyed(void (*destroy)(void*)) {
    const void* base = ModuleBase(reinterpret_cast<const void*>(destroy));
    StateOwners& owners = Owners();
    std::lock_guard guard(owners.mutex);
    auto it = owners.count.find(base);
    if (it != owners.count.end() && --it->second <= 0) owners.count.erase(it);
}

bool ModuleOwnsState(const void* base) {
    StateOwners& owners = Owners();
    std::lock_guard guard(owners.mutex);
    return owners.count.count(base) != 0;
}

void ApartmentStarted() {
    MtaSlot& slot = Slot();
    std::lock_guard guard(slot.mutex);
    ++slot.apartments;
}

void ApartmentEnded() {
    bool last = false;
    {
        MtaSlot& slot = Slot();
        std::lock_guard guard(slot.mutex);
        last = --slot.apartments == 0;
    }
    if (last) CoFreeUnusedLibraries();
}

}  // namespace detail

using detail::CurrentThread;
using detail::ThreadState;

HRESULT CoInitializeEx(void* /*reserved*/, std::uint32_t coinit) {
    if (coinit != COINIT_MULTITHREADED && coinit != COINIT_APARTMENTTHREADED) return E_INVALIDARG;
    const ApartmentKind wanted = coinit == COINIT_MULTITHREADED ? ApartmentKind::MultiThreaded
                                                                : ApartmentKind::SingleThreaded;
    ThreadState& ts = CurrentThread();
    if (ts.count > 0) {
        if (ts.kind != wanted) return RPC_E_CHANGED_MODE;
        ++ts.count;
        return S_FALSE;
    }
    if (wanted == ApartmentKind::SingleThreaded) {
        detail::ApartmentStarted();
        ts.apartment = std::make_shared<detail::Apartment>(ApartmentKind::SingleThreaded);
    } else {
        detail::MtaSlot& slot = detail::Slot();
        std::lock_guard guard(slot.mutex);
        if (!slot.mta) {
            slot.mta = std::make_shared<detail::Mta>();
            ++slot.apartments;
        }
        ++slot.threads;
        ts.apartment = slot.mta;
    }
    ts.kind = wanted;
    ts.count = 1;
    return S_OK;
}

void CoUninitialize() {
    ThreadState& ts = CurrentThread();
    if (ts.count == 0) return;
    if (--ts.count > 0) return;
    detail::LeaveApartment(ts);
}

ApartmentKind CurrentApartmentKind() {
    return CurrentThread().kind;
}

ApartmentId CurrentApartmentId() {
    ThreadState& ts = CurrentThread();
    return ts.apartment ? ts.apartment->id() : 0;
}

HRESULT CoGetApartmentState(const void* key, void* (*make)(), void (*destroy)(void*), void** out) {
    if (out == nullptr || make == nullptr || destroy == nullptr) return E_POINTER;
    *out = nullptr;
    ThreadState& ts = CurrentThread();
    if (!ts.apartment) return CO_E_NOTINITIALIZED;
    return ts.apartment->GetState(key, make, destroy, out);
}

void* CoFindApartmentState(const void* key) {
    ThreadState& ts = CurrentThread();
    return ts.apartment ? ts.apartment->FindState(key) : nullptr;
}

}  // namespace ostra::com
