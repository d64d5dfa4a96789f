// The reference count of an object that frees itself: AddRef and Release
// return the new count, and the last Release deletes the object. The count is
// atomic, so any thread may take or drop a reference; the rest of the object
// is guarded (or not) as the object itself says.
#pragma once

#include <atomic>

#include "platform/com/Com.h"

namespace ostra::com {

// Interface is the interface the object implements (IDispatch, IClassFactory
// or one derived from them). Initial is the count the object starts with.
template <class Interface>
class RefCounted : public Interface {
  public:
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

  protected:
    explicit RefCounted(ULONG Initial = 0) : refs_(Initial) {}
    virtual ~RefCounted() = default;

  private:
    std::atomic<ULONG> refs_;
};

}  // namespace ostra::com
