// GOST key pairs as token objects: the CKA_ID we give a pair and the key
// objects themselves. Plain PKCS#11.
#ifndef TOKEN_KEY_OBJECTS_H
#define TOKEN_KEY_OBJECTS_H

#include "pkcs11_vendor.h"

#include <string>

// CKA_ID of a key pair: SHA-1 over the DER OCTET STRING wrapping the public
// value (04 40 | key for 64 bytes, 04 81 80 | key for 128 bytes). Returns 1,
// or 0 for a null argument or a value longer than 255 bytes.
int pkcs11_id_gen(const unsigned char *pub_key, unsigned int len, unsigned char id[20]);

// "<prefix> dd/mm/yyyy hh:mm:ss" from the local time: the label of an object
// stored or generated without one.
std::string time_stamped_label(const char *prefix);

// What a GOST key object is made of. A private key gets the identifier
// pkcs11_id_gen gives its public value; a public key the one given here.
// extractable and sensitive: 0 or 1 to write CKA_EXTRACTABLE or
// CKA_SENSITIVE, -1 to leave them to the token.
struct GostKeyObject {
    bool is_private = false;
    CK_KEY_TYPE key_type = 0;
    CK_BBOOL on_token = CK_TRUE;
    const unsigned char *params3410 = nullptr;  // DER OIDs
    CK_ULONG params3410_len = 0;
    const unsigned char *params3411 = nullptr;
    CK_ULONG params3411_len = 0;
    const unsigned char *params28147 = nullptr;
    CK_ULONG params28147_len = 0;
    const unsigned char *pub_key = nullptr;
    CK_ULONG pub_key_len = 0;
    const unsigned char *priv_key = nullptr;
    CK_ULONG priv_key_len = 0;
    const unsigned char *public_id = nullptr;
    CK_ULONG public_id_len = 0;
    int extractable = -1;
    int sensitive = -1;
};

// Creates the key object under `label` (stored with its zero byte) in
// `session`; the handle made goes to `object`. False after one line on
// stderr.
bool token_create_gost_key(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, const GostKeyObject &key,
                           const std::string &label, CK_OBJECT_HANDLE *object);

#endif
