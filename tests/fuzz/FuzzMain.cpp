// One libFuzzer program per target: GX_FUZZ_TARGET names the target's function.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return gx::fuzz::GX_FUZZ_TARGET(data, size);
}
