// Access to the card encoder's driver library and the two block wrappers.
//
// `EncoderDriver` is the seam the card operations go through; `LyCommDriver`
// is the real one: it loads "liblyComm.so" (first beside the library that
// holds this code, then by the standard library search) at the first call of
// any function, looks each function up at its own first call, and keeps both
// for the life of the process.
//
// Threads: one LyCommDriver serves the whole process and may be called from
// several apartment threads at once; loading and look-up are guarded by its
// mutex, the calls themselves go to the driver unguarded (the driver is one
// per process, as on the encoder's own platform).
#pragma once

#include <cstdint>

#include "cardlib/CardBlock.h"

namespace ostra::cardlib {

class EncoderDriver {
  public:
    virtual ~EncoderDriver() = default;
    // Each throws CardLibError when the driver library or function is missing.
    virtual uint8_t CreateCard(uint8_t port) = 0;
    virtual void DestroyCard() = 0;
    virtual uint8_t ReadPass(const PasswordBytes& password, CardBlock& block) = 0;
    virtual uint8_t WritePass(const PasswordBytes& password, const CardBlock& block) = 0;
};

// The process-wide driver over liblyComm.so.
EncoderDriver& LyCommDriver();

// The file name the driver library is loaded by.
inline constexpr const char* kDriverLibraryName = "liblyComm.so";

// 0 when the card was read into `block`, else -99.
int16_t ReadCardBlock(EncoderDriver& driver, CardBlock& block);
// The driver's byte result, 1 meaning written.
int16_t WriteCardBlock(EncoderDriver& driver, const CardBlock& block);

}  // namespace ostra::cardlib
