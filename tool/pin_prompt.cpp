#include "pin_prompt.h"

#include <openssl/evp.h>

int read_pin(char *buffer, size_t capacity, const char *prompt)
{
    // OpenSSL writes up to `len` characters and then the terminating zero, so
    // `len` is one less than the buffer: a longer entry fails the prompt.
    return EVP_read_pw_string(buffer, static_cast<int>(capacity) - 1, prompt, 0);
}
