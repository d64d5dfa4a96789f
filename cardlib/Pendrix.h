// The public face of the card-issuing library: the identifiers of its type
// library, the class MervCard and its dual interface _MervCard.
//
// Clients normally create "Pendrix.MervCard" by ProgID and call it late-bound
// by name (openport, WriteCard, ReadCard, closeport); _MervCard is the same
// object's early-bound form.
//
// Threads: MervCard is apartment-threaded; the component runtime delivers
// every call to its apartment's thread, one at a time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/Com.h"

namespace ostra::pendrix {

inline constexpr const char* kProgId = "Pendrix.MervCard";
inline constexpr com::Guid kLibId = *com::ParseGuid("{455E7F42-AC4B-44A9-99E4-58054606EEFF}");
inline constexpr com::IID kIidMervCard = *com::ParseGuid("{5C4230D0-3D61-43DD-BE4A-5E837BF5CB08}");
inline constexpr com::CLSID kClsidMervCard =
    *com::ParseGuid("{6EBE05AA-BB52-432F-9F3A-1938216F0FAC}");

inline constexpr com::DISPID kDispOpenPort = 0x60030000;
inline constexpr com::DISPID kDispClosePort = 0x60030001;
inline constexpr com::DISPID kDispWriteCard = 0x60030002;
inline constexpr com::DISPID kDispReadCard = 0x60030003;

// The dual interface: IDispatch, then the four methods in slot order.
class _MervCard : public com::IDispatch {
  public:
    static constexpr com::IID kIid = kIidMervCard;
    virtual com::HRESULT OpenPort(const com::Variant& port, const com::Variant& baud,
                                  int16_t* result) = 0;
    virtual com::HRESULT ClosePort(const com::Variant& IcDevH, int16_t* result) = 0;
    virtual com::HRESULT writeCard(int32_t IcDevH, const std::string& EndDate, std::string* CardNo,
                                   int16_t BldgNo, int16_t FloorNo, const std::string& Rooms,
                                   const std::string& HoderName, int16_t* result) = 0;
    virtual com::HRESULT readCard(int32_t IcDevH, std::string* CardNo, std::string* RoomNO,
                                  std::string* EndDate, int16_t* result) = 0;

  protected:
    ~_MervCard() = default;
};

// The static type description (in place of the embedded type library).
const com::TypeLibDesc& PendrixTypeLib();

}  // namespace ostra::pendrix
