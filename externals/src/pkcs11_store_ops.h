// The operations of the "ZK PKCS11" store method and what they share:
// reading the attribute list, the PKCS#11 class of a store type, key records
// read from the token and the binding of keys to the store's engine.
#ifndef PKCS11_STORE_OPS_H
#define PKCS11_STORE_OPS_H

#include "gost_key.h"
#include "pkcs11_core_eng.h"
#include "store.h"
#include "token_key_objects.h"  // time_stamped_label

#include <openssl/evp.h>

#include <memory>
#include <string>

// The engine context behind a store, or nullptr after
// "ENGINE_get_ex_data failed\n".
P11_ENGINE_CTX *store_ctx(STORE *store);

// Search attributes of a list: the last label and the last identifier given.
struct StoreSearch {
    bool has_label = false;
    std::string label;  // without its terminating NUL
    bool has_id = false;
    unsigned char id[kGostKeyIdMax] = {};
    CK_ULONG id_len = 0;
    bool bad_id = false;  // the last identifier given is empty or longer than 255 bytes
    bool any() const { return has_label || has_id; }
};
StoreSearch read_search_attributes(const OPENSSL_ITEM *attributes);
// Prints the line of an identifier of the wrong length; returns 0.
int report_bad_key_id(const char *who);

// CKO_CERTIFICATE, CKO_PRIVATE_KEY or CKO_PUBLIC_KEY for store types 1, 3
// and 4; false for any other type.
bool store_type_class(int type, CK_OBJECT_CLASS *cls);

// Algorithm of a key read back from the token, from its hash parameter set:
// GOST R 34.11-2012-512 -> gost3410-2012-512, GOST R 34.11-2012-256 ->
// gost3410-2012-256, anything else gost2001.
int alg_from_hash_params(int hash_param_nid);

struct KeyRecordFree {
    void operator()(p11_gost2012_key *key) const { p11_gost2012_key_free(key); }
};
using KeyRecordPtr = std::unique_ptr<p11_gost2012_key, KeyRecordFree>;

// A new EVP_PKEY of algorithm `alg` owning the record (taken from `record`
// on success) and bound to `engine`; nullptr after "EVP_PKEY_assign failed".
EVP_PKEY *key_from_record(int alg, KeyRecordPtr &record, ENGINE *engine);

// Reads a GOST key object (CKA_ID, both parameter OIDs, CKA_KEY_TYPE and, for
// a public key, CKA_VALUE) into a new EVP_PKEY bound to `engine`. A private
// key takes its public value from its pair's public object or certificate
// (get_pub_key_value). `searched`, when not null, holds the identifier
// searched for, which replaces the one read. `attr_line` is the format of the
// failed-read line. id_out receives the first 20 bytes of the CKA_ID read.
// nullptr after one line on failure.
EVP_PKEY *read_token_key(ENGINE *engine, CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                         bool is_public, const StoreSearch *searched, const char *attr_line,
                         int *param_nid_out = nullptr, int *hash_nid_out = nullptr, int *alg_out = nullptr,
                         unsigned char *label_out = nullptr, CK_ULONG label_cap = 0,
                         unsigned char *id_out = nullptr);

// Reads a certificate object's value and decodes it, binding its GOST public
// key to `engine`. `attr_line` as above. nullptr after one line on failure.
X509 *read_token_certificate(ENGINE *engine, CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session,
                             CK_OBJECT_HANDLE object, const char *attr_line);

// The label of an object to be made: the first (or, with last_wins, the
// last) friendly name of the list, whole; without one, the time-stamped label.
std::string store_label(const OPENSSL_ITEM *attributes, bool last_wins, const char *prefix);

// Makes `engine` the engine of a GOST key's operations (with a functional
// reference held by the key). Keys of other algorithms are left alone.
void bind_key_to_engine(EVP_PKEY *pkey, ENGINE *engine);

// Wraps a payload into a new store object of `type`; the object takes over
// the reference. nullptr when memory runs out (the payload is then freed).
STORE_OBJECT *wrap_certificate(X509 *certificate);
STORE_OBJECT *wrap_key(int type, EVP_PKEY *pkey);

// The method's operations.
STORE_OBJECT *zk_store_get_object(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int zk_store_delete_object(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int zk_store_modify_object(STORE *store, int type, OPENSSL_ITEM search_attributes[], OPENSSL_ITEM add_attributes[],
                           OPENSSL_ITEM modify_attributes[], OPENSSL_ITEM delete_attributes[],
                           OPENSSL_ITEM parameters[]);
int zk_store_store_object(STORE *store, int type, STORE_OBJECT *data, OPENSSL_ITEM attributes[],
                          OPENSSL_ITEM parameters[]);
void *zk_store_list_start(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
STORE_OBJECT *zk_store_list_next(STORE *store, void *handle);
int zk_store_list_end(STORE *store, void *handle);
int zk_store_list_endp(STORE *store, void *handle);
STORE_OBJECT *zk_store_generate_object(STORE *store, int type, OPENSSL_ITEM attributes[],
                                       OPENSSL_ITEM parameters[]);

#endif
