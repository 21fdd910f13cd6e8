#include "pin_prompt.h"

#include <string>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ui.h>

#include "secret_source.h"
#include "tool_state.h"

namespace {

struct GivenSecret {
    bool given = false;
    SourcedSecret secret;
};

GivenSecret given_pin;
GivenSecret given_password;

GivenSecret &given(SecretKind kind)
{
    return kind == SecretKind::user_pin ? given_pin : given_password;
}

// The source as it may be shown: a pass: text never is.
std::string shown_source(const char *source)
{
    return std::strncmp(source, "pass:", 5) == 0 ? std::string("pass:") : std::string(source);
}

int load_one(const char *option, const char *what, const char *source, GivenSecret &into)
{
    if (source == nullptr)
        return 0;
    std::string reason;
    switch (read_secret_source(source, into.secret, reason)) {
    case SecretSourceResult::malformed:
        return -1;
    case SecretSourceResult::unreadable:
        BIO_printf(bio_err, "Can't read the %s from %s (%s): %s\n", what, shown_source(source).c_str(),
                   option, reason.c_str());
        return static_cast<int>(TOOL_FAILURE);
    case SecretSourceResult::ok:
        break;
    }
    if (into.secret.size() > MAX_SECRET_LENGTH) {
        into.secret.wipe();
        BIO_printf(bio_err, "The %s from %s (%s) is longer than %zu bytes\n", what, shown_source(source).c_str(),
                   option, MAX_SECRET_LENGTH);
        return static_cast<int>(TOOL_FAILURE);
    }
    into.given = true;
    return 0;
}

}  // namespace

int read_pin(char *buffer, size_t capacity, const char *prompt)
{
    // OpenSSL writes up to `len` characters and then the terminating zero, so
    // `len` is one less than the buffer: a longer entry fails the prompt.
    ERR_clear_error();
    int rv = EVP_read_pw_string(buffer, static_cast<int>(capacity) - 1, prompt, 0);
    if (rv != 0 && ERR_GET_REASON(ERR_peek_error()) == UI_R_RESULT_TOO_LARGE)
        BIO_printf(bio_err, "The answer is longer than %zu bytes\n", capacity - 1);
    ERR_clear_error();
    return rv;
}

int obtain_secret(SecretKind kind, char *buffer, size_t capacity, const char *prompt)
{
    const GivenSecret &source = given(kind);
    if (!source.given)
        return read_pin(buffer, capacity, prompt);
    OPENSSL_cleanse(buffer, capacity);
    if (source.secret.size() + 1 > capacity)
        return -1;
    std::memcpy(buffer, source.secret.data(), source.secret.size());
    return 0;
}

int load_secret_sources(const char *passin, const char *pin)
{
    // The password first: with both on one descriptor, it is the first line.
    int rv = load_one("-passin", "container password", passin, given_password);
    if (rv != 0)
        return rv;
    rv = load_one("-pin", "user PIN", pin, given_pin);
    if (rv != 0)
        return rv;
    if (given_pin.given && given_pin.secret.size() == 0) {
        // The engine would take an empty PIN as a request to prompt.
        BIO_printf(bio_err, "The user PIN from %s (-pin) is empty\n", shown_source(pin).c_str());
        return static_cast<int>(TOOL_FAILURE);
    }
    return 0;
}

void wipe_secret_sources()
{
    given_pin.secret.wipe();
    given_password.secret.wipe();
}
