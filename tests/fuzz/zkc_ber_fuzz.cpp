// libFuzzer target over the key-transport decoder; run it with
//   scripts/fuzz.sh ber [build dir] [executions]
// (built with clang and -DTOKENCERT_FUZZ=ON; see tests/fuzz/CMakeLists.txt).
#include <cstdint>
#include <cstdlib>

#include "ber_roundtrip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The element decoders alone, on the raw input.
    const unsigned char *content = nullptr;
    std::size_t content_len = 0, total = 0;
    ber_decode_OCTET_STRING(data, size, &content, &content_len, &total);
    ber_decode_BIT_STRING(data, size, &content, &content_len, &total);
    ber_decode_SEQUENCE(data, size, &content, &content_len, &total);
    ber_decode_CONTEXT_SPECIFIC(data, size, &content, &content_len, &total);
    if (!ber_check::holds(data, size))
        std::abort();
    return 0;
}
