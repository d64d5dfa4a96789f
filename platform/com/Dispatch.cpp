// Late binding: the standard GetIDsOfNames/Invoke from a static description
// (server side) and call-by-name (client side).
#include <cstring>

#include "platform/com/Com.h"

namespace ostra::com {

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return false;
    for (; *a && *b; ++a, ++b)
        if (Lower(*a) != Lower(*b)) return false;
    return *a == 0 && *b == 0;
}

bool IsRetval(const ParamDesc& p) {
    return (p.flags & PARAMFLAG_FRETVAL) != 0;
}

std::size_t ArgumentCount(const FuncDesc& fn) {
    std::size_t n = 0;
    for (const ParamDesc& p : fn.params)
        if (!IsRetval(p)) ++n;
    return n;
}

// The zero value of a declared type (for a retval, or an omitted optional
// parameter of a plain type).
Variant ZeroOf(VARTYPE vt) {
    switch (vt & VT_TYPEMASK) {
        case VT_I2:
            return Variant::I2(0);
        case VT_I4:
            return Variant::I4(0);
        case VT_UI1:
            return Variant::UI1(0);
        case VT_BOOL:
            return Variant::Bool(false);
        case VT_BSTR:
            return Variant::Str({});
        default:
            return {};
    }
}

// Storage of one by-reference parameter that the caller's argument cannot
// serve directly.
struct Slot {
    std::int16_t i2 = 0;
    std::int32_t i4 = 0;
    std::uint8_t ui1 = 0;
    bool b = false;
    std::string s;
    Variant v;
};

// Stores value (already of type base) in the slot and returns a by-reference
// variant to it.
HRESULT BindSlot(Slot& slot, VARTYPE base, const Variant& value, Variant* ref) {
    switch (base) {
        case VT_I2:
            slot.i2 = value.i2();
            *ref = Variant::Ref(&slot.i2);
            return S_OK;
        case VT_I4:
            slot.i4 = value.i4();
            *ref = Variant::Ref(&slot.i4);
            return S_OK;
        case VT_UI1:
            slot.ui1 = value.ui1();
            *ref = Variant::Ref(&slot.ui1);
            return S_OK;
        case VT_BOOL:
            slot.b = value.boolean();
            *ref = Variant::Ref(&slot.b);
            return S_OK;
        case VT_BSTR:
            slot.s = value.str();
            *ref = Variant::Ref(&slot.s);
            return S_OK;
        case VT_VARIANT:
            slot.v = value;
            *ref = Variant::Ref(&slot.v);
            return S_OK;
        default:
            return DISP_E_BADVARTYPE;
    }
}

// Writes value through the caller's by-reference argument, converted to its type.
void WriteBack(const Variant& callerArg, const Variant& value) {
    VARTYPE base = callerArg.vt() & VT_TYPEMASK;
    if (base == VT_VARIANT) {
        *callerArg.pvar() = value.Deref();
        return;
    }
    Variant converted;
    if (Failed(VariantChangeType(&converted, value, 0, base))) return;
    switch (base) {
        case VT_I2:
            *callerArg.pi2() = converted.i2();
            break;
        case VT_I4:
            *callerArg.pi4() = converted.i4();
            break;
        case VT_UI1:
            *callerArg.pui1() = converted.ui1();
            break;
        case VT_BOOL:
            *callerArg.pbool() = converted.boolean();
            break;
        case VT_BSTR:
            *callerArg.pstr() = converted.str();
            break;
        default:
            break;
    }
}

bool IsMissingArg(const Variant& v) {
    return !v.IsByRef() && v.IsMissing();
}

}  // namespace

