// The fuzz entry functions. Each takes one input, drives one piece of the
// system with it and checks what came out. A broken promise throws
// PropertyViolation; every error the piece is allowed to raise is caught
// inside the entry. The libFuzzer binaries turn a violation into a crash
// (FuzzMain.cpp); the replay test turns it into a failed test case.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace ostra::fuzz {

class PropertyViolation : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

// Throws PropertyViolation(What) unless Condition holds.
inline void Expect(bool Condition, const std::string& What) {
    if (!Condition) throw PropertyViolation(What);
}

// Whatever the peer of the socket Fd has written so far, without waiting.
inline std::string Drain(int Fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(Fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, size_t(n));
    return out;
}

// One door-lock request (its bytes up to the first 0x00) through the message
// handler with a test lock: reply bytes, log lines and the keep flag.
void RequestHandler(const uint8_t* Data, size_t Size);
// The same through the plug-in's handler, with the request's dates read in
// one of four regional settings.
void PluginRequest(const uint8_t* Data, size_t Size);
// Byte 0 picks how the rest is cut into packets; the rest goes through a
// connection's request reader, which must split it exactly at the 0x00 bytes.
void Framing(const uint8_t* Data, size_t Size);
// An INI file: the settings read from it, and writes that lose nothing else.
void IniReader(const uint8_t* Data, size_t Size);
// A 28-byte card block read through the card library's readCard.
void CardBlockDecoder(const uint8_t* Data, size_t Size);
// A VARIANT built from the input, coerced to a type the input picks.
void VariantCoercion(const uint8_t* Data, size_t Size);

}  // namespace ostra::fuzz
