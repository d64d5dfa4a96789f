#include "plugin/LibraryPin.h"

#include <dlfcn.h>

#include <atomic>

namespace ostra::kestrane {
namespace {
std::atomic<bool> Pinned{false};
}

bool PinLibrary() {
    Pinned = true;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&PinLibrary), &info) || !info.dli_fname) return false;
    // RTLD_NOLOAD finds the object already loaded; RTLD_NODELETE keeps it
    // mapped through every later dlclose. The extra reference is never dropped.
    void* self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return self != nullptr;
}

bool LibraryPinned() {
    return Pinned;
}

}  // namespace ostra::kestrane
