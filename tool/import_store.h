// Putting what an import read onto the token through the object store: the
// attribute list every store call of one import gets, and the three objects
// of a key pair.
#ifndef TOKENCERT_IMPORT_STORE_H
#define TOKENCERT_IMPORT_STORE_H

#include <string>

#include <openssl/types.h>
#include <p11-kit/pkcs11.h>

#include "store.h"

// The attribute list of an import: the label (its size counting the zero).
class LabelAttributes {
public:
    explicit LabelAttributes(const char *label) : label_(label)
    {
        items_[0] = {STORE_ATTR_FRIENDLYNAME, label_.data(), label_.size() + 1, nullptr};
        items_[1] = {STORE_ATTR_END, nullptr, 0, nullptr};
    }
    OPENSSL_ITEM *items() { return items_; }

private:
    std::string label_;
    OPENSSL_ITEM items_[2];
};

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
