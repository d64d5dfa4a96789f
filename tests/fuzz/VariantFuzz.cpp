// VARIANT coercion, as every late-bound call's arguments and results go
// through it.
//
// Input: byte 0 the source type, byte 1 how the source is reached (by value,
// by reference, through a chain of variant references, a reference to
// nothing, a loop of references), byte 2 the target type; the rest is the
// value (a little-endian number or a text).
//
// What must hold: only the documented result codes; on failure the
// destination is untouched; on success it holds the target type; coercing a
// variant onto itself gives what coercing into another gives; a decimal text
// of up to 18 digits becomes exactly its number when that fits (overflow
// when it does not); a number goes to text and back unchanged.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/Com.h"
#include "tests/fuzz/FuzzEntries.h"

namespace ostra::fuzz {

namespace {

using namespace ostra::com;

const VARTYPE kTargets[] = {VT_EMPTY, VT_NULL,    VT_I2,       VT_I4,   VT_BSTR,
                            VT_ERROR, VT_BOOL,    VT_VARIANT,  VT_UI1,  VT_DISPATCH,
                            VT_UNKNOWN, VT_BYREF | VT_I4, 0x0FFF, 0xFFFF, 5 /* VT_R8 */};

bool IsInteger(VARTYPE vt) {
    return vt == VT_I2 || vt == VT_I4 || vt == VT_UI1;
}

long long IntegerOf(const Variant& v) {
    switch (v.vt()) {
        case VT_I2:
            return v.i2();
        case VT_I4:
            return v.i4();
        case VT_UI1:
            return v.ui1();
        default:
            throw PropertyViolation("not an integer variant");
    }
}

bool InRange(long long x, VARTYPE vt) {
    switch (vt) {
        case VT_I2:
            return x >= -32768 && x <= 32767;
        case VT_I4:
            return x >= -2147483648LL && x <= 2147483647LL;
        case VT_UI1:
            return x >= 0 && x <= 255;
        default:
            return false;
    }
}

bool Same(const Variant& a, const Variant& b) {
    if (a.vt() != b.vt()) return false;
    switch (a.vt()) {
        case VT_I2:
        case VT_I4:
        case VT_UI1:
            return IntegerOf(a) == IntegerOf(b);
        case VT_BOOL:
            return a.boolean() == b.boolean();
        case VT_BSTR:
            return a.str() == b.str();
        case VT_ERROR:
            return a.scode() == b.scode();
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return a.unknown() == b.unknown();
        default:
            return true;
    }
}

// A decimal text of 1 to 18 digits with blanks around and an optional sign:
// its value. False for any other text.
bool PlainDecimal(const std::string& s, long long& value) {
    size_t i = 0, n = s.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < n && blank(s[i])) ++i;
    while (n > i && blank(s[n - 1])) --n;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == n || n - i > 18) return false;
    long long v = 0;
    for (; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    value = negative ? -v : v;
    return true;
}

}  // namespace

void VariantCoercion(const uint8_t* Data, size_t Size) {
    if (Size < 3) return;
    const uint8_t kind = Data[0] % 11, access = Data[1] % 6;
    const VARTYPE target = Data[2] < 15 * 16 ? kTargets[Data[2] % 15] : Data[2];
    const std::string payload(reinterpret_cast<const char*>(Data) + 3, Size - 3);
    uint32_t raw = 0;
    std::memcpy(&raw, payload.data(), std::min<size_t>(4, payload.size()));

    // The storage that by-reference variants point at.
    int16_t i2 = int16_t(raw);
    int32_t i4 = int32_t(raw);
    uint8_t ui1 = uint8_t(raw);
    bool b = raw & 1;
    std::string text = payload;

    Variant value;
    switch (kind) {
        case 0: value = Variant(); break;
        case 1: value = Variant::Null(); break;
        case 2: value = access == 1 ? Variant::Ref(&i2) : Variant::I2(i2); break;
        case 3: value = access == 1 ? Variant::Ref(&i4) : Variant::I4(i4); break;
        case 4: value = access == 1 ? Variant::Ref(&ui1) : Variant::UI1(ui1); break;
        case 5: value = access == 1 ? Variant::Ref(&b) : Variant::Bool(b); break;
        case 6:
        case 7: value = access == 1 ? Variant::Ref(&text) : Variant::Str(text); break;
        case 8: value = Variant::Error(int32_t(raw)); break;
        case 9: value = Variant::Missing(); break;
        default: value = Variant::Dispatch(nullptr); break;
    }
    // Chains and loops of variant references.
    Variant links[24];
    Variant src = value;
    if (access == 2 || access == 5) {
        const size_t length = 1 + raw % 23;
        links[0] = value;
        for (size_t i = 1; i < length; ++i) links[i] = Variant::Ref(&links[i - 1]);
        src = Variant::Ref(&links[length - 1]);
    } else if (access == 3) {
        src = Variant::Ref(static_cast<int32_t*>(nullptr));
    } else if (access == 4) {
        links[0] = Variant::Ref(&links[1]);
        links[1] = Variant::Ref(&links[0]);
        src = Variant::Ref(&links[0]);
    }

    const Variant sentinel = Variant::Str("untouched");
    Variant dest = sentinel;
    const HRESULT hr = VariantChangeType(&dest, src, 0, target);
    Expect(hr == S_OK || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW ||
               hr == DISP_E_BADVARTYPE || hr == E_POINTER,
           "unexpected result code " + std::to_string(hr));
    if (!Succeeded(hr)) {
        Expect(Same(dest, sentinel), "a failed coercion changed its destination");
    } else if (target == VT_VARIANT) {
        Expect(Same(dest, src.Deref()), "a coercion to VARIANT is not the value itself");
    } else {
        Expect(dest.vt() == target, "the result is not of the target type");
    }

    // Onto itself, the same outcome.
    Variant self = src;
    const HRESULT selfHr = VariantChangeType(&self, self, 0, target);
    Expect(selfHr == hr, "coercing onto itself gives another result code");
    if (Succeeded(hr)) Expect(Same(self, dest), "coercing onto itself gives another value");

    const Variant plain = src.Deref();
    // Decimal texts become exactly their number.
    long long expected = 0;
    if (plain.vt() == VT_BSTR && IsInteger(target) && PlainDecimal(plain.str(), expected)) {
        if (InRange(expected, target))
            Expect(Succeeded(hr) && IntegerOf(dest) == expected,
                   "'" + plain.str() + "' did not become " + std::to_string(expected));
        else
            Expect(hr == DISP_E_OVERFLOW, "'" + plain.str() + "' out of range did not overflow");
    }
    // Integers between the integer types: exact when in range, overflow else.
    if (IsInteger(plain.vt()) && IsInteger(target)) {
        const long long x = IntegerOf(plain);
        if (InRange(x, target))
            Expect(Succeeded(hr) && IntegerOf(dest) == x, "integer not carried over");
        else
            Expect(hr == DISP_E_OVERFLOW, "integer out of range did not overflow");
    }
    // A number to text and back.
    if (IsInteger(target) && Succeeded(hr)) {
        Variant asText;
        Expect(VariantChangeType(&asText, dest, 0, VT_BSTR) == S_OK, "number to text failed");
        Variant back;
        Expect(VariantChangeType(&back, asText, 0, target) == S_OK && Same(back, dest),
               "number does not survive a trip through text: " + asText.str());
    }
}

}  // namespace ostra::fuzz
