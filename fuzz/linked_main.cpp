// A main for the harnesses in the ordinary build: they are linked there, so that the build fails
// when a routine they call no longer exists; the fuzzing build links them with libFuzzer instead.
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main() { return LLVMFuzzerTestOneInput(nullptr, 0); }
