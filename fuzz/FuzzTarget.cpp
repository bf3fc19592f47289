// The libFuzzer entry point of one harness, chosen when the target is built
// (MORAVEL_FUZZ_HARNESS names the function).
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return moravel::fuzz::MORAVEL_FUZZ_HARNESS(data, size);
}
