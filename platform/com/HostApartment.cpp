// The host single-threaded apartment of the MTA and the proxies through
// which MTA threads reach the apartment-threaded objects living there.
#include <atomic>

#include "platform/com/Runtime.h"

namespace ostra::com::detail {

// Stands for one object of the host STA in the MTA. Counts its references
// itself (any thread, atomically); holds one reference to the object's
// IUnknown and, when it has one, its IDispatch. Those two pointers are used
// and released only on the host thread, so they need no lock.
class Proxy final : public IDispatch {
  public:
    Proxy(std::shared_ptr<HostApartment> host, IUnknown* unk, IDispatch* disp)
        : host_(std::move(host)), unk_(unk), disp_(disp) {
        host_->AddProxy(this);
    }

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IUnknown::kIid || (iid == IDispatch::kIid && hasDispatch_)) {
            AddRef();
            *out = static_cast<IDispatch*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            host_->Run([this] {
                DisconnectOnHost();
                return S_OK;
            });
            host_->RemoveProxy(this);
            delete this;
        }
        return left;
    }

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        return host_->Run(
            [&] { return disp_ ? disp_->GetTypeInfoCount(count) : RPC_E_DISCONNECTED; });
    }
    HRESULT GetTypeInfo(std::uint32_t index, LCID lcid, const InterfaceDesc** info) override {
        return host_->Run(
            [&] { return disp_ ? disp_->GetTypeInfo(index, lcid, info) : RPC_E_DISCONNECTED; });
    }
    HRESULT GetIDsOfNames(const IID& iid, const char* const* names, std::uint32_t count, LCID lcid,
                          DISPID* ids) override {
        return host_->Run([&] {
            return disp_ ? disp_->GetIDsOfNames(iid, names, count, lcid, ids) : RPC_E_DISCONNECTED;
        });
    }
    HRESULT Invoke(DISPID member, const IID& iid, LCID lcid, std::uint16_t flags,
                   DispParams* params, Variant* result, ExcepInfo* excep,
                   std::uint32_t* argErr) override {
        return host_->Run([&] {
            return disp_ ? disp_->Invoke(member, iid, lcid, flags, params, result, excep, argErr)
                         : RPC_E_DISCONNECTED;
        });
    }

    // Host thread only: lets go of the object.
    void DisconnectOnHost() {
        if (IDispatch* d = std::exchange(disp_, nullptr)) d->Release();
        if (IUnknown* u = std::exchange(unk_, nullptr)) u->Release();
    }

    void SetHasDispatch() { hasDispatch_ = true; }

  private:
    ~Proxy() = default;

    std::shared_ptr<HostApartment> host_;
    std::atomic<ULONG> refs_{1};
    IUnknown* unk_;             // host thread only
    IDispatch* disp_;           // host thread only
    bool hasDispatch_ = false;  // fixed before the proxy is handed out
};

HostApartment::~HostApartment() {
    if (thread_.joinable()) thread_.detach();  // only at process exit: never wait then
}

void HostApartment::Start() {
    std::lock_guard guard(mutex_);
    thread_ = std::thread([this] { Loop(); });
    threadId_ = thread_.get_id();
}

void HostApartment::Loop() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!queue_.empty()) {
            Task* task = queue_.front();
            queue_.pop_front();
            lock.unlock();
            HRESULT hr = E_UNEXPECTED;
            try {
                hr = (*task->fn)();
            } catch (...) {
            }
            lock.lock();
            task->hr = hr;
            task->done = true;
            done_.notify_all();
            continue;
        }
        if (stopping_) {
            // Let go of what the remaining proxies hold, one by one. A proxy
            // cannot be deleted meanwhile: its final release runs a task on
            // this thread first.
            if (!proxies_.empty()) {
                Proxy* p = *proxies_.begin();
                proxies_.erase(proxies_.begin());
                lock.unlock();
                p->DisconnectOnHost();
                lock.lock();
                continue;
            }
            break;
        }
        wake_.wait(lock);
    }
    stopped_ = true;  // from here on Run refuses, so nothing waits for this thread
    lock.unlock();
    CoUninitialize();
}

HRESULT HostApartment::Run(const std::function<HRESULT()>& fn) {
    if (OnHostThread()) return fn();
    Task task{&fn};
    std::unique_lock lock(mutex_);
    if (stopped_) return RPC_E_DISCONNECTED;
    queue_.push_back(&task);
    wake_.notify_one();
    done_.wait(lock, [&] { return task.done; });
    return task.hr;
}

void HostApartment::Stop() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable() && !OnHostThread()) thread_.join();
}

void HostApartment::AddProxy(Proxy* p) {
    std::lock_guard guard(mutex_);
    proxies_.insert(p);
}

void HostApartment::RemoveProxy(Proxy* p) {
    std::lock_guard guard(mutex_);
    proxies_.erase(p);
}

HRESULT MakeProxy(const std::shared_ptr<HostApartment>& host, IUnknown* unk, const IID& iid,
                  void** out) {
    IDispatch* disp = nullptr;
    host->Run([&] {
        void* p = nullptr;
        if (Succeeded(unk->QueryInterface(IDispatch::kIid, &p))) disp = static_cast<IDispatch*>(p);
        return S_OK;
    });
    auto* proxy = new Proxy(host, unk, disp);
    if (disp) proxy->SetHasDispatch();
    HRESULT hr = proxy->QueryInterface(iid, out);
    proxy->Release();  // the creation reference; the object goes when QueryInterface failed
    return hr;
}

}  // namespace ostra::com::detail
