// A small in-process automation server for the runtime's tests: class
// "OstraTest.Probe", apartment-threaded, late-bound through a static
// description, with a per-apartment counter.
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/com/Com.h"
#include "platform/com/RefCounted.h"

using namespace ostra::com;

namespace {

constexpr Guid kLibId = *ParseGuid("{0B7C3F2E-5D41-4C7B-9E3A-6A1F2B3C4D50}");
constexpr IID kIidProbe = *ParseGuid("{0B7C3F2E-5D41-4C7B-9E3A-6A1F2B3C4D51}");
constexpr CLSID kClsidProbe = *ParseGuid("{0B7C3F2E-5D41-4C7B-9E3A-6A1F2B3C4D52}");
constexpr const char* kProgId = "OstraTest.Probe";

enum : DISPID { kAdd = 1, kAppend, kFail, kThrowStd, kEnter, kApartment, kCount, kOptional };

constexpr ParamDesc kAddParams[] = {{"a", VT_I2, PARAMFLAG_FIN},
                                    {"b", VT_I4, PARAMFLAG_FIN},
                                    {"sum", VT_BYREF | VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kAppendParams[] = {
    {"Text", VT_BYREF | VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOUT},
    {"Suffix", VT_BSTR, PARAMFLAG_FIN},
    {"len", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kFailParams[] = {{"code", VT_I4, PARAMFLAG_FIN},
                                     {"message", VT_BSTR, PARAMFLAG_FIN},
                                     {"r", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kThrowParams[] = {{"r", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kEnterParams[] = {{"r", VT_BYREF | VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kOptionalParams[] = {
    {"port", VT_VARIANT, PARAMFLAG_FIN | PARAMFLAG_FOPT},
    {"baud", VT_I2, PARAMFLAG_FIN | PARAMFLAG_FOPT},
    {"r", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};

constexpr FuncDesc kFuncs[] = {
    {kAdd, "Add", kAddParams},
    {kAppend, "Append", kAppendParams},
    {kFail, "Fail", kFailParams},
    {kThrowStd, "ThrowStd", kThrowParams},
    // Records the calling thread and whether another call was inside at
    // the same time; returns the number of calls that overlapped so far.
    {kEnter, "Enter", kEnterParams},
    {kApartment, "ApartmentId", kEnterParams},
    // Raises this apartment's counter and returns it.
    {kCount, "CountInApartment", kEnterParams},
    {kOptional, "Optional", kOptionalParams},
};

constexpr InterfaceDesc kProbeItf{"_Probe",
                                  kIidProbe,
                                  1,
                                  0,
                                  TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                                      TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE,
                                  kFuncs};
constexpr CoClassDesc kProbeClass{"Probe", kClsidProbe, 1, 0, TYPEFLAG_FCANCREATE, &kProbeItf};
constexpr const InterfaceDesc* kItfs[] = {&kProbeItf};
constexpr const CoClassDesc* kClasses[] = {&kProbeClass};
constexpr TypeLibDesc kLib{"OstraTest", kLibId, 16, 0, 0x0409, kItfs, kClasses};

std::atomic<int> g_objects{0};
std::atomic<int> g_locks{0};
std::atomic<int> g_inside{0};
std::atomic<int> g_overlaps{0};
std::atomic<int> g_statesDestroyed{0};

struct ApartmentCounter {
    int value = 0;
    ~ApartmentCounter() { ++g_statesDestroyed; }
};
ApartmentLocal<ApartmentCounter> g_counter;

class Probe final : public RefCounted<IDispatch> {
  public:
    Probe() : RefCounted(1) { ++g_objects; }

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IUnknown::kIid || iid == IDispatch::kIid || iid == kIidProbe) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT GetTypeInfoCount(std::uint32_t* n) override {
        *n = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t index, LCID, const InterfaceDesc** info) override {
        if (index != 0) return DISP_E_BADINDEX;
        *info = &kProbeItf;
        return S_OK;
    }
    HRESULT GetIDsOfNames(const IID&, const char* const* names, std::uint32_t count, LCID,
                          DISPID* ids) override {
        return DispGetIDsOfNames(kProbeItf, names, count, ids);
    }
    HRESULT Invoke(DISPID member, const IID&, LCID, std::uint16_t flags, DispParams* params,
                   Variant* result, ExcepInfo* excep, std::uint32_t* argErr) override {
        return DispInvoke(kProbeItf, this, &Body, kProgId, member, flags, params, result, excep,
                          argErr);
    }

  private:
    ~Probe() override { --g_objects; }

    static HRESULT Body(void*, const FuncDesc& fn, std::span<Variant> args, Variant* ret) {
        switch (fn.memid) {
            case kAdd:
                *ret = Variant::I4(args[0].i2() + args[1].i4());
                return S_OK;
            case kAppend:
                *args[0].pstr() += args[1].str();
                *ret = Variant::I2(static_cast<std::int16_t>(args[0].pstr()->size()));
                return S_OK;
            case kFail:
                throw ComError(args[0].i4(), kProgId, args[1].str());
            case kThrowStd:
                throw std::runtime_error("probe failed");
            case kEnter: {
                if (++g_inside != 1) ++g_overlaps;
                // Stays inside long enough for a call that is not kept out to
                // come in. A sleep, not a spin: on a busy machine every yield
                // would hand the processor away and the calls would crawl.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                --g_inside;
                *ret = Variant::I4(g_overlaps.load());
                return S_OK;
            }
            case kApartment:
                *ret = Variant::I4(static_cast<std::int32_t>(CurrentApartmentId()));
                return S_OK;
            case kCount:
                *ret = Variant::I4(++g_counter.Get().value);
                return S_OK;
            case kOptional:
                *ret = Variant::I2(args[0].IsMissing() ? std::int16_t{-1} : args[1].i2());
                return S_OK;
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }
};

class Factory final : public IClassFactory {
  public:
    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IUnknown::kIid || iid == IClassFactory::kIid) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++g_locks); }
    ULONG Release() override { return static_cast<ULONG>(--g_locks); }
    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* p = new Probe;
        HRESULT hr = p->QueryInterface(iid, out);
        p->Release();
        return hr;
    }
    HRESULT LockServer(bool lock) override {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};
Factory g_factory;

}  // namespace

extern "C" {

HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (clsid != kClsidProbe) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

HRESULT DllCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

HRESULT DllRegisterServer() {
    std::string path = ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
    if (path.empty()) return SELFREG_E_CLASS;
    if (Failed(RegisterTypeLib(kLib, path))) return SELFREG_E_TYPELIB;
    const std::string clsid = GuidToString(kClsidProbe);
    HRESULT hr = RegSetValue("CLSID\\" + clsid, "", "Probe");
    if (Succeeded(hr)) hr = RegSetValue("CLSID\\" + clsid + "\\InprocServer32", "", path);
    if (Succeeded(hr))
        hr = RegSetValue("CLSID\\" + clsid + "\\InprocServer32", "ThreadingModel", "Apartment");
    if (Succeeded(hr)) hr = RegSetValue("CLSID\\" + clsid + "\\ProgID", "", kProgId);
    if (Succeeded(hr)) hr = RegSetValue(kProgId, "", "Probe");
    if (Succeeded(hr)) hr = RegSetValue(std::string(kProgId) + "\\CLSID", "", clsid);
    return Succeeded(hr) ? S_OK : SELFREG_E_CLASS;
}

HRESULT DllUnregisterServer() {
    HRESULT hr = RegDeleteTree("CLSID\\" + GuidToString(kClsidProbe));
    if (Succeeded(hr)) hr = RegDeleteTree(kProgId);
    if (Succeeded(hr)) hr = UnRegisterTypeLib(kLib);
    return Succeeded(hr) ? S_OK : SELFREG_E_CLASS;
}

// For the tests only: how many apartment counters have been destroyed.
int ProbeStatesDestroyed() {
    return g_statesDestroyed.load();
}

}  // extern "C"
