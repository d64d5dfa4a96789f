// Temporary bodies so that users of Com.h link while the runtime is written.
#include "platform/com/Com.h"

namespace ostra::com {
std::string HResultMessage(HRESULT) { return "Unspecified error"; }
std::string GuidToString(const Guid&) { return {}; }
Variant::Variant(const Variant&) {}
Variant::Variant(Variant&&) noexcept {}
Variant& Variant::operator=(const Variant&) { return *this; }
Variant& Variant::operator=(Variant&&) noexcept { return *this; }
Variant::~Variant() = default;
Variant Variant::I2(std::int16_t) { return {}; }
Variant Variant::I4(std::int32_t) { return {}; }
Variant Variant::UI1(std::uint8_t) { return {}; }
Variant Variant::Bool(bool) { return {}; }
Variant Variant::Str(std::string) { return {}; }
Variant Variant::Null() { return {}; }
Variant Variant::Error(HRESULT) { return {}; }
Variant Variant::Missing() { return {}; }
Variant Variant::Dispatch(IDispatch*) { return {}; }
Variant Variant::Unknown(IUnknown*) { return {}; }
Variant Variant::Ref(std::int16_t*) { return {}; }
Variant Variant::Ref(std::int32_t*) { return {}; }
Variant Variant::Ref(std::uint8_t*) { return {}; }
Variant Variant::Ref(bool*) { return {}; }
Variant Variant::Ref(std::string*) { return {}; }
Variant Variant::Ref(Variant*) { return {}; }
void Variant::Clear() {}
std::int16_t Variant::i2() const { return 0; }
std::int32_t Variant::i4() const { return 0; }
std::uint8_t Variant::ui1() const { return 0; }
bool Variant::boolean() const { return false; }
const std::string& Variant::str() const { return str_; }
HRESULT Variant::scode() const { return 0; }
IDispatch* Variant::dispatch() const { return nullptr; }
IUnknown* Variant::unknown() const { return nullptr; }
std::int16_t* Variant::pi2() const { return nullptr; }
std::int32_t* Variant::pi4() const { return nullptr; }
std::uint8_t* Variant::pui1() const { return nullptr; }
bool* Variant::pbool() const { return nullptr; }
std::string* Variant::pstr() const { return nullptr; }
Variant* Variant::pvar() const { return nullptr; }
Variant Variant::Deref() const { return {}; }
HRESULT VariantChangeType(Variant*, const Variant&, std::uint16_t, VARTYPE) { return E_NOTIMPL; }
HRESULT DispGetIDsOfNames(const InterfaceDesc&, const char* const*, std::uint32_t, DISPID*) {
    return E_NOTIMPL;
}
HRESULT DispInvoke(const InterfaceDesc&, void*, DispMethod, std::string_view, DISPID, std::uint16_t,
                   DispParams*, Variant*, ExcepInfo*, std::uint32_t*) {
    return E_NOTIMPL;
}
ComError::ComError(HRESULT hr, std::string source, std::string description)
    : std::runtime_error(description), hr_(hr), source_(std::move(source)),
      description_(std::move(description)) {}
void Check(HRESULT hr) {
    if (Failed(hr)) throw ComError(hr);
}
HRESULT CoInitializeEx(void*, std::uint32_t) { return E_NOTIMPL; }
void CoUninitialize() {}
ApartmentKind CurrentApartmentKind() { return ApartmentKind::None; }
ApartmentId CurrentApartmentId() { return 0; }
HRESULT CoGetApartmentState(const void*, void* (*)(), void (*)(void*), void**) { return E_NOTIMPL; }
void* CoFindApartmentState(const void*) { return nullptr; }
std::string RegistryPath() { return {}; }
HRESULT RegSetValue(std::string_view, std::string_view, std::string_view) { return E_NOTIMPL; }
HRESULT RegCreateKey(std::string_view) { return E_NOTIMPL; }
HRESULT RegGetValue(std::string_view, std::string_view, std::string*) { return E_NOTIMPL; }
bool RegKeyExists(std::string_view) { return false; }
std::vector<std::string> RegEnumKeys(std::string_view) { return {}; }
HRESULT RegDeleteTree(std::string_view) { return E_NOTIMPL; }
HRESULT RegisterTypeLib(const TypeLibDesc&, std::string_view) { return E_NOTIMPL; }
HRESULT UnRegisterTypeLib(const TypeLibDesc&) { return E_NOTIMPL; }
std::string ModulePathOf(const void*) { return {}; }
HRESULT CLSIDFromProgID(std::string_view, CLSID*) { return E_NOTIMPL; }
HRESULT CoCreateInstance(const CLSID&, IUnknown*, std::uint32_t, const IID&, void**) {
    return E_NOTIMPL;
}
void CoFreeUnusedLibraries() {}
ComPtr<IDispatch> CreateObject(std::string_view) { throw ComError(E_NOTIMPL); }
Variant CallMethod(IDispatch*, std::string_view, std::vector<Variant>) { throw ComError(E_NOTIMPL); }
std::int32_t VariantToInt32(const Variant&) { throw ComError(E_NOTIMPL); }
}  // namespace ostra::com
