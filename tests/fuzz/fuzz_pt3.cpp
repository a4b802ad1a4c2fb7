// libFuzzer target for the .pt3 reader and the tracker engine: the input is
// read as a .pt3 file's bytes and played (fuzz_modules.h).
#include "fuzz_modules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzModule(TrackerFormat::PT3, data, size);
    return 0;
}
