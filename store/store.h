// The object store: a small front end through which callers store, fetch and
// delete certificates and keys without handling the back end's objects.
// An engine supplies the back end as a STORE_METHOD record; the front end
// knows nothing of PKCS#11.
//
// Conventions: operations return 1/0 or an object/NULL; a NULL handle, a
// missing method or a missing method slot is a failure. Attribute and
// parameter lists are arrays of OPENSSL_ITEM ended by an item whose code is
// STORE_ATTR_END (0); a NULL list means "none".
#ifndef TOKENCERT_STORE_H
#define TOKENCERT_STORE_H

#include <cstddef>
#include <openssl/types.h>

// One attribute or parameter: a code, a value, the value's size in bytes,
// and an optional pointer through which a length may be returned.
struct OPENSSL_ITEM {
    int code;
    void *value;
    size_t value_size;
    size_t *value_length;
};

// Object types.
enum STORE_OBJECT_TYPES {
    STORE_OBJECT_TYPE_X509_CERTIFICATE = 0x01,
    STORE_OBJECT_TYPE_X509_CRL = 0x02,
    STORE_OBJECT_TYPE_PRIVATE_KEY = 0x03,
    STORE_OBJECT_TYPE_PUBLIC_KEY = 0x04,
    STORE_OBJECT_TYPE_NUMBER = 0x05,
    STORE_OBJECT_TYPE_ARBITRARY = 0x06,
    STORE_OBJECT_TYPE_NUM = 0x06
};

// Attribute codes. The token back end understands FRIENDLYNAME (the label,
// its size counting the terminating NUL) and KEYID (the key identifier).
enum STORE_ATTR_TYPES {
    STORE_ATTR_END = 0x00,
    STORE_ATTR_FRIENDLYNAME = 0x01,
    STORE_ATTR_KEYID = 0x02,
    STORE_ATTR_ISSUERKEYID = 0x03,
    STORE_ATTR_SUBJECTKEYID = 0x04,
    STORE_ATTR_ISSUERSERIALHASH = 0x05,
    STORE_ATTR_ISSUER = 0x06,
    STORE_ATTR_SERIAL = 0x07,
    STORE_ATTR_SUBJECT = 0x08,
    STORE_ATTR_CERTHASH = 0x09,
    STORE_ATTR_EMAIL = 0x0a,
    STORE_ATTR_FILENAME = 0x0b,
    STORE_ATTR_TYPE_NUM = 0x0b,
    STORE_ATTR_OR = 0xff
};

// Parameter codes. Key generation reads EVP_TYPE (pointer to an int NID of
// the key algorithm) and KEY_PARAMETERS (pointer to an int NID of the
// parameter set).
// OBJECT_HANDLE is an output of the STORE_store_* calls: its value points to
// value_size bytes into which the back end, once it has made the object,
// writes its own handle of it (the token back end: a CK_OBJECT_HANDLE, and an
// item too small for one is refused before anything is made); *value_length,
// when given, gets the size written. A caller that keeps these handles can
// take back exactly the objects it made.
enum STORE_PARAM_TYPES {
    STORE_PARAM_EVP_TYPE = 0x01,
    STORE_PARAM_BITS = 0x02,
    STORE_PARAM_KEY_PARAMETERS = 0x03,
    STORE_PARAM_KEY_NO_PARAMETERS = 0x04,
    STORE_PARAM_AUTH_PASSPHRASE = 0x05,
    STORE_PARAM_AUTH_KRB5_TICKET = 0x06,
    STORE_PARAM_OBJECT_HANDLE = 0x07,
    STORE_PARAM_TYPE_NUM = 0x07
};

enum STORE_CERTIFICATE_STATUS {
    STORE_X509_VALID = 0x00,
    STORE_X509_EXPIRED = 0x01,
    STORE_X509_SUSPENDED = 0x02,
    STORE_X509_REVOKED = 0x03
};

// An object: a type code and the payload that belongs to it. The payload is
// owned by the object and released by STORE_OBJECT_free.
struct STORE_OBJECT {
    int type;  // a STORE_OBJECT_TYPES code, 0 when not set
    union {
        struct {
            int status;  // a STORE_CERTIFICATE_STATUS code
            X509 *certificate;
        } x509;
        X509_CRL *crl;
        EVP_PKEY *key;
        BIGNUM *number;
        BUF_MEM *arbitrary;
    } data;
};

struct STORE;  // opaque handle: the method and the engine it came from

// The back end's operations; any slot may be NULL.
typedef int (*STORE_INITIALISE_FUNC_PTR)(STORE *);
typedef void (*STORE_CLEANUP_FUNC_PTR)(STORE *);
typedef STORE_OBJECT *(*STORE_GENERATE_OBJECT_FUNC_PTR)(STORE *, int type, OPENSSL_ITEM attributes[],
                                                        OPENSSL_ITEM parameters[]);
typedef STORE_OBJECT *(*STORE_GET_OBJECT_FUNC_PTR)(STORE *, int type, OPENSSL_ITEM attributes[],
                                                   OPENSSL_ITEM parameters[]);
typedef int (*STORE_STORE_OBJECT_FUNC_PTR)(STORE *, int type, STORE_OBJECT *data, OPENSSL_ITEM attributes[],
                                           OPENSSL_ITEM parameters[]);
