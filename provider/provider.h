// What the parts of the zk_p11_core_2012 provider share: the provider
// context, the reasons of its errors and the algorithm tables each operation
// file offers.
#ifndef ZK_PROVIDER_H
#define ZK_PROVIDER_H

#include <openssl/core.h>
#include <openssl/core_dispatch.h>
#include <openssl/crypto.h>

#include <new>

#include <string>
#include <vector>

#include "gost28147_89.h"
#include "secret_string.h"

#define ZK_PROVIDER_NAME "zk_p11_core_2012"

// Parameters of the provider's openssl.cnf section.
#define ZK_PROV_PARAM_PKCS11_MODULE_PATH "pkcs11-module-path"
#define ZK_PROV_PARAM_PKCS11_PIN_SOURCE "pkcs11-pin-source"

// The GOST 28147-89 parameter set of the ciphers and the MAC: its name or
// dotted OID.
#define ZK_PARAM_PARAMSET "paramset"

// The UKM of VKO key agreement (key exchange), an octet string.
#define ZK_EXCHANGE_PARAM_UKM "ukm"

struct ProvCtx {
    const OSSL_CORE_HANDLE *handle = nullptr;
    // The provider's own library context (a child of the one that loaded it):
    // random bytes and core BIOs come through it.
    OSSL_LIB_CTX *libctx = nullptr;
    OSSL_FUNC_core_new_error_fn *new_error = nullptr;
    OSSL_FUNC_core_set_error_debug_fn *set_error_debug = nullptr;
    OSSL_FUNC_core_vset_error_fn *vset_error = nullptr;
    // The PKCS#11 module behind pkcs11: URIs and where its PIN comes from, as
    // configured; read at start-up, used by the store loader.
    std::string pkcs11_module_path;
    SecretString pkcs11_pin_source;
};

enum ProvReason : int {
    ZK_R_WRONG_KEY_LENGTH = 1,
    ZK_R_WRONG_IV_LENGTH,
    ZK_R_UNKNOWN_PARAMSET,
    ZK_R_MALFORMED_ALGORITHM_PARAMS,
    ZK_R_NO_KEY,
    ZK_R_CORE_FAILURE,
    ZK_R_OUTPUT_TOO_SMALL,
    ZK_R_BAD_PARAMETER,
    ZK_R_RANDOM_FAILED,
    ZK_R_OUT_OF_MEMORY,
    ZK_R_BAD_KEY,
    ZK_R_BAD_ENCODING,
    ZK_R_WRONG_DIGEST,
    ZK_R_UNKNOWN_CURVE,
    ZK_R_PKCS11_URI,
    ZK_R_TOKEN_FAILURE,
    ZK_R_NOT_FOUND,
    ZK_R_LOGIN,
    ZK_R_WRONG_MAC,
};

// OpenSSL's reason table of these codes (for get_reason_strings).
const OSSL_ITEM *zk_reason_strings();

// Puts an error with a reason on OpenSSL's error queue; the detail (printf
// style, may be null) follows the reason text. Returns 0 for "return
// zk_raise(...)" in functions that answer 1/0.
int zk_raise(const ProvCtx *prov, ProvReason reason, const char *detail = nullptr, ...);

// A function as a dispatch table entry.
template <class F>
inline void (*zk_fn(F f))(void) { return reinterpret_cast<void (*)(void)>(f); }

// The function of a dispatch table with that id, as type Fn; nullptr when
// the table has none.
template <class Fn>
inline Fn zk_dispatch_find(const OSSL_DISPATCH *table, int id)
{
    for (; table->function_id != 0; ++table)
        if (table->function_id == id)
            return reinterpret_cast<Fn>(table->function);
    return nullptr;
}

// The life of an operation's context: made with new (nothrow), copied whole,
// wiped before it goes (keys, key schedules and HMAC states live there).
template <class Ctx>
void *zk_dupctx(void *vctx) { return new (std::nothrow) Ctx(*static_cast<const Ctx *>(vctx)); }
template <class Ctx>
void zk_freectx(void *vctx)
{
    auto *ctx = static_cast<Ctx *>(vctx);
    if (ctx)
        OPENSSL_cleanse(ctx, sizeof *ctx);
    delete ctx;
}

// The GOST 28147-89 parameter set of a fresh cipher or MAC context:
// id-tc26-gost-28147-param-Z (CryptoPro key meshing).
const GOST28147_89_PARAM *zk_default_paramset();
// Takes ZK_PARAM_PARAMSET from params when it is there; an unknown set is
// refused with the provider's reason and leaves *set as it was.
bool zk_read_paramset(const ProvCtx *prov, const OSSL_PARAM params[], const GOST28147_89_PARAM **set);
// Writes a set's dotted OID into ZK_PARAM_PARAMSET of params, if asked.
bool zk_write_paramset(const OSSL_PARAM params[], const GOST28147_89_PARAM *set);

// Takes ZK_EXCHANGE_PARAM_UKM from params into ukm (its old bytes wiped) when
// it is there, and says so in *given; one that is no octet string is refused.
bool zk_read_ukm(const ProvCtx *prov, const OSSL_PARAM params[], std::vector<unsigned char> &ukm, bool *given);

// The algorithms each operation offers, ended by an empty entry.
extern const OSSL_ALGORITHM zk_digests[];
extern const OSSL_ALGORITHM zk_ciphers[];
extern const OSSL_ALGORITHM zk_macs[];
extern const OSSL_ALGORITHM zk_keymgmt[];
extern const OSSL_ALGORITHM zk_signatures[];
extern const OSSL_ALGORITHM zk_keyexch[];
extern const OSSL_ALGORITHM zk_asym_ciphers[];
extern const OSSL_ALGORITHM zk_encoders[];
extern const OSSL_ALGORITHM zk_decoders[];
extern const OSSL_ALGORITHM zk_stores[];

#endif
