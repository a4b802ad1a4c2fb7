// libFuzzer target for the .ym reader: the input is read as a .ym file's
// bytes; whatever is accepted plays one buffer through the song session's
// register-stream player. Only refusals may come out; the sanitizers catch
// everything else.
#include "fuzz_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzStream(StreamFormat::YM, data, size);
    return 0;
}
