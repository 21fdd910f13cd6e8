#include "pin_prompt.h"

#include <openssl/evp.h>

int read_pin(char *buffer, size_t capacity, const char *prompt)
{
    return EVP_read_pw_string(buffer, static_cast<int>(capacity), prompt, 0);
}
