#include "version_info.h"

#include <cstring>

#include <openssl/crypto.h>
#include <openssl/opensslv.h>

#include "token_backend.h"

void write_version(BIO *out)
{
    BIO_printf(out, "tokencert %s\n", TOKENCERT_VERSION);
    const char *running = OpenSSL_version(OPENSSL_VERSION);
    if (std::strcmp(running, OPENSSL_VERSION_TEXT) == 0)
        BIO_printf(out, "%s\n", running);
    else
        BIO_printf(out, "%s (built with %s)\n", running, OPENSSL_VERSION_TEXT);
    BIO_printf(out, "GOST algorithms: %s\n", backend::gost_algorithms());
}
