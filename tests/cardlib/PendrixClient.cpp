// pendrix_client: drives "Pendrix.MervCard" by ProgID and late binding the
// way the service's lock driver does (multithreaded apartment, one object per
// operation: openport, the card call, closeport), for tests in a child
// process. One line of output per operation:
//
//   pendrix_client issue PORT BLDG FLOOR ROOM END [COUNT]
//       -> "issue <result> <card text>"          (COUNT lines)
//   pendrix_client read PORT   -> "read <result> <card> <room> <end>"
//   pendrix_client cancel PORT -> "cancel <result>"
//   a failed call              -> "error <hex code> <description>"
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/com/Com.h"

using namespace ostra::com;

namespace {

int32_t OpenPort(IDispatch* card, int32_t port) {
    return VariantToInt32(CallMethod(card, "openport", {Variant::I4(port), Variant::I4(9600)}));
}

void ClosePort(IDispatch* card, int32_t& handle) {
    CallMethod(card, "closeport", {Variant::Ref(&handle)});
}

void Issue(int32_t port, int32_t bldg, int32_t floor, std::string room, std::string end) {
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    int32_t h = OpenPort(card.Get(), port);
    std::string cardNo = "00000028", holder = "USER1";
    int32_t r = -99;
    if (h > 0)
        r = VariantToInt32(CallMethod(
            card.Get(), "WriteCard",
            {Variant::Ref(&h), Variant::Ref(&end), Variant::Ref(&cardNo), Variant::Ref(&bldg),
             Variant::Ref(&floor), Variant::Ref(&room), Variant::Ref(&holder)}));
    ClosePort(card.Get(), h);
    std::printf("issue %d %s\n", r, cardNo.c_str());
}

void Read(int32_t port) {
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    int32_t h = OpenPort(card.Get(), port);
    std::string cardNo, room, end;
    int32_t r = -99;
    if (h > 0)
        r = VariantToInt32(CallMethod(
            card.Get(), "ReadCard",
            {Variant::Ref(&h), Variant::Ref(&cardNo), Variant::Ref(&room), Variant::Ref(&end)}));
    ClosePort(card.Get(), h);
    std::printf("read %d %s %s %s\n", r, cardNo.c_str(), room.c_str(), end.c_str());
}

void Cancel(int32_t port) {
    ComPtr<IDispatch> card = CreateObject("Pendrix.MervCard");
    int32_t h = OpenPort(card.Get(), port);
    std::string end = "200612311200", cardNo = "00000028", room = "0000", holder = "USER1";
    int32_t one = 1, r = -99;
    int32_t floor = 1;
    if (h > 0)
        r = VariantToInt32(CallMethod(
            card.Get(), "WriteCard",
            {Variant::Ref(&h), Variant::Ref(&end), Variant::Ref(&cardNo), Variant::Ref(&one),
             Variant::Ref(&floor), Variant::Ref(&room), Variant::Ref(&holder)}));
    ClosePort(card.Get(), h);
    std::printf("cancel %d\n", r);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() < 2) {
        std::fprintf(stderr, "usage: pendrix_client issue|read|cancel PORT ...\n");
        return 2;
    }
    ApartmentScope apartment(COINIT_MULTITHREADED);
    if (Failed(apartment.result())) return 3;
    try {
        int32_t port = std::atoi(a[1].c_str());
        if (a[0] == "issue" && a.size() >= 6) {
            int count = a.size() >= 7 ? std::atoi(a[6].c_str()) : 1;
            for (int i = 0; i < count; ++i)
                Issue(port, std::atoi(a[2].c_str()), std::atoi(a[3].c_str()), a[4], a[5]);
        } else if (a[0] == "read") {
            Read(port);
        } else if (a[0] == "cancel") {
            Cancel(port);
        } else {
            return 2;
        }
    } catch (const ComError& e) {
        std::printf("error %08X %s\n", static_cast<unsigned>(e.hr()), e.what());
    }
    std::fflush(stdout);
    return 0;
}
