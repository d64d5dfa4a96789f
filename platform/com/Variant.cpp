// VARIANT values and the coercions between the types the calls use.
#include <cmath>
#include <limits>

#include "platform/com/Com.h"

namespace ostra::com {

namespace {

bool IsInterface(VARTYPE vt) {
    return vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

[[noreturn]] void WrongType(const char* what) {
    throw std::logic_error(std::string("Variant accessor ") + what + " used on another type");
}

}  // namespace

Variant::Variant(const Variant& o) : vt_(o.vt_), raw_(o.raw_), str_(o.str_) {
    if (IsInterface(vt_) && unk_) unk_->AddRef();
}

Variant::Variant(Variant&& o) noexcept : vt_(o.vt_), raw_(o.raw_), str_(std::move(o.str_)) {
    o.vt_ = VT_EMPTY;
    o.raw_ = 0;
    o.str_.clear();
}

Variant& Variant::operator=(const Variant& o) {
    if (this != &o) {
        Variant copy(o);
        *this = std::move(copy);
    }
    return *this;
}

Variant& Variant::operator=(Variant&& o) noexcept {
    if (this != &o) {
        Clear();
        vt_ = std::exchange(o.vt_, VT_EMPTY);
        raw_ = std::exchange(o.raw_, 0);
        str_ = std::move(o.str_);
        o.str_.clear();
    }
    return *this;
}

Variant::~Variant() {
    Clear();
}

void Variant::Clear() {
    if (IsInterface(vt_) && unk_) unk_->Release();
    vt_ = VT_EMPTY;
    raw_ = 0;
    str_.clear();
}

Variant Variant::I2(std::int16_t v) {
    Variant r;
    r.vt_ = VT_I2;
    r.i2_ = v;
    return r;
}
Variant Variant::I4(std::int32_t v) {
    Variant r;
    r.vt_ = VT_I4;
    r.i4_ = v;
    return r;
}
Variant Variant::UI1(std::uint8_t v) {
    Variant r;
    r.vt_ = VT_UI1;
    r.ui1_ = v;
    return r;
}
Variant Variant::Bool(bool v) {
    Variant r;
    r.vt_ = VT_BOOL;
    r.bool_ = v;
    return r;
}
Variant Variant::Str(std::string v) {
    Variant r;
    r.vt_ = VT_BSTR;
    r.str_ = std::move(v);
    return r;
}
Variant Variant::Null() {
    Variant r;
    r.vt_ = VT_NULL;
    return r;
}
Variant Variant::Error(HRESULT scode) {
    Variant r;
    r.vt_ = VT_ERROR;
    r.scode_ = scode;
    return r;
}
Variant Variant::Missing() {
    return Error(DISP_E_PARAMNOTFOUND);
}
Variant Variant::Dispatch(IDispatch* p) {
    Variant r;
    r.vt_ = VT_DISPATCH;
    r.unk_ = p;
    if (p) p->AddRef();
    return r;
}
Variant Variant::Unknown(IUnknown* p) {
    Variant r;
    r.vt_ = VT_UNKNOWN;
    r.unk_ = p;
    if (p) p->AddRef();
    return r;
}

Variant Variant::ByRef(VARTYPE vt, void* p) {
    Variant r;
    r.vt_ = VT_BYREF | vt;
    r.ref_ = p;
    return r;
}
Variant Variant::Ref(std::int16_t* p) { return ByRef(VT_I2, p); }
Variant Variant::Ref(std::int32_t* p) { return ByRef(VT_I4, p); }
Variant Variant::Ref(std::uint8_t* p) { return ByRef(VT_UI1, p); }
Variant Variant::Ref(bool* p) { return ByRef(VT_BOOL, p); }
Variant Variant::Ref(std::string* p) { return ByRef(VT_BSTR, p); }
Variant Variant::Ref(Variant* p) { return ByRef(VT_VARIANT, p); }

std::int16_t Variant::i2() const {
    if (vt_ != VT_I2) WrongType("i2");
    return i2_;
}
std::int32_t Variant::i4() const {
    if (vt_ != VT_I4) WrongType("i4");
    return i4_;
}
std::uint8_t Variant::ui1() const {
    if (vt_ != VT_UI1) WrongType("ui1");
    return ui1_;
}
bool Variant::boolean() const {
    if (vt_ != VT_BOOL) WrongType("boolean");
    return bool_;
}
const std::string& Variant::str() const {
    if (vt_ != VT_BSTR) WrongType("str");
    return str_;
}
HRESULT Variant::scode() const {
    if (vt_ != VT_ERROR) WrongType("scode");
    return scode_;
}
IDispatch* Variant::dispatch() const {
    if (vt_ != VT_DISPATCH) WrongType("dispatch");
    return static_cast<IDispatch*>(unk_);
}
IUnknown* Variant::unknown() const {
    if (!IsInterface(vt_)) WrongType("unknown");
    return unk_;
}
std::int16_t* Variant::pi2() const {
    if (vt_ != (VT_BYREF | VT_I2)) WrongType("pi2");
    return static_cast<std::int16_t*>(ref_);
}
std::int32_t* Variant::pi4() const {
    if (vt_ != (VT_BYREF | VT_I4)) WrongType("pi4");
    return static_cast<std::int32_t*>(ref_);
}
std::uint8_t* Variant::pui1() const {
    if (vt_ != (VT_BYREF | VT_UI1)) WrongType("pui1");
    return static_cast<std::uint8_t*>(ref_);
}
bool* Variant::pbool() const {
    if (vt_ != (VT_BYREF | VT_BOOL)) WrongType("pbool");
    return static_cast<bool*>(ref_);
}
std::string* Variant::pstr() const {
    if (vt_ != (VT_BYREF | VT_BSTR)) WrongType("pstr");
    return static_cast<std::string*>(ref_);
}
Variant* Variant::pvar() const {
    if (vt_ != (VT_BYREF | VT_VARIANT)) WrongType("pvar");
    return static_cast<Variant*>(ref_);
}

Variant Variant::Deref() const {
    if (!IsByRef()) return *this;
    if (ref_ == nullptr) return Variant::Error(E_POINTER);
    switch (vt_ & VT_TYPEMASK) {
        case VT_I2:
            return I2(*pi2());
        case VT_I4:
            return I4(*pi4());
        case VT_UI1:
            return UI1(*pui1());
        case VT_BOOL:
            return Bool(*pbool());
        case VT_BSTR:
            return Str(*pstr());
        case VT_VARIANT: {
            // Follow a chain of references, but not round a loop.
            const Variant* v = pvar();
            for (int hops = 0; v->vt_ == (VT_BYREF | VT_VARIANT); ++hops) {
                if (hops == 16 || v->ref_ == nullptr) return Variant::Error(E_POINTER);
                v = v->pvar();
            }
            return v->Deref();
        }
        default:
            return Variant::Error(DISP_E_BADVARTYPE);
    }
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Parses a decimal number as the platform's text-to-number conversion does
// for the forms used here; the fraction is rounded half to even.
HRESULT ParseNumber(const std::string& text, long double* out) {
    std::size_t i = 0, n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    while (n > i && IsBlank(text[n - 1])) --n;
    if (i == n) return DISP_E_TYPEMISMATCH;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    long double whole = 0;
    bool digits = false;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        whole = whole * 10 + (text[i] - '0');
        digits = true;
        ++i;
    }
    long double fraction = 0, scale = 1;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && text[i] >= '0' && text[i] <= '9') {
            scale /= 10;
            fraction += (text[i] - '0') * scale;
            digits = true;
            ++i;
        }
    }
    if (!digits || i != n) return DISP_E_TYPEMISMATCH;
    long double rounded = whole;
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(whole, 2.0L) != 0)) rounded += 1;
    *out = negative ? -rounded : rounded;
    return S_OK;
}

