#include "user_login.h"

#include <openssl/bio.h>

#include "pin_prompt.h"
#include "token_backend.h"
#include "tool_state.h"

bool login_with_pin()
{
    SecretBuffer pin;
    if (obtain_secret(SecretKind::user_pin, pin.data(), pin.capacity(), "Enter token user PIN:") != 0) {
        BIO_printf(bio_err, "Can't get user PIN\n");
        return false;
    }
    const bool logged_in = backend::login(pin.data());
    pin.wipe();
    if (!logged_in) {
        BIO_printf(bio_err, "Token LOGIN failed\n");
        return false;
    }
    return true;
}
