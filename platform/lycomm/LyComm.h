// The card encoder's driver interface: the four calls the card library makes.
//
// In production these come from the encoder maker's driver; on this platform
// liblyComm.so is a simulator with the same four calls (see SimEncoder.h).
// Every byte argument is an unsigned 8-bit value; results are one byte.
#pragma once

#include <cstdint>

extern "C" {
// Opens the encoder on serial port `port` (1 = COM1). 1 means open.
uint8_t createCard(uint8_t port);
// Closes what createCard opened.
void destroyCard();
// Reads the 28 block bytes of the card on the encoder through 28 addresses,
// block byte 0 first. p1..p4 are the card password bytes. 1 means read.
uint8_t readPass(uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t* b0, uint8_t* b1,
                 uint8_t* b2, uint8_t* b3, uint8_t* b4, uint8_t* b5, uint8_t* b6, uint8_t* b7,
                 uint8_t* b8, uint8_t* b9, uint8_t* b10, uint8_t* b11, uint8_t* b12, uint8_t* b13,
                 uint8_t* b14, uint8_t* b15, uint8_t* b16, uint8_t* b17, uint8_t* b18, uint8_t* b19,
                 uint8_t* b20, uint8_t* b21, uint8_t* b22, uint8_t* b23, uint8_t* b24, uint8_t* b25,
                 uint8_t* b26, uint8_t* b27);
// Writes the 28 block bytes, block byte 0 first. 1 means written.
uint8_t writePass(uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t b0, uint8_t b1,
                  uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7,
                  uint8_t b8, uint8_t b9, uint8_t b10, uint8_t b11, uint8_t b12, uint8_t b13,
                  uint8_t b14, uint8_t b15, uint8_t b16, uint8_t b17, uint8_t b18, uint8_t b19,
                  uint8_t b20, uint8_t b21, uint8_t b22, uint8_t b23, uint8_t b24, uint8_t b25,
                  uint8_t b26, uint8_t b27);
}

// Function-pointer types of the four calls, for callers that load the driver
// by name at run time.
using CreateCardFn = decltype(&createCard);
using DestroyCardFn = decltype(&destroyCard);
using ReadPassFn = decltype(&readPass);
using WritePassFn = decltype(&writePass);
