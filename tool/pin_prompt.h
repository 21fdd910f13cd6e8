// Reading a PIN without echo into a buffer that is wiped when it goes.
#ifndef TOKENCERT_PIN_PROMPT_H
#define TOKENCERT_PIN_PROMPT_H

#include <cstddef>
#include <cstring>

#include <openssl/crypto.h>

template <size_t N>
class PinBuffer {
public:
    PinBuffer() { wipe(); }
    PinBuffer(const PinBuffer &) = delete;
    PinBuffer &operator=(const PinBuffer &) = delete;
    ~PinBuffer() { wipe(); }

    void wipe() { OPENSSL_cleanse(bytes_, N); }
    char *data() { return bytes_; }
    size_t capacity() const { return N; }
    size_t length() const { return strnlen(bytes_, N); }

private:
    char bytes_[N];
};

// Prompts on the terminal (standard input without one); no echo, no
// verification. Returns the prompt's result: 0 when a PIN was read.
int read_pin(char *buffer, size_t capacity, const char *prompt);

#endif