typedef int (*STORE_MODIFY_OBJECT_FUNC_PTR)(STORE *, int type, OPENSSL_ITEM search_attributes[],
                                            OPENSSL_ITEM add_attributes[], OPENSSL_ITEM modify_attributes[],
                                            OPENSSL_ITEM delete_attributes[], OPENSSL_ITEM parameters[]);
typedef int (*STORE_HANDLE_OBJECT_FUNC_PTR)(STORE *, int type, OPENSSL_ITEM attributes[],
                                            OPENSSL_ITEM parameters[]);
typedef void *(*STORE_START_OBJECT_FUNC_PTR)(STORE *, int type, OPENSSL_ITEM attributes[],
                                             OPENSSL_ITEM parameters[]);
typedef STORE_OBJECT *(*STORE_NEXT_OBJECT_FUNC_PTR)(STORE *, void *handle);
typedef int (*STORE_END_OBJECT_FUNC_PTR)(STORE *, void *handle);
typedef int (*STORE_GENERIC_FUNC_PTR)(STORE *, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
typedef int (*STORE_CTRL_FUNC_PTR)(STORE *, int cmd, long l, void *p, void (*f)(void));

struct STORE_METHOD {
    const char *name;
    STORE_INITIALISE_FUNC_PTR init;
    STORE_CLEANUP_FUNC_PTR clean;
    STORE_GENERATE_OBJECT_FUNC_PTR generate_object;
    STORE_GET_OBJECT_FUNC_PTR get_object;
    STORE_STORE_OBJECT_FUNC_PTR store_object;
    STORE_MODIFY_OBJECT_FUNC_PTR modify_object;
    STORE_HANDLE_OBJECT_FUNC_PTR revoke_object;
    STORE_HANDLE_OBJECT_FUNC_PTR delete_object;
    STORE_START_OBJECT_FUNC_PTR list_object_start;
    STORE_NEXT_OBJECT_FUNC_PTR list_object_next;
    STORE_END_OBJECT_FUNC_PTR list_object_end;
    STORE_END_OBJECT_FUNC_PTR list_object_endp;
    STORE_GENERIC_FUNC_PTR update_store;
    STORE_GENERIC_FUNC_PTR lock_store;
    STORE_GENERIC_FUNC_PTR unlock_store;
    STORE_CTRL_FUNC_PTR ctrl;
};

// --- The engine-to-method link. OpenSSL 3 keeps no store method in its
// ENGINE, so the link lives here, in the engine's ex_data. The method record
// is not copied: it must outlive the engine (a static record).
int ENGINE_set_STORE(ENGINE *e, const STORE_METHOD *method);
const STORE_METHOD *ENGINE_get_STORE(const ENGINE *e);
// Succeeds when the engine has a store method (kept for the callers that
// register their engine's store method as the old API did).
int ENGINE_register_STORE(ENGINE *e);

// --- Handles.
// Initialises the engine (ENGINE_init), takes its method, calls the method's
// init; NULL on any failure (the engine is left as it was).
STORE *STORE_new_engine(ENGINE *engine);
// Calls the method's clean, finishes the engine and releases the handle.
// NULL is accepted.
void STORE_free(STORE *store);
// The handle's method and engine (NULL for a NULL handle).
const STORE_METHOD *STORE_get_method(const STORE *store);
ENGINE *STORE_get0_engine(const STORE *store);
// Passes a command to the method's ctrl.
int STORE_ctrl(STORE *store, int cmd, long i, void *p, void (*f)(void));

// --- Objects.
STORE_OBJECT *STORE_OBJECT_new(void);
// Releases the payload according to the object's type, then the object.
// NULL is accepted.
void STORE_OBJECT_free(STORE_OBJECT *object);

// --- Certificates and keys. Objects returned belong to the caller.
X509 *STORE_get_certificate(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_store_certificate(STORE *store, X509 *certificate, OPENSSL_ITEM attributes[],
                            OPENSSL_ITEM parameters[]);
int STORE_delete_certificate(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_revoke_certificate(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_modify_certificate(STORE *store, OPENSSL_ITEM search_attributes[], OPENSSL_ITEM add_attributes[],
                             OPENSSL_ITEM modify_attributes[], OPENSSL_ITEM delete_attributes[],
                             OPENSSL_ITEM parameters[]);

EVP_PKEY *STORE_get_private_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_store_private_key(STORE *store, EVP_PKEY *key, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_delete_private_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
EVP_PKEY *STORE_generate_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);

EVP_PKEY *STORE_get_public_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_store_public_key(STORE *store, EVP_PKEY *key, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_delete_public_key(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);

// --- Listing: start returns an opaque handle; next returns the next object
// (caller's) or NULL at the end; end releases the handle; endp reports
// whether the end was reached.
void *STORE_list_start(STORE *store, int type, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
STORE_OBJECT *STORE_list_next(STORE *store, void *handle);
int STORE_list_end(STORE *store, void *handle);
int STORE_list_endp(STORE *store, void *handle);

// --- The store as a whole.
int STORE_update_store(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_lock_store(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);
int STORE_unlock_store(STORE *store, OPENSSL_ITEM attributes[], OPENSSL_ITEM parameters[]);

#endif
