// The libFuzzer target: a hostile host built from each input (see HostFromBytes.h) drives the
// outline plug-in, linked in, through its entry points. A broken check aborts, so libFuzzer keeps
// the input as a crash; sanitizer reports do the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>

#include "fuzz/HostFromBytes.h"

namespace {

// Swallows the plug-in's "Threw suite exception!" lines, thousands a second otherwise.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int character) override { return traits_type::not_eof(character); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static NullBuffer silence;
    std::cout.rdbuf(&silence);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = zarvel::fuzz::runHostFromBytes(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "zarvel_fuzz: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
