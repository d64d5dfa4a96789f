// Creation of registered classes: ProgID look-up, loading the in-process
// server library once, its class factory, and unloading libraries that say
// they may go.
#include <dlfcn.h>

#include "platform/com/Runtime.h"

namespace ostra::com {
namespace detail {

namespace {

struct Library {
    std::string path;
    void* handle = nullptr;
    const void* base = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
};

// Loaded server libraries; the mutex is held while a library is loaded,
// asked for a class factory or unloaded, so none goes while in use.
struct Libraries {
    std::mutex mutex;
    std::vector<Library> loaded;
};
Libraries& Libs() {
    static Libraries* libs = new Libraries;
    return *libs;
}

HRESULT GetClassFactory(const std::string& path, const CLSID& clsid, IClassFactory** out) {
    Libraries& libs = Libs();
    std::lock_guard guard(libs.mutex);
    Library* lib = nullptr;
    for (Library& l : libs.loaded)
        if (l.path == path) lib = &l;
    if (lib == nullptr) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return CO_E_DLLNOTFOUND;
        Library l;
        l.path = path;
        l.handle = handle;
        l.getClassObject =
            reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
        l.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
        if (l.getClassObject == nullptr) {
            dlclose(handle);
            return CO_E_ERRORINDLL;
        }
        Dl_info info{};
        if (dladdr(reinterpret_cast<const void*>(l.getClassObject), &info) != 0)
            l.base = info.dli_fbase;
        libs.loaded.push_back(std::move(l));
        lib = &libs.loaded.back();
    }
    void* p = nullptr;
    HRESULT hr = lib->getClassObject(clsid, IClassFactory::kIid, &p);
    if (Succeeded(hr) && p == nullptr) hr = E_POINTER;
    if (Succeeded(hr)) *out = static_cast<IClassFactory*>(p);
    return hr;
}

bool SameTextNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

HRESULT CreateDirect(const std::string& path, const CLSID& clsid, const IID& iid, void** out) {
    IClassFactory* factory = nullptr;
    HRESULT hr = GetClassFactory(path, clsid, &factory);
    if (Failed(hr)) return hr;
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
    return hr;
}

}  // namespace detail

HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    if (progid.empty() || progid.find_first_of("\\[]\r\n") != std::string_view::npos)
        return CO_E_CLASSSTRING;
    std::string text;
    if (Failed(RegGetValue(std::string(progid) + "\\CLSID", "", &text))) return CO_E_CLASSSTRING;
    std::optional<Guid> g = ParseGuid(text);
    if (!g) return CO_E_CLASSSTRING;
    *clsid = *g;
    return S_OK;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t clsctx, const IID& iid,
                         void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    detail::ThreadState& ts = detail::CurrentThread();
    if (ts.kind == ApartmentKind::None) return CO_E_NOTINITIALIZED;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if ((clsctx & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;

    const std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
    std::string path;
    if (Failed(RegGetValue(key, "", &path)) || path.empty()) return REGDB_E_CLASSNOTREG;
    std::string model;
    if (Failed(RegGetValue(key, "ThreadingModel", &model))) model.clear();
    const bool apartmentThreaded = model.empty() || detail::SameTextNoCase(model, "Apartment");

    if (!apartmentThreaded || ts.kind == ApartmentKind::SingleThreaded)
        return detail::CreateDirect(path, clsid, iid, out);

    // From the MTA: the object lives in the host STA, reached through a proxy.
    auto mta = std::static_pointer_cast<detail::Mta>(ts.apartment);
    std::shared_ptr<detail::HostApartment> host = mta->Host();
    void* unk = nullptr;
    HRESULT hr = host->Run([&] { return detail::CreateDirect(path, clsid, IUnknown::kIid, &unk); });
    if (Failed(hr)) return hr;
    if (unk == nullptr) return E_POINTER;
    return detail::MakeProxy(host, static_cast<IUnknown*>(unk), iid, out);
}

void CoFreeUnusedLibraries() {
    detail::Libraries& libs = detail::Libs();
    std::lock_guard guard(libs.mutex);
    std::erase_if(libs.loaded, [](const detail::Library& l) {
        if (l.canUnloadNow == nullptr || l.canUnloadNow() != S_OK) return false;
        if (detail::ModuleOwnsState(l.base)) return false;
        dlclose(l.handle);
        return true;
    });
}

}  // namespace ostra::com
