// The token engine: an OpenSSL ENGINE that fronts one PKCS#11 module.
//
// ENGINE_load_zk_p11_core() registers it under ZK_P11_ENGINE_ID; callers then
// take it with ENGINE_by_id. Every engine object carries one P11_ENGINE_CTX
// at ex_data index 0 (p11_engine_ctx() reads it). The engine is configured
// through its control commands (PKCS11_CTRL_*, see pkcs11_ctrl.h).
#ifndef PKCS11_CORE_ENG_H
#define PKCS11_CORE_ENG_H

#include "pkcs11_vendor.h"
#include "secret_string.h"

#include <openssl/types.h>

#include <optional>
#include <string>
#include <vector>

#define ZK_P11_ENGINE_ID "zk_p11_core_2012"
#define ZK_P11_ENGINE_NAME "zk_p11_core_2012"
// Identifier used when the bind step is given none.
#define ZK_P11_ENGINE_DEFAULT_ID "zk11sw2012"

// Control command numbers (fixed: callers may pass them directly).
#define PKCS11_CTRL_ATTACH_API 200
#define PKCS11_CTRL_OPEN_SESSION 201
#define PKCS11_CTRL_CLOSE_SESSION 202
#define PKCS11_CTRL_LOGIN 203
#define PKCS11_CTRL_LOGOUT 204
#define PKCS11_CTRL_PARAMS_GOST28147 205
#define PKCS11_CTRL_DEFAULT_TOKEN_PATH 206
#define PKCS11_CTRL_DEFAULT_TOKEN_SERIAL 207
#define PKCS11_CTRL_ENGINE_ID 208
#define PKCS11_CTRL_LABEL_INDEX_PATH 209
#define PKCS11_CTRL_PRIVATE_KEY_EXTRACTABLE 210
#define PKCS11_CTRL_PRIVATE_KEY_SENSITIVE 211
#define PKCS11_CTRL_SET_SESSION 212
#define PKCS11_CTRL_ATTACH_API_FUNCS 213
// Accepted by the control function, without a table entry; does nothing.
#define PKCS11_CTRL_RESERVED 214
#define PKCS11_CTRL_FIRST PKCS11_CTRL_ATTACH_API
#define PKCS11_CTRL_COUNT 14
// Outside the range above: keeps a PIN for the first use of a token key.
#define PKCS11_CTRL_LOGIN_ON_USE 220

// slot_id value meaning that no slot was chosen.
#define P11_NO_SLOT ((CK_SLOT_ID)0xFFFFFFFFUL)

// PIN callback with the signature of EVP_read_pw_string:
// (buffer, buffer size, prompt, verify) -> 0 on success.
typedef int (*p11_pin_callback)(char *buf, int len, const char *prompt, int verify);

// The engine's context, one per engine object (ex_data index 0). Created by
// the bind step, released by the engine's destroy step. The function list
// belongs to the module and is never owned here.
struct P11_ENGINE_CTX {
    // DER of the GOST 28147-89 parameter-set OID used by the engine's
    // ciphers: tag 0x06, content length, content; the rest zero.
    unsigned char gost28147_params_der[16] = {};
    int gost28147_params_nid = 0;
    CK_FUNCTION_LIST *function_list = nullptr;
    CK_SLOT_ID slot_id = P11_NO_SLOT;
    CK_FLAGS session_flags = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    CK_SESSION_HANDLE session = 0;  // 0 = none
    SecretString pin;               // PIN kept for C_Login; empty = none
    CK_ULONG pin_len = 0;
    p11_pin_callback pin_callback = nullptr;
    unsigned char logged_in = 0;
    // PIN kept by LOGIN_ON_USE until a token key is first used; tried at
    // most once, then dropped.
    SecretString login_on_use_pin;
    std::optional<std::string> label_index_path;
    std::optional<std::string> default_token_path;    // stored only
    std::optional<std::string> default_token_serial;  // stored only
    int private_key_extractable = -1;                  // -1 = leave CKA_EXTRACTABLE out
    int private_key_sensitive = -1;                    // -1 = leave CKA_SENSITIVE out
    std::string engine_id;  // the text the engine's identifier points to
    // The engine's own public-key and ASN.1 methods, one per entry of the
    // tables in pkcs11_methods.cpp; made by the bind step, freed by OpenSSL
    // when it frees the engine (before the destroy step).
    std::vector<EVP_PKEY_METHOD *> pkey_meths;
    std::vector<EVP_PKEY_ASN1_METHOD *> asn1_meths;
    // The private key the last signature was made with: its CKA_ID and its
    // handle on that module and slot. A signature with the same key takes
    // the handle again once the token confirms its class and CKA_ID, and
    // searches only otherwise.
    struct SigningKey {
        CK_FUNCTION_LIST *function_list = nullptr;
        CK_SLOT_ID slot_id = P11_NO_SLOT;
        std::vector<unsigned char> id;
        CK_OBJECT_HANDLE handle = 0;
    } last_signing_key;
};

// Registers the engine with OpenSSL (ENGINE_add); failures are silent, the
// caller notices through ENGINE_by_id.
void ENGINE_load_zk_p11_core(void);

// Fills engine e; id NULL means ZK_P11_ENGINE_DEFAULT_ID. "name:N" selects
// slot N. 1 on success, 0 (after one line on stderr) on failure.
int bind_zk_p11_core(const char *id, ENGINE *e);

// The engine's init and finish step: 1 when the context exists.
int zk_p11_init(ENGINE *e);
// The engine's destroy step: wipes the kept PIN and releases the context.
int zk_p11_destroy(ENGINE *e);

// The slot named by an engine identifier "name:N" (N decimal, atoi), or
// P11_NO_SLOT when the identifier has no second ':'-separated part.
CK_SLOT_ID p11_slot_from_id(const char *id);
// Puts the default GOST 28147-89 parameter set (id-tc26-gost-28147-param-Z)
// into the context.
void p11_set_default_gost28147_params(P11_ENGINE_CTX *ctx);

// The context of engine e, or NULL (no message).
P11_ENGINE_CTX *p11_engine_ctx(const ENGINE *e);
// The same, printing "ENGINE_get_ex_data failed\n" when it is missing.
P11_ENGINE_CTX *p11_engine_ctx_or_report(const ENGINE *e);

#endif
