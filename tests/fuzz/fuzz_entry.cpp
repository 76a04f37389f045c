// The libFuzzer entry point of one target; ZK_FUZZ_TARGET names its function.
#include <cstdio>
#include <cstdlib>

#include "fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        zk::fuzz::ZK_FUZZ_TARGET(data, size);
    } catch (const zk::fuzz::PropertyBroken& e) {
        std::fprintf(stderr, "property broken: %s\n", e.what());
        std::abort();
    }
    return 0;
}
