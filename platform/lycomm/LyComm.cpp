// liblyComm.so: the encoder driver's four calls over the simulated encoders.
//
// Like a serial-port handle, the open port belongs to the thread that opened
// it: createCard on one thread and readPass on another do not meet. The card
// library makes all calls of one operation on one apartment thread.
#include "platform/lycomm/LyComm.h"

#include "platform/lycomm/SimEncoder.h"

namespace {
using namespace ostra::lycomm;

thread_local int g_openPort = 0;  // 0: no port open on this thread
}  // namespace

extern "C" {

__attribute__((visibility("default"))) uint8_t createCard(uint8_t port) {
    SimulateDelay();
    uint8_t result = OpenResult(port);
    g_openPort = result == 1 ? port : 0;
    return result;
}

__attribute__((visibility("default"))) void destroyCard() {
    SimulateDelay();
    g_openPort = 0;
}

__attribute__((visibility("default"))) uint8_t readPass(
    uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t* b0, uint8_t* b1, uint8_t* b2,
    uint8_t* b3, uint8_t* b4, uint8_t* b5, uint8_t* b6, uint8_t* b7, uint8_t* b8, uint8_t* b9,
    uint8_t* b10, uint8_t* b11, uint8_t* b12, uint8_t* b13, uint8_t* b14, uint8_t* b15,
    uint8_t* b16, uint8_t* b17, uint8_t* b18, uint8_t* b19, uint8_t* b20, uint8_t* b21,
    uint8_t* b22, uint8_t* b23, uint8_t* b24, uint8_t* b25, uint8_t* b26, uint8_t* b27) {
    SimulateDelay();
    if (g_openPort == 0) return kNoCard;
    Block block{};
    uint8_t result = ReadCard(g_openPort, Password{p1, p2, p3, p4}, block);
    if (result != kOk) return result;
    uint8_t* out[kBlockSize] = {b0,  b1,  b2,  b3,  b4,  b5,  b6,  b7,  b8,  b9,
                                b10, b11, b12, b13, b14, b15, b16, b17, b18, b19,
                                b20, b21, b22, b23, b24, b25, b26, b27};
    for (int i = 0; i < kBlockSize; ++i)
        if (out[i]) *out[i] = block[i];
    return kOk;
}

__attribute__((visibility("default"))) uint8_t writePass(
    uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
    uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7, uint8_t b8, uint8_t b9, uint8_t b10,
    uint8_t b11, uint8_t b12, uint8_t b13, uint8_t b14, uint8_t b15, uint8_t b16, uint8_t b17,
    uint8_t b18, uint8_t b19, uint8_t b20, uint8_t b21, uint8_t b22, uint8_t b23, uint8_t b24,
    uint8_t b25, uint8_t b26, uint8_t b27) {
    SimulateDelay();
    if (g_openPort == 0) return kNoCard;
    Block block{b0,  b1,  b2,  b3,  b4,  b5,  b6,  b7,  b8,  b9,  b10, b11, b12, b13,
                b14, b15, b16, b17, b18, b19, b20, b21, b22, b23, b24, b25, b26, b27};
    return WriteCard(g_openPort, Password{p1, p2, p3, p4}, block);
}

}  // extern "C"
