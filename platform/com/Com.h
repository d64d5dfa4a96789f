// The small component runtime that the service and the card library share:
// result codes, GUIDs, reference-counted interfaces, VARIANT values and their
// coercions, apartments, the class registry, creation by ProgID, late-bound
// calls by name and the in-process server side (class factory, exports,
// self-registration, per-apartment module state).
//
// One shared library (`ostracom`), loaded once per process; every server
// library links it, so all share one set of apartments and one registry.
//
// Threads
// - CoInitializeEx/CoUninitialize are per thread, as on the platform: a thread
//   is in no apartment, in its own single-threaded apartment (STA) or in the
//   one multithreaded apartment (MTA).
// - An object created in an STA is used directly by that thread.
// - An apartment-threaded class ("Apartment" or no threading model) created
//   from the MTA lives in the host STA, one runtime thread that the MTA owns.
//   The caller gets a proxy; every call through it (AddRef, Release,
//   QueryInterface, GetIDsOfNames, Invoke, creation and destruction) is
//   carried to the host thread and runs there one call at a time while the
//   caller waits. The host STA ends when the MTA ends (the last MTA thread's
//   final CoUninitialize); objects still referenced then are released there
//   and their proxies answer RPC_E_DISCONNECTED.
// - "Free", "Both" and "Neutral" classes are created in the caller's
//   apartment and called directly.
// - All functions here may be called from any thread; the runtime guards its
//   own tables. Interfaces of objects are not thread-safe unless the object
//   says so.
//
// Text: a BSTR is a UTF-8 std::string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostra::com {

// ---------------------------------------------------------------------------
// Result codes

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;

constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}
constexpr HRESULT MakeHr(std::uint32_t v) {
    return static_cast<HRESULT>(v);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFF);
