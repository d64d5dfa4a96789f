// The automation class MervCard, its class factory and the four exports of
// the in-process server.
#include <atomic>
#include <exception>
#include <new>

#include "cardlib/CardLibError.h"
#include "cardlib/CardSettings.h"
#include "cardlib/MervCardOps.h"
#include "cardlib/ModuleState.h"
#include "cardlib/Pendrix.h"
#include "platform/com/RefCounted.h"

namespace ostra::pendrix {

using namespace ostra::com;
using cardlib::ModuleState;

namespace {

// ---- type description ----

constexpr ParamDesc kOpenPortParams[] = {
    {"port", VT_VARIANT, PARAMFLAG_FIN},
    {"baud", VT_I2, PARAMFLAG_FIN | PARAMFLAG_FOPT},
    {"Value", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
};
constexpr ParamDesc kClosePortParams[] = {
    {"IcDevH", VT_VARIANT, PARAMFLAG_FIN | PARAMFLAG_FOPT},
    {"Value", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
};
constexpr ParamDesc kWriteCardParams[] = {
    {"IcDevH", VT_I4, PARAMFLAG_FIN},
    {"EndDate", VT_BSTR, PARAMFLAG_FIN},
    {"CardNo", VT_BYREF | VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOUT},
    {"BldgNo", VT_I2, PARAMFLAG_FIN},
    {"FloorNo", VT_I2, PARAMFLAG_FIN},
    {"Rooms", VT_BSTR, PARAMFLAG_FIN},
    {"HoderName", VT_BSTR, PARAMFLAG_FIN},
    {"Value", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
};
constexpr ParamDesc kReadCardParams[] = {
    {"IcDevH", VT_I4, PARAMFLAG_FIN},
    {"CardNo", VT_BYREF | VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOUT},
    {"RoomNO", VT_BYREF | VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOUT},
    {"EndDate", VT_BYREF | VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOUT},
    {"Value", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
};
constexpr FuncDesc kFuncs[] = {
    {kDispOpenPort, "OpenPort", kOpenPortParams},
    {kDispClosePort, "ClosePort", kClosePortParams},
    {kDispWriteCard, "writeCard", kWriteCardParams},
    {kDispReadCard, "readCard", kReadCardParams},
};
constexpr InterfaceDesc kMervCardInterface{"_MervCard",
                                           kIidMervCard,
                                           1,
                                           0,
                                           TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL |
                                               TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
                                               TYPEFLAG_FDISPATCHABLE,
                                           kFuncs};
constexpr CoClassDesc kMervCardClass{"MervCard", kClsidMervCard,      1,
                                     0,          TYPEFLAG_FCANCREATE, &kMervCardInterface};
constexpr const InterfaceDesc* kInterfaces[] = {&kMervCardInterface};
constexpr const CoClassDesc* kCoClasses[] = {&kMervCardClass};
constexpr TypeLibDesc kTypeLib{"Pendrix", kLibId, 16, 0, 0x0409, kInterfaces, kCoClasses};

// ---- module state ----

ApartmentLocal<ModuleState> g_state;
std::atomic<long> g_objects{0};  // live instances and class factories handed out
std::atomic<long> g_locks{0};    // LockServer(true) not yet undone

void ModuleAnchor() {}

cardlib::IniCardSettings& Settings() {
    static cardlib::IniCardSettings settings(
        cardlib::FolderOfModule(reinterpret_cast<const void*>(&ModuleAnchor)));
    return settings;
}

// Runs a body; a card-library error leaves as a ComError carrying its code
// and message, with this class as its source.
template <typename Body>
int16_t Translated(Body body) {
    try {
        return body();
    } catch (const cardlib::CardLibError& e) {
        throw ComError(e.Code(), kProgId, e.what());
    }
}

// Runs a body for an early-bound call: every failure becomes its code.
template <typename Body>
HRESULT Caught(Body body) {
    try {
        body();
        return S_OK;
    } catch (const ComError& e) {
        return e.hr();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {
        return E_FAIL;
    }
}

// ---- the class ----

class MervCard final : public RefCounted<_MervCard> {
  public:
    MervCard() {
        cardlib::InitializeInstance(g_state.Get());
        ++g_objects;
    }

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IUnknown::kIid || iid == IDispatch::kIid || iid == kIidMervCard) {
            *out = static_cast<_MervCard*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t index, LCID, const InterfaceDesc** info) override {
        if (!info) return E_POINTER;
        if (index != 0) return DISP_E_BADINDEX;
        *info = &kMervCardInterface;
        return S_OK;
    }
    HRESULT GetIDsOfNames(const IID&, const char* const* names, std::uint32_t count, LCID,
                          DISPID* ids) override {
        return DispGetIDsOfNames(kMervCardInterface, names, count, ids);
    }
    HRESULT Invoke(DISPID member, const IID&, LCID, std::uint16_t flags, DispParams* params,
                   Variant* result, ExcepInfo* excep, std::uint32_t* argErr) override {
        return DispInvoke(kMervCardInterface, this, &Dispatch, kProgId, member, flags, params,
                          result, excep, argErr);
    }

    // Early-bound entry points: every failure is a result code.
    HRESULT OpenPort(const Variant& port, const Variant&, int16_t* result) override {
        return Caught([&] { *result = DoOpenPort(port); });
    }
    HRESULT ClosePort(const Variant&, int16_t* result) override {
        return Caught([&] { *result = DoClosePort(); });
    }
    HRESULT writeCard(int32_t IcDevH, const std::string& EndDate, std::string* CardNo,
                      int16_t BldgNo, int16_t FloorNo, const std::string& Rooms,
                      const std::string& HoderName, int16_t* result) override {
        return Caught([&] {
            *result = DoWriteCard(IcDevH, EndDate, *CardNo, BldgNo, FloorNo, Rooms, HoderName);
        });
    }
    HRESULT readCard(int32_t, std::string* CardNo, std::string* RoomNO, std::string* EndDate,
                     int16_t* result) override {
        return Caught([&] { *result = DoReadCard(*CardNo, *RoomNO, *EndDate); });
    }

  private:
    ~MervCard() override { --g_objects; }

    // The bodies. A failure without a result code throws ComError, which
    // DispInvoke hands back as the exception record of the failed call.
    int16_t DoOpenPort(const Variant& port) {
        return Translated([&] {
            Variant number;
            Check(VariantChangeType(&number, port, 0, VT_I4));
            return cardlib::OpenPort(g_state.Get(), cardlib::LyCommDriver(), number.i4());
        });
    }
    int16_t DoClosePort() {
        return Translated(
            [&] { return cardlib::ClosePort(g_state.Get(), cardlib::LyCommDriver()); });
    }
    int16_t DoWriteCard(int32_t IcDevH, const std::string& EndDate, std::string& CardNo,
                        int16_t BldgNo, int16_t FloorNo, const std::string& Rooms,
                        const std::string& HoderName) {
        return Translated([&] {
            cardlib::WriteCardArgs args{IcDevH, EndDate, BldgNo, FloorNo, Rooms, HoderName};
            return cardlib::WriteCard(g_state.Get(), cardlib::LyCommDriver(), Settings(), args,
                                      CardNo);
        });
    }
    int16_t DoReadCard(std::string& CardNo, std::string& RoomNO, std::string& EndDate) {
        return Translated([&] {
            return cardlib::ReadCard(g_state.Get(), cardlib::LyCommDriver(), CardNo, RoomNO,
                                     EndDate);
        });
    }

    static HRESULT Dispatch(void* self, const FuncDesc& fn, std::span<Variant> a, Variant* ret) {
        auto* card = static_cast<MervCard*>(self);
        int16_t r = 0;
        switch (fn.memid) {
            case kDispOpenPort:
                r = card->DoOpenPort(a[0]);
                break;
            case kDispClosePort:
                r = card->DoClosePort();
                break;
            case kDispWriteCard:
                r = card->DoWriteCard(a[0].i4(), a[1].str(), *a[2].pstr(), a[3].i2(), a[4].i2(),
                                      a[5].str(), a[6].str());
                break;
            case kDispReadCard:
                r = card->DoReadCard(*a[1].pstr(), *a[2].pstr(), *a[3].pstr());
                break;
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
        *ret = Variant::I2(r);
        return S_OK;
    }
};

// ---- the class factory ----

class MervCardFactory final : public RefCounted<IClassFactory> {
  public:
    MervCardFactory() { ++g_objects; }

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IUnknown::kIid || iid == IClassFactory::kIid) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        MervCard* card = nullptr;
        try {
            card = new MervCard;
        } catch (const ComError& e) {
            return e.hr();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        card->AddRef();
        HRESULT hr = card->QueryInterface(iid, out);
        card->Release();
        return hr;
    }
    HRESULT LockServer(bool lock) override {
        if (lock)
            ++g_locks;
        else if (g_locks > 0)
            --g_locks;
        return S_OK;
    }

  private:
    ~MervCardFactory() override { --g_objects; }
};

std::string ClassKey() {
    return "CLSID\\" + GuidToString(kClsidMervCard);
}

HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != kClsidMervCard) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) MervCardFactory;
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

HRESULT CanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

HRESULT RegisterServer() {
    std::string path = ModulePathOf(reinterpret_cast<const void*>(&ModuleAnchor));
    if (path.empty()) return SELFREG_E_CLASS;
    if (Failed(RegisterTypeLib(kTypeLib, path))) return SELFREG_E_TYPELIB;
    std::string clsid = GuidToString(kClsidMervCard);
    std::string key = ClassKey();
    const std::pair<std::string, std::pair<std::string, std::string>> values[] = {
        {key, {"", "MervCard"}},
        {key + "\\InprocServer32", {"", path}},
        {key + "\\InprocServer32", {"ThreadingModel", "Apartment"}},
        {key + "\\ProgID", {"", kProgId}},
        {key + "\\TypeLib", {"", GuidToString(kLibId)}},
        {key + "\\Version", {"", "1.0"}},
        {kProgId, {"", "MervCard"}},
        {std::string(kProgId) + "\\CLSID", {"", clsid}},
    };
    for (const auto& [k, v] : values)
        if (Failed(RegSetValue(k, v.first, v.second))) return SELFREG_E_CLASS;
    return S_OK;
}

HRESULT UnregisterServer() {
    HRESULT hr = S_OK;
    if (Failed(RegDeleteTree(kProgId))) hr = SELFREG_E_CLASS;
    if (Failed(RegDeleteTree(ClassKey()))) hr = SELFREG_E_CLASS;
    if (Failed(UnRegisterTypeLib(kTypeLib)) && hr == S_OK) hr = SELFREG_E_TYPELIB;
    return hr;
}

}  // namespace

const TypeLibDesc& PendrixTypeLib() {
    return kTypeLib;
}

}  // namespace ostra::pendrix

// ---- exports ----

using ostra::com::CLSID;
using ostra::com::HRESULT;
using ostra::com::IID;

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(const CLSID& clsid,
                                                                            const IID& iid,
                                                                            void** out) {
    return ostra::pendrix::GetClassObject(clsid, iid, out);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return ostra::pendrix::CanUnloadNow();
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    return ostra::pendrix::RegisterServer();
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    return ostra::pendrix::UnregisterServer();
}