HRESULT DispGetIDsOfNames(const InterfaceDesc& desc, const char* const* names, std::uint32_t count,
                          DISPID* ids) {
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    for (std::uint32_t i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const FuncDesc* fn = nullptr;
    for (const FuncDesc& f : desc.funcs)
        if (SameName(f.name, names[0])) {
            fn = &f;
            break;
        }
    if (fn == nullptr) return DISP_E_UNKNOWNNAME;
    ids[0] = fn->memid;
    HRESULT hr = S_OK;
    for (std::uint32_t i = 1; i < count; ++i) {
        for (std::size_t k = 0; k < fn->params.size(); ++k)
            if (SameName(fn->params[k].name, names[i])) ids[i] = static_cast<DISPID>(k);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispInvoke(const InterfaceDesc& desc, void* self, DispMethod body, std::string_view source,
                   DISPID member, std::uint16_t flags, DispParams* params, Variant* result,
                   ExcepInfo* excep, std::uint32_t* argErr) {
    const FuncDesc* fn = nullptr;
    for (const FuncDesc& f : desc.funcs)
        if (f.memid == member) {
            fn = &f;
            break;
        }
    if (fn == nullptr || (flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    DispParams none;
    if (params == nullptr) params = &none;
    if (params->namedCount != 0) return DISP_E_NONAMEDARGS;
    if (params->count != 0 && params->args == nullptr) return E_POINTER;

    const std::size_t declared = ArgumentCount(*fn);
    const std::size_t given = params->count;
    if (given > declared) return DISP_E_BADPARAMCOUNT;

    std::vector<Variant> args(declared);
    std::vector<Slot> slots(declared);
    // For each declared parameter: the caller's argument (null when omitted)
    // and whether it is served through a slot that must be copied back.
    std::vector<Variant*> callerArgs(declared, nullptr);
    std::vector<bool> viaSlot(declared, false);
    Variant retval;
    VARTYPE retType = VT_EMPTY;

    std::size_t i = 0;
    for (const ParamDesc& p : fn->params) {
        if (IsRetval(p)) {
            retType = p.vt & VT_TYPEMASK;
            retval = ZeroOf(retType);
            continue;
        }
        const bool optional = (p.flags & PARAMFLAG_FOPT) != 0;
        const VARTYPE base = p.vt & VT_TYPEMASK;
        const bool byRef = (p.vt & VT_BYREF) != 0;
        Variant* arg = i < given ? &params->args[given - 1 - i] : nullptr;
        callerArgs[i] = arg;
        auto fail = [&](HRESULT hr) {
            if (argErr) *argErr = static_cast<std::uint32_t>(given - 1 - i);
            return hr;
        };
        if (arg != nullptr && arg->IsNullRef()) return fail(E_POINTER);
        if (arg == nullptr || IsMissingArg(*arg)) {
            if (!optional && arg == nullptr) return DISP_E_BADPARAMCOUNT;
            if (base == VT_VARIANT && !byRef) {
                args[i] = Variant::Missing();
            } else if (!optional) {
                return fail(DISP_E_PARAMNOTOPTIONAL);
            } else if (byRef) {
                HRESULT hr = BindSlot(slots[i], base, ZeroOf(base), &args[i]);
                if (Failed(hr)) return fail(hr);
            } else {
                args[i] = ZeroOf(base);
            }
            ++i;
            continue;
        }
        if (byRef) {
            if (arg->vt() == p.vt) {
                args[i] = *arg;  // the callee writes straight into the caller's storage
            } else {
                Variant value;
                HRESULT hr = VariantChangeType(&value, *arg, 0, base);
                if (Failed(hr)) return fail(hr);
                hr = BindSlot(slots[i], base, value, &args[i]);
                if (Failed(hr)) return fail(hr);
                viaSlot[i] = arg->IsByRef();
            }
        } else {
            HRESULT hr = VariantChangeType(&args[i], *arg, 0, base);
            if (Failed(hr)) return fail(hr);
        }
        ++i;
    }

    auto raise = [&](HRESULT scode, std::string src, std::string text) {
        if (excep) {
            *excep = ExcepInfo{};
            excep->source = src.empty() ? std::string(source) : std::move(src);
            excep->description = text.empty() ? HResultMessage(scode) : std::move(text);
            excep->scode = scode;
        }
        return DISP_E_EXCEPTION;
    };

    HRESULT hr = S_OK;
    try {
        hr = body(self, *fn, std::span<Variant>(args), &retval);
    } catch (const ComError& e) {
        return raise(e.hr(), e.source(), e.description().empty() ? e.what() : e.description());
    } catch (const std::exception& e) {
        return raise(E_FAIL, {}, e.what());
    } catch (...) {
        return raise(E_UNEXPECTED, {}, {});
    }
    if (hr == DISP_E_EXCEPTION) return hr;  // the body filled the record itself
    if (Failed(hr)) return raise(hr, {}, {});

    for (std::size_t k = 0; k < declared; ++k)
        if (viaSlot[k] && callerArgs[k] != nullptr) WriteBack(*callerArgs[k], args[k].Deref());
    // The result leaves as the declared type, whatever the body stored.
    if (retType != VT_EMPTY && retType != VT_VARIANT && retval.vt() != retType) {
        HRESULT converted = VariantChangeType(&retval, retval, 0, retType);
        if (Failed(converted)) return raise(converted, {}, {});
    }
    if (result) *result = std::move(retval);
    return hr;
}

Variant CallMethod(IDispatch* obj, std::string_view name, std::vector<Variant> args) {
    if (obj == nullptr) throw ComError(E_POINTER);
    std::string member(name);
    const char* names[] = {member.c_str()};
    DISPID id = DISPID_UNKNOWN;
    Check(obj->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));

    std::vector<Variant> reversed(args.rbegin(), args.rend());
    DispParams params;
    params.args = reversed.empty() ? nullptr : reversed.data();
    params.count = static_cast<std::uint32_t>(reversed.size());
    Variant result;
    ExcepInfo excep;
    std::uint32_t argErr = 0;
    HRESULT hr = obj->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                             &excep, &argErr);
    if (hr == DISP_E_EXCEPTION) {
        HRESULT code = Failed(excep.scode) ? excep.scode : DISP_E_EXCEPTION;
        throw ComError(code, excep.source, excep.description);
    }
    Check(hr);
    return result;
}

ComPtr<IDispatch> CreateObject(std::string_view progid) {
    auto fail = [&](HRESULT hr) {
        return ComError(hr, std::string(progid), std::string(progid) + ": " + HResultMessage(hr));
    };
    CLSID clsid;
    if (HRESULT hr = CLSIDFromProgID(progid, &clsid); Failed(hr)) throw fail(hr);
    ComPtr<IDispatch> obj;
    if (HRESULT hr =
            CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IDispatch::kIid, obj.PutVoid());
        Failed(hr))
        throw fail(hr);
    return obj;
}

}  // namespace ostra::com
