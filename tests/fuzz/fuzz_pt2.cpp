// libFuzzer target for the .pt2 reader and the tracker engine: the input is
// read as a .pt2 file's bytes and played (fuzz_modules.h).
#include "fuzz_modules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzModule(TrackerFormat::PT2, data, size);
    return 0;
}