// The numeric value of a plain (not by-reference) variant, for coercion.
HRESULT NumericValue(const Variant& v, long double* out) {
    switch (v.vt()) {
        case VT_EMPTY:
            *out = 0;
            return S_OK;
        case VT_I2:
            *out = v.i2();
            return S_OK;
        case VT_I4:
            *out = v.i4();
            return S_OK;
        case VT_UI1:
            *out = v.ui1();
            return S_OK;
        case VT_BOOL:
            *out = v.boolean() ? -1 : 0;
            return S_OK;
        case VT_BSTR:
            return ParseNumber(v.str(), out);
        case VT_NULL:
        case VT_ERROR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return DISP_E_TYPEMISMATCH;
        default:
            return DISP_E_BADVARTYPE;
    }
}

template <class T>
HRESULT ToInteger(const Variant& v, T* out) {
    long double x = 0;
    if (HRESULT hr = NumericValue(v, &x); Failed(hr)) return hr;
    if (v.vt() == VT_BOOL && std::is_unsigned_v<T>) {
        *out = v.boolean() ? std::numeric_limits<T>::max() : 0;
        return S_OK;
    }
    if (x < static_cast<long double>(std::numeric_limits<T>::min()) ||
        x > static_cast<long double>(std::numeric_limits<T>::max()))
        return DISP_E_OVERFLOW;
    *out = static_cast<T>(x);
    return S_OK;
}

