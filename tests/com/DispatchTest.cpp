// The standard dispatch from a static description and call-by-name, on an
// object in the test itself (no apartment or library involved).
#include <gtest/gtest.h>

#include "platform/com/Com.h"

using namespace ostra::com;

namespace {

constexpr ParamDesc kOpenParams[] = {{"port", VT_VARIANT, PARAMFLAG_FIN},
                                     {"baud", VT_I2, PARAMFLAG_FIN | PARAMFLAG_FOPT},
                                     {"r", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kWriteParams[] = {
    {"IcDevH", VT_I4, PARAMFLAG_FIN},
    {"CardNo", VT_BYREF | VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOUT},
    {"BldgNo", VT_I2, PARAMFLAG_FIN},
    {"r", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDesc kFailParams[] = {{"r", VT_BYREF | VT_I2, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr FuncDesc kFuncs[] = {{0x60030000, "OpenPort", kOpenParams},
                               {0x60030002, "writeCard", kWriteParams},
                               {0x60030004, "Broken", kFailParams},
                               {0x60030005, "Refuses", kFailParams},
                               {0x60030006, "Wide", kOpenParams}};
constexpr InterfaceDesc kItf{"_Sample",
                             *ParseGuid("{11111111-2222-3333-4444-555555555555}"),
                             1,
                             0,
                             TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE,
                             kFuncs};

// Records what the body saw.
struct Seen {
    int calls = 0;
    Variant port;
    std::int16_t baud = 0;
};

HRESULT Body(void* self, const FuncDesc& fn, std::span<Variant> args, Variant* ret) {
    auto* seen = static_cast<Seen*>(self);
    ++seen->calls;
    switch (fn.memid) {
        case 0x60030000:
            seen->port = args[0];
            seen->baud = args[1].i2();
            *ret = Variant::I2(1);
            return S_OK;
        case 0x60030002:
            *args[1].pstr() = "00001A:" + std::to_string(args[0].i4() + args[2].i2());
            return S_OK;
        case 0x60030004:
            throw std::runtime_error("database gone");
        case 0x60030006:
            *ret = args[0].Deref();
            return S_OK;  // whatever came in
        default:
            return E_NOTIMPL;  // a failed code without an exception
    }
}

HRESULT Invoke(Seen* seen, DISPID id, std::vector<Variant> reversed, Variant* result,
               ExcepInfo* excep = nullptr, std::uint32_t* argErr = nullptr,
               std::uint16_t flags = DISPATCH_METHOD) {
    DispParams params;
    params.args = reversed.empty() ? nullptr : reversed.data();
    params.count = static_cast<std::uint32_t>(reversed.size());
    return DispInvoke(kItf, seen, &Body, "Sample.Object", id, flags, &params, result, excep,
                      argErr);
}

TEST(DispGetIDsOfNames, MatchesWithoutCase) {
    const char* names[] = {"WRITECARD", "cardno", "nosuch"};
    DISPID ids[3];
    EXPECT_EQ(DispGetIDsOfNames(kItf, names, 1, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60030002);
    EXPECT_EQ(DispGetIDsOfNames(kItf, names, 3, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);
    const char* unknown[] = {"openportx"};
    EXPECT_EQ(DispGetIDsOfNames(kItf, unknown, 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

TEST(DispInvoke, ArgumentsArriveInDeclaredOrderAndTypes) {
    Seen seen;
    Variant result;
    // Reverse order: the last argument first. "2" reaches a VARIANT as text,
    // a VT_I4 reaches a short.
    ASSERT_EQ(Invoke(&seen, 0x60030000, {Variant::I4(9600), Variant::Str("2")}, &result), S_OK);
    EXPECT_EQ(seen.port.str(), "2");
    EXPECT_EQ(seen.baud, 9600);
    EXPECT_EQ(result.vt(), VT_I2);
    EXPECT_EQ(result.i2(), 1);
}

TEST(DispInvoke, OptionalArgumentsMayBeOmittedOrMissing) {
    Seen seen;
    Variant result;
    ASSERT_EQ(Invoke(&seen, 0x60030000, {Variant::I4(0)}, &result), S_OK);
    EXPECT_EQ(seen.baud, 0);
    ASSERT_EQ(Invoke(&seen, 0x60030000, {Variant::Missing(), Variant::I4(0)}, &result), S_OK);
    EXPECT_EQ(seen.baud, 0);
    EXPECT_EQ(Invoke(&seen, 0x60030000, {}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(&seen, 0x60030000, {Variant(), Variant(), Variant()}, &result),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(seen.calls, 2);
}

TEST(DispInvoke, ByReferenceTextIsCopiedBack) {
    Seen seen;
    Variant result;
    std::string card = "00000028";
    std::int32_t handle = 1;
    // The platform's by-reference forms: the handle as VT_BYREF|VT_I4 reaches
    // a long, the building as VT_BYREF|VT_I4 a short.
    std::int32_t building = 3;
    ASSERT_EQ(
        Invoke(&seen, 0x60030002,
               {Variant::Ref(&building), Variant::Ref(&card), Variant::Ref(&handle)}, &result),
        S_OK);
    EXPECT_EQ(card, "00001A:4");
    EXPECT_EQ(result.i2(), 0);

    // A by-reference argument of another type is converted there and back.
    Variant held = Variant::I4(5);
    ASSERT_EQ(
        Invoke(&seen, 0x60030002, {Variant::I2(1), Variant::Ref(&held), Variant::I4(1)}, &result),
        S_OK);
    EXPECT_EQ(held.vt(), VT_BSTR);
    EXPECT_EQ(held.str(), "00001A:2");
}

TEST(DispInvoke, CoercionFailureNamesTheArgument) {
    Seen seen;
    Variant result;
    std::string card;
    std::uint32_t argErr = 99;
    EXPECT_EQ(Invoke(&seen, 0x60030002, {Variant::I4(40000), Variant::Ref(&card), Variant::I4(1)},
                     &result, nullptr, &argErr),
              DISP_E_OVERFLOW);
    EXPECT_EQ(argErr, 0u);  // index into the reversed array: the building
    EXPECT_EQ(Invoke(&seen, 0x60030002, {Variant::I4(1), Variant::Ref(&card), Variant::Str("A1")},
                     &result, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 2u);
    EXPECT_EQ(seen.calls, 0);
}

TEST(DispInvoke, RefusesWhatItCannotCall) {
    Seen seen;
    Variant result;
    EXPECT_EQ(Invoke(&seen, 0x12345, {}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(&seen, 0x60030004, {}, &result, nullptr, nullptr, DISPATCH_PROPERTYPUT),
              DISP_E_MEMBERNOTFOUND);
    DISPID named = 0;
    Variant arg = Variant::I4(0);
    DispParams params{&arg, &named, 1, 1};
    EXPECT_EQ(DispInvoke(kItf, &seen, &Body, "x", 0x60030000, DISPATCH_METHOD, &params, &result,
                         nullptr, nullptr),
              DISP_E_NONAMEDARGS);
    EXPECT_EQ(seen.calls, 0);
}

TEST(DispInvoke, ResultsLeaveAsTheDeclaredType) {
    Seen seen;
    Variant result;
    ASSERT_EQ(Invoke(&seen, 0x60030006, {Variant::Str("12")}, &result), S_OK);
    EXPECT_EQ(result.vt(), VT_I2);
    EXPECT_EQ(result.i2(), 12);
    ExcepInfo excep;
    EXPECT_EQ(Invoke(&seen, 0x60030006, {Variant::I4(70000)}, &result, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, DISP_E_OVERFLOW);
}

TEST(DispInvoke, ReferencesToNothingAreRefused) {
    Seen seen;
    Variant result;
    std::uint32_t argErr = 9;
    EXPECT_EQ(
        Invoke(&seen, 0x60030002,
               {Variant::I4(1), Variant::Ref(static_cast<std::string*>(nullptr)), Variant::I4(1)},
               &result, nullptr, &argErr),
        E_POINTER);
    EXPECT_EQ(argErr, 1u);
    EXPECT_EQ(seen.calls, 0);
}

TEST(DispInvoke, ErrorsBecomeExceptionRecords) {
    Seen seen;
    Variant result;
    ExcepInfo excep;
    ASSERT_EQ(Invoke(&seen, 0x60030004, {}, &result, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.source, "Sample.Object");
    EXPECT_EQ(excep.description, "database gone");
    EXPECT_EQ(excep.scode, E_FAIL);

    ASSERT_EQ(Invoke(&seen, 0x60030005, {}, &result, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, E_NOTIMPL);
    EXPECT_EQ(excep.description, "Not implemented");
    // No record wanted: still a failure, and no crash.
    EXPECT_EQ(Invoke(&seen, 0x60030004, {}, &result, nullptr), DISP_E_EXCEPTION);
}

// A plain object in this thread for CallMethod.
class Sample final : public IDispatch {
  public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(std::uint32_t* n) override {
        *n = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, const InterfaceDesc** info) override {
        *info = &kItf;
        return S_OK;
    }
    HRESULT GetIDsOfNames(const IID&, const char* const* names, std::uint32_t count, LCID,
                          DISPID* ids) override {
        return DispGetIDsOfNames(kItf, names, count, ids);
    }
    HRESULT Invoke(DISPID id, const IID&, LCID, std::uint16_t flags, DispParams* params,
                   Variant* result, ExcepInfo* excep, std::uint32_t* argErr) override {
        return DispInvoke(kItf, &seen, &Body, "Sample.Object", id, flags, params, result, excep,
                          argErr);
    }
    Seen seen;
};

TEST(CallMethod, PassesArgumentsInParameterOrder) {
    Sample obj;
    std::string card = "00000028";
    std::int32_t h = 3;
    Variant r =
        CallMethod(&obj, "WriteCard", {Variant::Ref(&h), Variant::Ref(&card), Variant::I4(4)});
    EXPECT_EQ(r.i2(), 0);
    EXPECT_EQ(card, "00001A:7");
    EXPECT_EQ(VariantToInt32(CallMethod(&obj, "openport", {Variant::I4(0), Variant::I4(9600)})), 1);
}

TEST(CallMethod, FailuresThrowWithTheRecord) {
    Sample obj;
    try {
        CallMethod(&obj, "broken", {});
        FAIL() << "no exception";
    } catch (const ComError& e) {
        EXPECT_EQ(e.hr(), E_FAIL);
        EXPECT_EQ(e.source(), "Sample.Object");
        EXPECT_STREQ(e.what(), "database gone");
    }
    try {
        CallMethod(&obj, "NoSuchMethod", {});
        FAIL() << "no exception";
    } catch (const ComError& e) {
        EXPECT_EQ(e.hr(), DISP_E_UNKNOWNNAME);
        EXPECT_STREQ(e.what(), "Unknown name.");
    }
    try {
        CallMethod(&obj, "writecard", {Variant::I4(1)});
        FAIL() << "no exception";
    } catch (const ComError& e) {
        EXPECT_EQ(e.hr(), DISP_E_BADPARAMCOUNT);
    }
    EXPECT_THROW(CallMethod(nullptr, "x", {}), ComError);
}

}  // namespace
