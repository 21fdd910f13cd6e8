// The engine's key loaders: ENGINE_load_private_key / ENGINE_load_public_key
// find a key on the token by the path of a PEM certificate of its key pair,
// or by label.
#ifndef PKCS11_STORE_LOADERS_H
#define PKCS11_STORE_LOADERS_H

#include <openssl/types.h>

EVP_PKEY *p11_load_privkey(ENGINE *e, const char *key_id, UI_METHOD *ui_method, void *callback_data);
EVP_PKEY *p11_load_pubkey(ENGINE *e, const char *key_id, UI_METHOD *ui_method, void *callback_data);

#endif