bool EqualsNoCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && b[i] == 0;
}

HRESULT Coerce(const Variant& src, VARTYPE vt, Variant* out) {
    switch (vt) {
        case VT_VARIANT:
            *out = src;
            return S_OK;
        case VT_EMPTY:
            if (src.vt() != VT_EMPTY) return DISP_E_TYPEMISMATCH;
            *out = Variant();
            return S_OK;
        case VT_ERROR:
            if (src.vt() != VT_ERROR) return DISP_E_TYPEMISMATCH;
            *out = src;
            return S_OK;
        case VT_I2: {
            std::int16_t x = 0;
            HRESULT hr = ToInteger(src, &x);
            if (Succeeded(hr)) *out = Variant::I2(x);
            return hr;
        }
        case VT_I4: {
            std::int32_t x = 0;
            HRESULT hr = ToInteger(src, &x);
            if (Succeeded(hr)) *out = Variant::I4(x);
            return hr;
        }
        case VT_UI1: {
            std::uint8_t x = 0;
            HRESULT hr = ToInteger(src, &x);
            if (Succeeded(hr)) *out = Variant::UI1(x);
            return hr;
        }
        case VT_BOOL: {
            if (src.vt() == VT_BSTR) {
                if (EqualsNoCase(src.str(), "true")) {
                    *out = Variant::Bool(true);
                    return S_OK;
                }
                if (EqualsNoCase(src.str(), "false")) {
                    *out = Variant::Bool(false);
                    return S_OK;
                }
            }
            long double x = 0;
            if (HRESULT hr = NumericValue(src, &x); Failed(hr)) return hr;
            *out = Variant::Bool(x != 0);
            return S_OK;
        }
        case VT_BSTR:
            switch (src.vt()) {
                case VT_EMPTY:
                    *out = Variant::Str({});
                    return S_OK;
                case VT_BSTR:
                    *out = src;
                    return S_OK;
                case VT_I2:
                    *out = Variant::Str(std::to_string(src.i2()));
                    return S_OK;
                case VT_I4:
                    *out = Variant::Str(std::to_string(src.i4()));
                    return S_OK;
                case VT_UI1:
                    *out = Variant::Str(std::to_string(src.ui1()));
                    return S_OK;
                case VT_BOOL:
                    *out = Variant::Str(src.boolean() ? "-1" : "0");
                    return S_OK;
                case VT_NULL:
                case VT_ERROR:
                case VT_DISPATCH:
                case VT_UNKNOWN:
                    return DISP_E_TYPEMISMATCH;
                default:
                    return DISP_E_BADVARTYPE;
            }
        default:
            return DISP_E_BADVARTYPE;
    }
}

}  // namespace

HRESULT VariantChangeType(Variant* dest, const Variant& src, std::uint16_t /*flags*/, VARTYPE vt) {
    if (dest == nullptr) return E_POINTER;
    Variant value = src.Deref();
    if (src.IsByRef() && value.vt() == VT_ERROR && value.scode() == E_POINTER) return E_POINTER;
    Variant out;
    HRESULT hr = Coerce(value, vt, &out);
    if (Succeeded(hr)) *dest = std::move(out);
    return hr;
}

std::int32_t VariantToInt32(const Variant& v) {
    Variant out;
    Check(VariantChangeType(&out, v, 0, VT_I4));
    return out.i4();
}

}  // namespace ostra::com
