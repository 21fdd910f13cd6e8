// Reading a PIN without echo into a buffer that is wiped when it goes, or
// taking it from the source named on the command line.
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

// The longest PIN or container password taken, from a source or the prompt
// (PKCS#11 tokens accept long PINs), and the buffer that holds one.
constexpr size_t MAX_SECRET_LENGTH = 255;
using SecretBuffer = PinBuffer<MAX_SECRET_LENGTH + 1>;

// Prompts on the terminal (standard input without one); no echo, no
// verification. Returns the prompt's result: 0 when a PIN was read; an
// answer that does not fit the buffer fails after a line saying so.
int read_pin(char *buffer, size_t capacity, const char *prompt);

enum class SecretKind { user_pin, container_password };

// The user PIN or the container password: from the source given with -pin or
// -passin when there was one, else from the prompt (read_pin). Returns 0
// when a secret is in the buffer; a secret that does not fit fails as an
// over-long answer to the prompt does.
int obtain_secret(SecretKind kind, char *buffer, size_t capacity, const char *prompt);

// Reads the sources of -passin and then -pin (either may be null) before
// anything else happens: 0, or TOOL_FAILURE after one line naming the source
// and the reason (a secret longer than MAX_SECRET_LENGTH included); -1 when a source is not one of the accepted forms (the
// caller's line names it as a usage error).
int load_secret_sources(const char *passin, const char *pin);

// Wipes what load_secret_sources read.
void wipe_secret_sources();

#endif