inline constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHr(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHr(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHr(0x80040111);
inline constexpr HRESULT REGDB_E_READREGDB = MakeHr(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MakeHr(0x80040151);
inline constexpr HRESULT REGDB_E_KEYMISSING = MakeHr(0x80040152);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154);
inline constexpr HRESULT SELFREG_E_TYPELIB = MakeHr(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHr(0x80040201);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHr(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHr(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHr(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHr(0x800401F9);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHr(0x80010106);
inline constexpr HRESULT RPC_E_DISCONNECTED = MakeHr(0x80010108);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHr(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHr(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHr(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHr(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHr(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHr(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHr(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHr(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHr(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHr(0x8002000B);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHr(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHr(0x8002000F);
inline constexpr HRESULT TYPE_E_REGISTRYACCESS = MakeHr(0x8002801C);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeHr(0x8002801D);

// The platform's text for a result code ("Class not registered", "Type
// mismatch.", ...); "Error 0x%08X" for codes it does not know.
std::string HResultMessage(HRESULT hr);

// ---------------------------------------------------------------------------
// GUIDs

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    constexpr bool operator==(const Guid&) const = default;
    constexpr auto operator<=>(const Guid&) const = default;
};
using CLSID = Guid;
using IID = Guid;

// Parses "{6EBE05AA-BB52-432F-9F3A-1938216F0FAC}" (braces optional, either
// case). Usable at compile time for constants.
constexpr std::optional<Guid> ParseGuid(std::string_view s);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, with braces.
std::string GuidToString(const Guid& g);

inline constexpr Guid GUID_NULL{};

// ---------------------------------------------------------------------------
// Interfaces. Reference counted: AddRef/Release return the new count (for
// information only); the object frees itself at zero.

class IUnknown {
  public:
    static constexpr IID kIid{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
  public:
    static constexpr IID kIid{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    // outer must be null (no aggregation: CLASS_E_NOAGGREGATION otherwise).
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) = 0;
    virtual HRESULT LockServer(bool lock) = 0;

  protected:
    ~IClassFactory() = default;
};

class Variant;
struct ExcepInfo;
struct DispParams;
struct InterfaceDesc;

inline constexpr std::uint16_t DISPATCH_METHOD = 0x1;
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 0x2;
inline constexpr std::uint16_t DISPATCH_PROPERTYPUT = 0x4;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

class IDispatch : public IUnknown {
  public:
    static constexpr IID kIid{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    // 1 when the object describes itself through GetTypeInfo, else 0.
    virtual HRESULT GetTypeInfoCount(std::uint32_t* count) = 0;
    // The static description of the object's default interface (stands in
    // for the type library's ITypeInfo); the pointer stays valid while the
    // server library is loaded.
    virtual HRESULT GetTypeInfo(std::uint32_t index, LCID lcid, const InterfaceDesc** info) = 0;
    // names[0] is the member name (any case), the rest parameter names.
    // Unknown names give DISP_E_UNKNOWNNAME and DISPID_UNKNOWN in their slot.
    virtual HRESULT GetIDsOfNames(const IID& iid, const char* const* names, std::uint32_t count,
                                  LCID lcid, DISPID* ids) = 0;
    // params->args holds the arguments in reverse order, the last argument
    // first, as on the platform. On DISP_E_EXCEPTION the callee fills
    // *excep (when given); on a type or count error it may set *argErr to
    // the index (into params->args) of the offending argument.
    virtual HRESULT Invoke(DISPID member, const IID& iid, LCID lcid, std::uint16_t flags,
                           DispParams* params, Variant* result, ExcepInfo* excep,
                           std::uint32_t* argErr) = 0;

  protected:
    ~IDispatch() = default;
};

// ---------------------------------------------------------------------------
// VARIANT

using VARTYPE = std::uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_BYREF = 0x4000;
inline constexpr VARTYPE VT_TYPEMASK = 0x0FFF;

// A tagged value. By-reference variants point at storage that the creator
// owns and keeps alive for the call; copying one copies the pointer.
// Interface values hold a reference (AddRef on copy, Release on clear).
class Variant {
  public:
    Variant() = default;
    Variant(const Variant& o);
    Variant(Variant&& o) noexcept;
    Variant& operator=(const Variant& o);
    Variant& operator=(Variant&& o) noexcept;
    ~Variant();

    static Variant I2(std::int16_t v);
    static Variant I4(std::int32_t v);
    static Variant UI1(std::uint8_t v);
    static Variant Bool(bool v);
    static Variant Str(std::string v);
    static Variant Null();
    static Variant Error(HRESULT scode);
    // An omitted optional argument: VT_ERROR holding DISP_E_PARAMNOTFOUND.
    static Variant Missing();
    static Variant Dispatch(IDispatch* p);  // AddRefs p (may be null)
    static Variant Unknown(IUnknown* p);    // AddRefs p (may be null)
    static Variant Ref(std::int16_t* p);
    static Variant Ref(std::int32_t* p);
    static Variant Ref(std::uint8_t* p);
    static Variant Ref(bool* p);
    static Variant Ref(std::string* p);
    static Variant Ref(Variant* p);

    VARTYPE vt() const { return vt_; }
    bool IsByRef() const { return (vt_ & VT_BYREF) != 0; }
    // A by-reference variant that points nowhere (refused by every call).
    bool IsNullRef() const { return IsByRef() && ref_ == nullptr; }
    bool IsMissing() const { return vt_ == VT_ERROR && scode_ == DISP_E_PARAMNOTFOUND; }
    void Clear();

    // Value accessors; each requires the matching vt (checked: a mismatch
    // throws std::logic_error, which is a programming error).
    std::int16_t i2() const;
    std::int32_t i4() const;
    std::uint8_t ui1() const;
    bool boolean() const;
    const std::string& str() const;
    HRESULT scode() const;
    IDispatch* dispatch() const;
    IUnknown* unknown() const;
    std::int16_t* pi2() const;
    std::int32_t* pi4() const;
    std::uint8_t* pui1() const;
    bool* pbool() const;
    std::string* pstr() const;
    Variant* pvar() const;

    // The value this variant stands for: a by-reference variant is
    // dereferenced (VT_BYREF|VT_VARIANT recursively), any other is copied.
    Variant Deref() const;

  private:
    static Variant ByRef(VARTYPE vt, void* p);

    VARTYPE vt_ = VT_EMPTY;
    union {
        std::uint64_t raw_ = 0;
        std::int16_t i2_;
        std::int32_t i4_;
        std::uint8_t ui1_;
        bool bool_;
        HRESULT scode_;
        IUnknown* unk_;
        void* ref_;
    };
    std::string str_;
};

// Coerces src (dereferenced when by reference) to vt, which is one of
// VT_EMPTY, VT_I2, VT_I4, VT_UI1, VT_BOOL, VT_BSTR, VT_ERROR or VT_VARIANT
// (a plain copy of the dereferenced value); others give DISP_E_BADVARTYPE.
// - Numbers and truth values to a number: range-checked, DISP_E_OVERFLOW when
//   the value does not fit; True is -1 (255 as VT_UI1).
// - Text to a number: blanks around it allowed, an optional sign, decimal
//   digits and an optional fraction rounded half to even; anything else
//   (the empty text included) is DISP_E_TYPEMISMATCH, a number out of range
//   DISP_E_OVERFLOW. Text to VT_BOOL: "True"/"False" (any case) or a number.
// - Empty becomes 0, False or the empty text; Null, errors and interfaces
//   convert to nothing but themselves (DISP_E_TYPEMISMATCH).
// - To text: numbers in decimal, truth values "-1"/"0".
// dest is left untouched on failure. dest may be &src.
HRESULT VariantChangeType(Variant* dest, const Variant& src, std::uint16_t flags, VARTYPE vt);

// ---------------------------------------------------------------------------
// Late-bound calls

struct DispParams {
    Variant* args = nullptr;  // reverse order: args[count - 1] is the first argument
    DISPID* namedArgs = nullptr;
    std::uint32_t count = 0;
    std::uint32_t namedCount = 0;
};

// The exception record of a failed Invoke (DISP_E_EXCEPTION).
struct ExcepInfo {
    std::uint16_t code = 0;
    std::string source;       // e.g. the ProgID of the object that failed
    std::string description;  // the error's message
    std::string helpFile;
    std::uint32_t helpContext = 0;
    HRESULT scode = S_OK;  // the error's own result code
};

// ---------------------------------------------------------------------------
// Static type descriptions (in place of an embedded type library)

inline constexpr std::uint16_t PARAMFLAG_FIN = 0x1;
inline constexpr std::uint16_t PARAMFLAG_FOUT = 0x2;
inline constexpr std::uint16_t PARAMFLAG_FRETVAL = 0x8;
inline constexpr std::uint16_t PARAMFLAG_FOPT = 0x10;

inline constexpr std::uint16_t TYPEFLAG_FCANCREATE = 0x2;
inline constexpr std::uint16_t TYPEFLAG_FHIDDEN = 0x10;
inline constexpr std::uint16_t TYPEFLAG_FDUAL = 0x40;
inline constexpr std::uint16_t TYPEFLAG_FNONEXTENSIBLE = 0x80;
inline constexpr std::uint16_t TYPEFLAG_FOLEAUTOMATION = 0x100;
inline constexpr std::uint16_t TYPEFLAG_FDISPATCHABLE = 0x1000;

struct ParamDesc {
    const char* name;
    VARTYPE vt;  // VT_I2, VT_I4 ("long"), VT_BSTR, VT_VARIANT, VT_BYREF|VT_BSTR, ...
    std::uint16_t flags;
};

// One method. params lists every parameter in declared order, the
// [out, retval] one (PARAMFLAG_FRETVAL, by reference) last.
struct FuncDesc {
    DISPID memid;
    const char* name;
    std::span<const ParamDesc> params;
};

struct InterfaceDesc {
    const char* name;
    IID iid;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint16_t typeFlags;
    std::span<const FuncDesc> funcs;
};

struct CoClassDesc {
    const char* name;
    CLSID clsid;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint16_t typeFlags;
    const InterfaceDesc* defaultInterface;
};

struct TypeLibDesc {
    const char* name;
    Guid libid;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    LCID lcid;  // locale of the library itself
    std::span<const InterfaceDesc* const> interfaces;
    std::span<const CoClassDesc* const> coclasses;
};

// GetIDsOfNames from a description: the member name without regard to case
// (ASCII), then parameter names of that member without regard to case.
HRESULT DispGetIDsOfNames(const InterfaceDesc& desc, const char* const* names, std::uint32_t count,
                          DISPID* ids);

// The server's method body for DispInvoke. args holds one entry per
// declared non-retval parameter, first parameter first, each already of the
// declared type: VT_I2/VT_I4/VT_BSTR/... by value; for a by-reference
// parameter a by-reference variant whose target the body may change (the
// change reaches the caller); for a VT_VARIANT parameter the caller's value
// dereferenced, or Missing() when an optional one was omitted. The body
// stores the [out, retval] value in *retval (already set to the declared
// type's zero value). A C++ exception leaving the body becomes
// DISP_E_EXCEPTION: a ComError keeps its code, source and description,
// another std::exception gets scode E_FAIL, description what() and the
// source given to DispInvoke.
using DispMethod = HRESULT (*)(void* self, const FuncDesc& fn, std::span<Variant> args,
                               Variant* retval);

// The standard Invoke from a description: finds the member, checks the
// flags (DISPATCH_METHOD; DISP_E_MEMBERNOTFOUND otherwise), rejects named
// arguments (DISP_E_NONAMEDARGS), checks the count (too many or a missing
// mandatory one: DISP_E_BADPARAMCOUNT; trailing optional ones may be omitted
// or passed as Missing()), coerces each argument (failure: its code, and
// *argErr set), calls body, copies by-reference results back, and stores
// the retval in *result when result is given.
HRESULT DispInvoke(const InterfaceDesc& desc, void* self, DispMethod body, std::string_view source,
                   DISPID member, std::uint16_t flags, DispParams* params, Variant* result,
                   ExcepInfo* excep, std::uint32_t* argErr);

// ---------------------------------------------------------------------------
// Errors as exceptions (client helpers and server bodies)

class ComError : public std::runtime_error {
  public:
    // what() is the description when given, else HResultMessage(hr).
    explicit ComError(HRESULT hr, std::string source = {}, std::string description = {});
    HRESULT hr() const { return hr_; }
    const std::string& source() const { return source_; }
    const std::string& description() const { return description_; }

  private:
    HRESULT hr_;
    std::string source_;
    std::string description_;
};

// Throws ComError(hr) when hr failed.
void Check(HRESULT hr);

// ---------------------------------------------------------------------------
// Apartments

inline constexpr std::uint32_t COINIT_MULTITHREADED = 0x0;
inline constexpr std::uint32_t COINIT_APARTMENTTHREADED = 0x2;

// Enters the calling thread into an apartment. S_OK for the first entry,
// S_FALSE for a further entry of the same kind (counted: each needs its
// CoUninitialize), RPC_E_CHANGED_MODE when the thread is already in the
// other kind (not counted), E_INVALIDARG for other flags.
HRESULT CoInitializeEx(void* reserved, std::uint32_t coinit);
// Undoes one successful CoInitializeEx of this thread. The last one leaves
// the apartment: an STA ends with it (its apartment state is destroyed on
// this thread); the MTA ends when its last thread leaves (the host STA is
// stopped first, releasing the objects it still holds, then the MTA's state
// is destroyed on that thread). Without a matching CoInitializeEx it does
// nothing. A thread that exits while still in an apartment leaves it then.
void CoUninitialize();

enum class ApartmentKind { None, SingleThreaded, MultiThreaded };
using ApartmentId = std::uint64_t;  // 0: none; never reused within a process

ApartmentKind CurrentApartmentKind();
ApartmentId CurrentApartmentId();

// Entry for the length of a scope; leaves only when the entry succeeded.
class ApartmentScope {
  public:
    explicit ApartmentScope(std::uint32_t coinit) : hr_(CoInitializeEx(nullptr, coinit)) {}
    ~ApartmentScope() {
        if (Succeeded(hr_)) CoUninitialize();
    }
    ApartmentScope(const ApartmentScope&) = delete;
    ApartmentScope& operator=(const ApartmentScope&) = delete;
    HRESULT result() const { return hr_; }

  private:
    HRESULT hr_;
};

// ---------------------------------------------------------------------------
// Per-apartment module state (server side)

// The calling apartment's value for key, made by make() on first use. It is
// destroyed with destroy() on the apartment's thread when the apartment ends
// (for the MTA: on the thread that ends it). CO_E_NOTINITIALIZED outside an
// apartment. key is the address of a static of the server library; while a
// library owns a value in any apartment it is not unloaded.
HRESULT CoGetApartmentState(const void* key, void* (*make)(), void (*destroy)(void*), void** out);
// The calling apartment's value for key, or null when it has none yet.
void* CoFindApartmentState(const void* key);

// Typed form: declare one static ApartmentLocal<T> in the server.
template <class T>
class ApartmentLocal {
  public:
    // The calling apartment's copy, value-initialised on first use. Throws
    // ComError(CO_E_NOTINITIALIZED) outside an apartment.
    T& Get() {
        void* p = nullptr;
        Check(CoGetApartmentState(this, &Make, &Destroy, &p));
        return *static_cast<T*>(p);
    }
    // The calling apartment's copy when it exists.
    T* Find() { return static_cast<T*>(CoFindApartmentState(this)); }

  private:
    static void* Make() { return new T(); }
    static void Destroy(void* p) { delete static_cast<T*>(p); }
};

// ---------------------------------------------------------------------------
// Registry (a file; OSTRA_COM_REGISTRY names it, else
// $XDG_CONFIG_HOME/ostra/com-registry.ini, else ~/.config/ostra/com-registry.ini)
//
// Keys are paths below the classes root, parts separated by '\', matched
// without regard to case ("CLSID\{...}\InprocServer32"). The value name ""
// is a key's default value. Each change is written to the file at once,
// atomically and under a file lock, so several processes may register; the
// new file keeps the old one's mode. A change to a file that exists but
// cannot be read, or that this user may not write, fails with
// REGDB_E_WRITEREGDB and leaves the file as it is.

std::string RegistryPath();
// Why the last change on this thread that failed could not be written:
// "<registry file>: <the system's reason>"; empty while no change failed.
std::string RegistryWriteFailure();
// Creates the key (and its parents) and sets the value. Texts must not
// hold line breaks (E_INVALIDARG).
HRESULT RegSetValue(std::string_view key, std::string_view name, std::string_view data);
// Creates the key (and its parents) with no values.
HRESULT RegCreateKey(std::string_view key);
// S_OK and the data; REGDB_E_KEYMISSING when key or value is absent.
HRESULT RegGetValue(std::string_view key, std::string_view name, std::string* data);
bool RegKeyExists(std::string_view key);
// Names of the direct sub-keys, in the order of the file.
std::vector<std::string> RegEnumKeys(std::string_view key);
// Removes the key, its values and every sub-key. S_OK also when absent.
HRESULT RegDeleteTree(std::string_view key);

// Registers a type library as the platform does: TypeLib\{LIBID}\<maj>.<min>
// (the version in hexadecimal, as the platform writes it: 16.0 is "10.0")
// (default value the library name), its locale sub-key "\0\win32" with the
// file path, FLAGS "0" and HELPDIR (the file's folder); and every dual or
// dispatchable interface under Interface\{IID} (name, ProxyStubClsid and
// ProxyStubClsid32 = the automation marshaller, TypeLib with Version).
HRESULT RegisterTypeLib(const TypeLibDesc& lib, std::string_view path);
HRESULT UnRegisterTypeLib(const TypeLibDesc& lib);

inline constexpr CLSID CLSID_PSOAInterface{
    0x00020424, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Full path of the loaded module (program or shared library) that contains
// the address; empty when none does. For a server to find itself.
std::string ModulePathOf(const void* address);

// ---------------------------------------------------------------------------
// Creation

inline constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
inline constexpr std::uint32_t CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr std::uint32_t CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

// ProgID\CLSID of the registry. CO_E_CLASSSTRING when the ProgID is not
// registered (or its CLSID is not a GUID).
HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid);

// Creates an instance of a registered in-process class (only in-process
// servers exist here): CO_E_NOTINITIALIZED outside an apartment,
// REGDB_E_CLASSNOTREG when CLSID\{...}\InprocServer32 is missing or
// CLSCTX_INPROC_SERVER is not asked for, CO_E_DLLNOTFOUND when the library
// cannot be loaded, CO_E_ERRORINDLL when it lacks DllGetClassObject, else
// what the server's class factory answers.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t clsctx, const IID& iid,
                         void** out);

// Unloads every loaded server library whose DllCanUnloadNow answers S_OK
// and that owns no apartment state. Also done when the last apartment of
// the process ends.
void CoFreeUnusedLibraries();

// ---------------------------------------------------------------------------
// In-process server exports: each server library defines all four, at
// global scope with C linkage (declared below this namespace).

using DllGetClassObjectFn = HRESULT (*)(const CLSID&, const IID&, void**);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();

// ---------------------------------------------------------------------------
// Client helpers

// Owning interface pointer.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference (AddRef).
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr Attach(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    void** PutVoid() {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }
    template <class U>
    HRESULT As(ComPtr<U>* out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(U::kIid, out->PutVoid());
    }

  private:
    T* p_ = nullptr;
};

// CoCreateInstance by ProgID with CLSCTX_SERVER, asking for IDispatch.
// Throws ComError; its message names the ProgID, e.g.
// "Pendrix.MervCard: Invalid class string".
ComPtr<IDispatch> CreateObject(std::string_view progid);

// Calls a method by name: GetIDsOfNames, then Invoke with DISPATCH_METHOD.
// args are in the method's parameter order (reversed for Invoke here);
// by-reference arguments (Variant::Ref) receive what the method wrote.
// Returns the method's result. Throws ComError: for DISP_E_EXCEPTION with
// the exception record's scode (DISP_E_EXCEPTION when it has none), source
// and description; otherwise with the failed code.
Variant CallMethod(IDispatch* obj, std::string_view name, std::vector<Variant> args);

// Coerces to a 32-bit integer (VariantChangeType); throws ComError.
std::int32_t VariantToInt32(const Variant& v);

// ---------------------------------------------------------------------------
// constexpr definitions

namespace detail {
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
constexpr bool ParseHex(std::string_view s, std::size_t pos, std::size_t n, std::uint64_t* v) {
    std::uint64_t r = 0;
    for (std::size_t i = 0; i < n; ++i) {
        int d = HexDigit(s[pos + i]);
        if (d < 0) return false;
        r = r * 16 + static_cast<std::uint64_t>(d);
    }
    *v = r;
    return true;
}
}  // namespace detail

constexpr std::optional<Guid> ParseGuid(std::string_view s) {
    if (s.size() == 38) {
        if (s.front() != '{' || s.back() != '}') return std::nullopt;
        s = s.substr(1, 36);
    }
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return std::nullopt;
    Guid g;
    std::uint64_t v = 0;
    if (!detail::ParseHex(s, 0, 8, &v)) return std::nullopt;
    g.data1 = static_cast<std::uint32_t>(v);
    if (!detail::ParseHex(s, 9, 4, &v)) return std::nullopt;
    g.data2 = static_cast<std::uint16_t>(v);
    if (!detail::ParseHex(s, 14, 4, &v)) return std::nullopt;
    g.data3 = static_cast<std::uint16_t>(v);
    for (std::size_t i = 0; i < 8; ++i) {
        std::size_t pos = i < 2 ? 19 + 2 * i : 24 + 2 * (i - 2);
        if (!detail::ParseHex(s, pos, 2, &v)) return std::nullopt;
        g.data4[i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

}  // namespace ostra::com

// The four exports of an in-process server (defined by each server library).
extern "C" {
ostra::com::HRESULT DllGetClassObject(const ostra::com::CLSID& clsid, const ostra::com::IID& iid,
                                      void** out);
ostra::com::HRESULT DllCanUnloadNow();
ostra::com::HRESULT DllRegisterServer();
ostra::com::HRESULT DllUnregisterServer();
}
