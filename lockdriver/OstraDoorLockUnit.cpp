#include "lockdriver/OstraDoorLockUnit.h"

#include <exception>
#include <string>
#include <utility>

#include "lockdriver/AutoReadDoorCardThreadUnit.h"
#include "lockdriver/CardTexts.h"
#include "lockdriver/EncoderLock.h"
#include "lockdriver/LockDriverUi.h"
#include "lockdriver/OptionUnit.h"
#include "platform/com/Com.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"

namespace ostra {

namespace {

using com::Variant;

constexpr const char* kProgId = "Pendrix.MervCard";
constexpr int32_t kBaudRate = 9600;

int32_t OpenCardPort(com::IDispatch* Card) {
    const int32_t PortIndex = Option ? Option->PortIndex() : 0;
    return com::VariantToInt32(
        com::CallMethod(Card, "openport", {Variant::I4(PortIndex), Variant::I4(kBaudRate)}));
}

void CloseCardPort(com::IDispatch* Card, int32_t& Handle) {
    com::CallMethod(Card, "closeport", {Variant::Ref(&Handle)});
}

// The frame every card operation runs in (apartment, encoder turn, object,
// port, error trap). Prepare builds the call's arguments right after
// "openport", whatever it returned; Body makes the card call once the port
// is open and returns the operation's result. An error either raises is
// logged and makes the result False.
template <class Prepare, class Body>
bool RunCardOperation(Prepare&& BuildArguments, Body&& CardCall) {
    const com::HRESULT Entered = com::CoInitializeEx(nullptr, com::COINIT_MULTITHREADED);
    bool Result = false;
    {
        TEncoderTurn Turn;
        com::ComPtr<com::IDispatch> Card;
        int32_t Handle = 0;
        try {
            Card = com::CreateObject(kProgId);
            Handle = OpenCardPort(Card.Get());
            BuildArguments();
            if (Handle > 0) {
                Result = CardCall(Card.Get(), Handle);
            } else {
                LogWrite("打开串口失败，返回: h=" + std::to_string(Handle));
            }
            CloseCardPort(Card.Get(), Handle);
        } catch (const std::exception& Error) {
            LogWrite(Error.what());
            Result = false;
            // An error after the port was opened would leave the encoder open
            // for whoever comes next; close it quietly.
            if (Card && Handle > 0) {
                try {
                    CloseCardPort(Card.Get(), Handle);
                } catch (...) {
                }
            }
        } catch (...) {
            LogWrite("Unknown error in a card operation");
            Result = false;
        }
        // Every reference to the object goes before the apartment is left.
        Card.Reset();
    }
    if (com::Succeeded(Entered)) com::CoUninitialize();
    return Result;
}

template <class Body>
bool RunCardOperation(Body&& CardCall) {
    return RunCardOperation([] {}, std::forward<Body>(CardCall));
}

}  // namespace

TOstraDoorLock::~TOstraDoorLock() {
    StopAutoReadDoorCards();
}

void TOstraDoorLock::ShowOptionForm() {
    if (ILockDriverUi* Ui = LockDriverUi()) Ui->ShowOptionForm();
}

bool TOstraDoorLock::OpenPort() {
    if (SysOption && SysOption->AutoReadDoorCard) TAutoReadDoorCard::Create();
    return true;
}

void TOstraDoorLock::Beep() {}

bool TOstraDoorLock::ClosePort() {
    return true;
}

bool TOstraDoorLock::WriteCard(std::string /*RegisterId*/, std::string BuildingCode,
                               std::string FloorCode, std::string RoomNo, std::string /*GuestName*/,
                               TDateTime /*BeginDate*/, TDateTime /*BeginTime*/, TDateTime EndDate,
                               TDateTime EndTime, bool /*IsCopy*/, int64_t& CardNo) {
    std::string EndText, CardText, HolderText, RoomText;
    int32_t Building = 0, Floor = 0;
    // The codes are converted before the port's handle is looked at: a code
    // that is no number fails the issue with its conversion error, also when
    // the port did not open.
    auto BuildArguments = [&] {
        EndText = CardEndText(EndDate, EndTime);
        CardText = "00000028";
        HolderText = "USER1";
        Building = CodeToInt(BuildingCode);
        Floor = CodeToInt(FloorCode);
        RoomText = RoomNo;
    };
    return RunCardOperation(BuildArguments, [&](com::IDispatch* Card, int32_t& Handle) {
        const int32_t Result = com::VariantToInt32(
            com::CallMethod(Card, "WriteCard",
                            {Variant::Ref(&Handle), Variant::Ref(&EndText), Variant::Ref(&CardText),
                             Variant::Ref(&Building), Variant::Ref(&Floor), Variant::Ref(&RoomText),
                             Variant::Ref(&HolderText)}));
        if (Result < 0) {
            LogWrite("写卡失败，返回: r=" + std::to_string(Result));
            return false;
        }
        LogWrite("CardNumber=" + CardText);
        CardNo = HexCardNoToInt(CardText);
        LogWrite("写卡成功，CardNo=" + std::to_string(CardNo));
        return true;
    });
}

bool TOstraDoorLock::ReadCard(int64_t& CardNo) {
    return RunCardOperation([&](com::IDispatch* Card, int32_t& Handle) {
        std::string CardText, RoomText, EndText;
        const int32_t Result =
            com::VariantToInt32(com::CallMethod(Card, "ReadCard",
                                                {Variant::Ref(&Handle), Variant::Ref(&CardText),
                                                 Variant::Ref(&RoomText), Variant::Ref(&EndText)}));
        if (Result < 0) {
            LogWrite("读卡失败，返回：r=" + std::to_string(Result));
            return false;
        }
        CardNo = DecimalCardNoToInt(CardText);
        LogWrite("读卡成功 CardNo=" + std::to_string(CardNo));
        return true;
    });
}

bool TOstraDoorLock::EraseCard() {
    return RunCardOperation([&](com::IDispatch* Card, int32_t& Handle) {
        std::string EndText = "200612311200";
        std::string CardText = "00000028";
        int32_t Building = 1;
        int32_t Floor = 1;
        std::string RoomText = "0000";
        std::string HolderText = "USER1";
        const int32_t Result = com::VariantToInt32(
            com::CallMethod(Card, "WriteCard",
                            {Variant::Ref(&Handle), Variant::Ref(&EndText), Variant::Ref(&CardText),
                             Variant::Ref(&Building), Variant::Ref(&Floor), Variant::Ref(&RoomText),
                             Variant::Ref(&HolderText)}));
        if (Result < 0) {
            LogWrite("注销失败，返回: r=" + std::to_string(Result));
            return false;
        }
        LogWrite("注销成功");
        return true;
    });
}

}  // namespace ostra
