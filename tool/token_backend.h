// What the actions need from the layer that reaches the token's objects and
// the GOST algorithms. The actions call these and print their own lines, so
// they run unchanged whichever layer the build links.
#ifndef TOKENCERT_TOKEN_BACKEND_H
#define TOKENCERT_TOKEN_BACKEND_H

#include <openssl/bio.h>
#include <openssl/types.h>
#include <p11-kit/pkcs11.h>

#include "ossl_ptr.h"

namespace backend {

// Makes the GOST algorithms and the object store available to the run.
bool bind();

// Where the GOST algorithms come from in this build, for -version.
const char *gost_algorithms();

// Hands the loaded module's function list over.
bool attach_module(CK_FUNCTION_LIST_PTR functions);

// Makes `session` the one every later call below works in.
bool use_session(CK_SESSION_HANDLE session);

// Opens the object store on the session.
bool open_store();

// Logs the user in on the session, and out again.
bool login(const char *pin);
void logout();

// Store calls under `label` (the user logged in). When `handle` is given,
// the handle of the object made goes there.
bool store_certificate(X509 *certificate, const char *label, CK_OBJECT_HANDLE *handle = nullptr);
bool store_private_key(EVP_PKEY *key, const char *label, CK_OBJECT_HANDLE *handle);
bool store_public_key(EVP_PKEY *key, const char *label, CK_OBJECT_HANDLE *handle);

// The certificate stored under `label`, or null.
ossl::X509Ptr get_certificate(const char *label);

// Destroys the certificate stored under `label`.
bool delete_certificate(const char *label);

// The text of a certificate, GOST public keys included.
void print_certificate(BIO *out, X509 *certificate);

// PKCS12_parse with the GOST algorithms at hand.
bool parse_pkcs12(PKCS12 *container, const char *password, EVP_PKEY **key, X509 **certificate,
                  STACK_OF(X509) **others);

}  // namespace backend

#endif
