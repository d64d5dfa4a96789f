// The libFuzzer entry of one fuzz binary; OSTRA_FUZZ_ENTRY names the entry
// function. A broken promise becomes a crash with its reason on stderr, so
// libFuzzer keeps the input; any other escaping exception crashes as well.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    try {
        ostra::fuzz::OSTRA_FUZZ_ENTRY(Data, Size);
    } catch (const ostra::fuzz::PropertyViolation& e) {
        std::fprintf(stderr, "\n*** property violated: %s\n", e.what());
        std::abort();
    }
    return 0;
}
