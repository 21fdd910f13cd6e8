// Putting the three objects of a key pair that an import read onto the token.
#ifndef TOKENCERT_IMPORT_STORE_H
#define TOKENCERT_IMPORT_STORE_H

#include <openssl/types.h>
#include <p11-kit/pkcs11.h>


// Stores the private key, the public key and the certificate, in this order,
// under `label` (the user logged in). An object of the three that an earlier,
// interrupted import of the same key pair left under this label and the key's
// CKA_ID (the certificate: with the same value) is kept and not made again.
// When a step fails, the objects this call made are destroyed again, by the
// handles the store returned for them, and nothing else; a destroy that fails
// gets a line naming the object left. CKR_OK, or TOOL_FAILURE after the
// failure lines.
CK_RV store_key_pair(EVP_PKEY *key, X509 *certificate, const char *label);

#endif
