// GUIDs, result texts, VARIANT ownership and the coercions between types.
#include <gtest/gtest.h>

#include "platform/com/Com.h"

using namespace ostra::com;

namespace {

TEST(Guid, ParsesAndFormatsRoundTrip) {
    constexpr auto g = ParseGuid("{6EBE05AA-BB52-432F-9F3A-1938216F0FAC}");
    static_assert(g.has_value());
    EXPECT_EQ(g->data1, 0x6EBE05AAu);
    EXPECT_EQ(g->data2, 0xBB52);
    EXPECT_EQ(g->data3, 0x432F);
    EXPECT_EQ(g->data4[0], 0x9F);
    EXPECT_EQ(g->data4[7], 0xAC);
    EXPECT_EQ(GuidToString(*g), "{6EBE05AA-BB52-432F-9F3A-1938216F0FAC}");
    EXPECT_EQ(ParseGuid("6ebe05aa-bb52-432f-9f3a-1938216f0fac"), g);
    EXPECT_EQ(GuidToString(IDispatch::kIid), "{00020400-0000-0000-C000-000000000046}");
}

TEST(Guid, RejectsMalformedText) {
    for (const char* bad :
         {"", "{}", "{6EBE05AA-BB52-432F-9F3A-1938216F0FA}",
          "{6EBE05AA-BB52-432F-9F3A-1938216F0FACX", "{6EBE05AA_BB52-432F-9F3A-1938216F0FAC}",
          "{6EBE05AG-BB52-432F-9F3A-1938216F0FAC}", "6EBE05AA-BB52-432F-9F3A-1938216F0FAC}"})
        EXPECT_FALSE(ParseGuid(bad).has_value()) << bad;
}

TEST(HResult, ChecksAndTexts) {
    EXPECT_TRUE(Succeeded(S_FALSE));
    EXPECT_TRUE(Failed(E_FAIL));
    EXPECT_EQ(static_cast<std::uint32_t>(RPC_E_CHANGED_MODE), 0x80010106u);
    EXPECT_EQ(HResultMessage(REGDB_E_CLASSNOTREG), "Class not registered");
    EXPECT_EQ(HResultMessage(DISP_E_TYPEMISMATCH), "Type mismatch.");
    EXPECT_EQ(HResultMessage(MakeHr(0x80991234)), "Error 0x80991234");
    EXPECT_THROW(Check(E_FAIL), ComError);
    EXPECT_NO_THROW(Check(S_FALSE));
    ComError e(DISP_E_OVERFLOW);
    EXPECT_STREQ(e.what(), "Out of present range.");
    ComError d(E_FAIL, "Src", "described");
    EXPECT_STREQ(d.what(), "described");
    EXPECT_EQ(d.source(), "Src");
}

// An interface whose reference count the tests watch.
class Counted final : public IUnknown {
  public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

TEST(Variant, CopiesHoldInterfaceReferences) {
    Counted obj;
    {
        Variant a = Variant::Unknown(&obj);
        EXPECT_EQ(obj.refs, 2u);
        Variant b = a;
        EXPECT_EQ(obj.refs, 3u);
        Variant c = std::move(b);
        EXPECT_EQ(obj.refs, 3u);
        EXPECT_EQ(b.vt(), VT_EMPTY);
        c = Variant::I4(1);
        EXPECT_EQ(obj.refs, 2u);
        Variant& alias = a;
        a = alias;
        EXPECT_EQ(obj.refs, 2u);
    }
    EXPECT_EQ(obj.refs, 1u);
}

TEST(Variant, ByReferenceSeesCallerStorage) {
    std::string text = "abc";
    Variant r = Variant::Ref(&text);
    EXPECT_EQ(r.vt(), VT_BYREF | VT_BSTR);
    *r.pstr() = "changed";
    EXPECT_EQ(text, "changed");
    EXPECT_EQ(r.Deref().str(), "changed");
    Variant inner = Variant::I2(7);
    Variant rv = Variant::Ref(&inner);
    EXPECT_EQ(rv.Deref().i2(), 7);
    EXPECT_THROW(r.i4(), std::logic_error);

    // A reference loop or a reference to nothing is an error, not a crash.
    Variant loop;
    loop = Variant::Ref(&loop);
    HRESULT hr = VariantChangeType(&inner, loop, 0, VT_I4);
    EXPECT_EQ(hr, E_POINTER);
    EXPECT_EQ(
        VariantChangeType(&inner, Variant::Ref(static_cast<std::int32_t*>(nullptr)), 0, VT_I4),
        E_POINTER);
}

Variant Change(const Variant& v, VARTYPE vt, HRESULT* hr) {
    Variant out = Variant::Str("untouched");
    *hr = VariantChangeType(&out, v, 0, vt);
    return out;
}

struct Case {
    Variant in;
    VARTYPE to;
    HRESULT hr;
    std::int64_t value;  // when hr succeeded and to is numeric
};

TEST(VariantChangeType, NumbersWithRangeChecks) {
    const Case cases[] = {
        {Variant::I4(32767), VT_I2, S_OK, 32767},
        {Variant::I4(32768), VT_I2, DISP_E_OVERFLOW, 0},
        {Variant::I4(-32769), VT_I2, DISP_E_OVERFLOW, 0},
        {Variant::I4(255), VT_UI1, S_OK, 255},
        {Variant::I4(256), VT_UI1, DISP_E_OVERFLOW, 0},
        {Variant::I2(-1), VT_UI1, DISP_E_OVERFLOW, 0},
        {Variant::UI1(200), VT_I2, S_OK, 200},
        {Variant::I2(-5), VT_I4, S_OK, -5},
        {Variant(), VT_I4, S_OK, 0},
        {Variant::Bool(true), VT_I2, S_OK, -1},
        {Variant::Bool(true), VT_UI1, S_OK, 255},
        {Variant::Str(" 42 "), VT_I4, S_OK, 42},
        {Variant::Str("-17"), VT_I2, S_OK, -17},
        {Variant::Str("+3"), VT_UI1, S_OK, 3},
        {Variant::Str("2.5"), VT_I4, S_OK, 2},
        {Variant::Str("3.5"), VT_I4, S_OK, 4},
        {Variant::Str("2.51"), VT_I4, S_OK, 3},
        {Variant::Str("2147483647"), VT_I4, S_OK, 2147483647},
        {Variant::Str("2147483648"), VT_I4, DISP_E_OVERFLOW, 0},
        {Variant::Str("99999999999999999999999"), VT_I2, DISP_E_OVERFLOW, 0},
        {Variant::Str("256"), VT_UI1, DISP_E_OVERFLOW, 0},
        {Variant::Str(""), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Variant::Str("   "), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Variant::Str("A1"), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Variant::Str("1A"), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Variant::Str("-"), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Variant::Str("."), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Variant::Str("1 2"), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Variant::Null(), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Variant::Missing(), VT_I2, DISP_E_TYPEMISMATCH, 0},
    };
    for (const Case& c : cases) {
        HRESULT hr = S_OK;
        Variant out = Change(c.in, c.to, &hr);
        ASSERT_EQ(hr, c.hr) << "case " << (&c - cases);
        if (Failed(hr)) {
            EXPECT_EQ(out.str(), "untouched") << "case " << (&c - cases);
            continue;
        }
        ASSERT_EQ(out.vt(), c.to);
        std::int64_t got = c.to == VT_I2 ? out.i2() : c.to == VT_I4 ? out.i4() : out.ui1();
        EXPECT_EQ(got, c.value) << "case " << (&c - cases);
    }
}

TEST(VariantChangeType, TextAndTruthValues) {
    HRESULT hr = S_OK;
    EXPECT_EQ(Change(Variant::I4(-12), VT_BSTR, &hr).str(), "-12");
    EXPECT_EQ(Change(Variant::UI1(7), VT_BSTR, &hr).str(), "7");
    EXPECT_EQ(Change(Variant::Bool(true), VT_BSTR, &hr).str(), "-1");
    EXPECT_EQ(Change(Variant(), VT_BSTR, &hr).str(), "");
    EXPECT_TRUE(Change(Variant::Str("TRUE"), VT_BOOL, &hr).boolean());
    EXPECT_FALSE(Change(Variant::Str("0"), VT_BOOL, &hr).boolean());
    EXPECT_TRUE(Change(Variant::I2(2), VT_BOOL, &hr).boolean());
    Change(Variant::Str("yes"), VT_BOOL, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    Change(Variant::Null(), VT_BSTR, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    Change(Variant::I4(1), 7 /* a date */, &hr);
    EXPECT_EQ(hr, DISP_E_BADVARTYPE);
}

TEST(VariantChangeType, DereferencesAndConvertsInPlace) {
    std::int32_t n = 70000;
    Variant v = Variant::Ref(&n);
    HRESULT hr = S_OK;
    Change(v, VT_I2, &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);
    n = 9;
    EXPECT_EQ(Change(v, VT_I2, &hr).i2(), 9);
    EXPECT_EQ(Change(v, VT_VARIANT, &hr).i4(), 9);  // the value, no longer a reference

    Variant same = Variant::Str("12");
    ASSERT_EQ(VariantChangeType(&same, same, 0, VT_I4), S_OK);
    EXPECT_EQ(same.i4(), 12);
    EXPECT_EQ(VariantToInt32(Variant::Str("5")), 5);
    EXPECT_THROW(VariantToInt32(Variant::Str("x")), ComError);
}

}  // namespace
