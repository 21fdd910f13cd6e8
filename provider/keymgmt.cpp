// Key management of the GOST R 34.10 keys (2001, 2012 256 and 512 bits):
// generation of software keys, import and export, comparison, the keys the
// decoders and the store loader hand over by reference.
//
// Parameters (import, export, generation):
//   "group" (OSSL_PKEY_PARAM_GROUP_NAME), UTF-8: the parameter set, as a name,
//       dotted OID or "paramset" letter; exported as OpenSSL's short name.
//   "paramset" (generation), UTF-8: the same, as the engine's pkey option.
//   "pub" (OSSL_PKEY_PARAM_PUB_KEY), octet string: x then y, little-endian.
//   "priv" (OSSL_PKEY_PARAM_PRIV_KEY), octet string: the private value,
//       little-endian, in [1, q-1]; the public value follows from it.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>

#include <cstring>
#include <new>

#include "gost_params.h"
#include "key_algs.h"
#include "key_ref.h"
#include "secret_string.h"
#include "soft_gost.h"
#include "token_keys.h"

namespace {

constexpr int kKeyPair = OSSL_KEYMGMT_SELECT_KEYPAIR;

ProvKey *key_of(void *keydata) { return static_cast<ProvKey *>(keydata); }

template <GostObj Alg>
void *new_key(void *provctx)
{
    ProvKey *key = zk_key_new(static_cast<ProvCtx *>(provctx));
    if (key != nullptr)
        key->rec.alg_nid = gost_nid(Alg);
    return key;
}

void free_key(void *keydata) { zk_key_free(key_of(keydata)); }

// The parameter set a text names for the key's algorithm; NID_undef after
// an error.
int paramset_named(const ProvCtx *prov, int alg_nid, const char *text)
{
    const GostKeyAlg *alg = gost_key_alg(alg_nid);
    int nid = alg != nullptr ? gost_paramset_from_text(*alg, text) : NID_undef;
    if (nid == NID_undef)
        zk_raise(prov, ZK_R_UNKNOWN_CURVE, "%s", text);
    return nid;
}

// "group" or "paramset" of params, when there; false after an error.
bool read_paramset(const ProvCtx *prov, int alg_nid, const OSSL_PARAM params[], int *param_nid)
{
    for (const char *name : {OSSL_PKEY_PARAM_GROUP_NAME, ZK_PARAM_PARAMSET}) {
        const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, name);
        if (p == nullptr)
            continue;
        const char *text = nullptr;
        if (!OSSL_PARAM_get_utf8_string_ptr(p, &text))
            return zk_raise(prov, ZK_R_BAD_PARAMETER, "%s is not text", name) != 0;
        int nid = paramset_named(prov, alg_nid, text);
        if (nid == NID_undef)
            return false;
        *param_nid = nid;
    }
    return true;
}

// An octet-string parameter of exactly len bytes, when there: 1 taken, 0
// absent, -1 refused.
int read_octets(const ProvCtx *prov, const OSSL_PARAM params[], const char *name, unsigned char *out,
                std::size_t len)
{
    const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, name);
    if (p == nullptr)
        return 0;
    const void *data = nullptr;
    std::size_t got = 0;
    if (!OSSL_PARAM_get_octet_string_ptr(p, &data, &got) || got != len) {
        zk_raise(prov, ZK_R_BAD_KEY, "%s of %zu bytes, %zu expected", name, got, len);
        return -1;
    }
    std::memcpy(out, data, len);
    return 1;
}

// The whole import is built in a copy and taken only when it holds together.
int import_key(void *keydata, int selection, const OSSL_PARAM params[])
{
    ProvKey *key = key_of(keydata);
    if (key == nullptr || key->on_token())
        return 0;
    const ProvCtx *prov = key->prov;
    Wiped<p11_gost2012_key> next;
    next.v = key->rec;
    ProvKey staged;
    staged.prov = key->prov;
    int param_nid = key->rec.param_nid;
    if (!read_paramset(prov, key->rec.alg_nid, params, &param_nid))
        return 0;
    if (!zk_key_set_type(staged, key->rec.alg_nid, param_nid))
        return zk_raise(prov, ZK_R_UNKNOWN_CURVE, "no parameter set");
    bool has_public = key->has_public;
    if (param_nid != key->rec.param_nid) {
        // Values of another curve do not move to this one.
        OPENSSL_cleanse(&next.v, sizeof next.v);
        next.v.alg_nid = key->rec.alg_nid;
        has_public = false;
    }
    next.v.param_nid = param_nid;
    next.v.pub_key_len = staged.rec.pub_key_len;
    next.v.priv_key_len = staged.rec.priv_key_len;
    if ((selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) != 0) {
        int got = read_octets(prov, params, OSSL_PKEY_PARAM_PRIV_KEY, next.v.priv_key, next.v.priv_key_len);
        if (got < 0)
            return 0;
        if (got > 0) {
            next.v.priv_key_loaded = 1;
            if (!zk_soft_public(prov, next.v))
                return 0;
            has_public = true;
        }
    }
    if ((selection & OSSL_KEYMGMT_SELECT_PUBLIC_KEY) != 0) {
        unsigned char pub[kGostPubKeyMax];
        int got = read_octets(prov, params, OSSL_PKEY_PARAM_PUB_KEY, pub, next.v.pub_key_len);
        if (got < 0)
            return 0;
        if (got > 0 && !zk_soft_check_public(prov, next.v, pub, next.v.pub_key_len))
            return zk_raise(prov, ZK_R_BAD_KEY, "public value is no point of the curve");
        if (got > 0 && next.v.priv_key_loaded && std::memcmp(pub, next.v.pub_key, next.v.pub_key_len) != 0)
            return zk_raise(prov, ZK_R_BAD_KEY, "public value does not belong to the private value");
        if (got > 0) {
            std::memcpy(next.v.pub_key, pub, next.v.pub_key_len);
            has_public = true;
        }
    }
    key->rec = next.v;
    key->has_public = has_public;
    return 1;
}

const OSSL_PARAM kKeyParams[] = {
    OSSL_PARAM_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, nullptr, 0),
    OSSL_PARAM_octet_string(OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0),
    OSSL_PARAM_octet_string(OSSL_PKEY_PARAM_PRIV_KEY, nullptr, 0),
    OSSL_PARAM_END,
};

const OSSL_PARAM *key_types(int) { return kKeyParams; }

int export_key(void *keydata, int selection, OSSL_CALLBACK *cb, void *cbarg)
{
    const ProvKey *key = key_of(keydata);
    if (key == nullptr || key->rec.param_nid == NID_undef)
        return 0;
    const p11_gost2012_key &rec = key->rec;
    OSSL_PARAM params[4];
    std::size_t n = 0;
    params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME,
                                                   const_cast<char *>(gost_nid2sn(rec.param_nid)), 0);
    Wiped<unsigned char[kGostPubKeyMax]> pub;
    Wiped<unsigned char[kGostPrivKeyMax]> priv;
    if ((selection & OSSL_KEYMGMT_SELECT_PUBLIC_KEY) != 0 && key->has_public) {
        std::memcpy(pub.v, rec.pub_key, rec.pub_key_len);
        params[n++] = OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, pub.v, rec.pub_key_len);
    }
    if ((selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) != 0 && rec.priv_key_loaded) {
        std::memcpy(priv.v, rec.priv_key, rec.priv_key_len);
        params[n++] = OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PRIV_KEY, priv.v, rec.priv_key_len);
    }
    params[n] = OSSL_PARAM_construct_end();
    return cb(params, cbarg);
}

int has(const void *keydata, int selection)
{
    const ProvKey *key = static_cast<const ProvKey *>(keydata);
    if (key == nullptr)
        return 0;
    bool ok = true;
    if ((selection & OSSL_KEYMGMT_SELECT_DOMAIN_PARAMETERS) != 0)
        ok = ok && key->rec.param_nid != NID_undef;
    if ((selection & OSSL_KEYMGMT_SELECT_PUBLIC_KEY) != 0)
        ok = ok && key->has_public;
    if ((selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) != 0)
        ok = ok && (key->rec.priv_key_loaded || key->on_token());
    return ok ? 1 : 0;
}

int match(const void *a, const void *b, int selection)
{
    const auto *ka = static_cast<const ProvKey *>(a);
    const auto *kb = static_cast<const ProvKey *>(b);
    if (ka == nullptr || kb == nullptr || ka->rec.alg_nid != kb->rec.alg_nid ||
        ka->rec.param_nid != kb->rec.param_nid)
        return 0;
    if ((selection & kKeyPair) == 0)
        return 1;
    // Key pairs are the same when their public values are.
    return ka->has_public && kb->has_public && ka->rec.pub_key_len == kb->rec.pub_key_len &&
           CRYPTO_memcmp(ka->rec.pub_key, kb->rec.pub_key, ka->rec.pub_key_len) == 0;
}

void *dup_key(const void *keydata, int selection)
{
    const auto *from = static_cast<const ProvKey *>(keydata);
    ProvKey *key = from != nullptr ? zk_key_new(from->prov) : nullptr;
    if (key == nullptr)
        return nullptr;
    key->rec = from->rec;
    key->has_public = from->has_public && (selection & OSSL_KEYMGMT_SELECT_PUBLIC_KEY) != 0;
    if ((selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) != 0) {
        key->token = from->token;
    } else {
        OPENSSL_cleanse(key->rec.priv_key, sizeof key->rec.priv_key);
        key->rec.priv_key_loaded = 0;
    }
    return key;
}

int get_params(void *keydata, OSSL_PARAM params[])
{
    const ProvKey *key = key_of(keydata);
    const GostKeyAlg *alg = key != nullptr ? gost_key_alg(key->rec.alg_nid) : nullptr;
    if (alg == nullptr)
        return 0;
    const int bits = alg->size == GostKeySize::bits512 ? 512 : 256;
    OSSL_PARAM *p = OSSL_PARAM_locate(params, OSSL_PKEY_PARAM_BITS);
    if (p != nullptr && !OSSL_PARAM_set_int(p, bits))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PKEY_PARAM_SECURITY_BITS);
    if (p != nullptr && !OSSL_PARAM_set_int(p, bits / 2))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PKEY_PARAM_MAX_SIZE);
    if (p != nullptr && !OSSL_PARAM_set_int(p, static_cast<int>(alg->sig_len)))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PKEY_PARAM_DEFAULT_DIGEST);
    if (p != nullptr && !OSSL_PARAM_set_utf8_string(p, gost_nid2sn(gost_nid(alg->default_digest))))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PKEY_PARAM_GROUP_NAME);
    if (p != nullptr && (key->rec.param_nid == NID_undef || !OSSL_PARAM_set_utf8_string(p, gost_nid2sn(key->rec.param_nid))))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PKEY_PARAM_PUB_KEY);
    if (p != nullptr && (!key->has_public || !OSSL_PARAM_set_octet_string(p, key->rec.pub_key, key->rec.pub_key_len)))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PKEY_PARAM_PRIV_KEY);
    return p == nullptr ||
           (key->rec.priv_key_loaded && OSSL_PARAM_set_octet_string(p, key->rec.priv_key, key->rec.priv_key_len));
}

const OSSL_PARAM *gettable_params(void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_int(OSSL_PKEY_PARAM_BITS, nullptr),
        OSSL_PARAM_int(OSSL_PKEY_PARAM_SECURITY_BITS, nullptr),
        OSSL_PARAM_int(OSSL_PKEY_PARAM_MAX_SIZE, nullptr),
        OSSL_PARAM_utf8_string(OSSL_PKEY_PARAM_DEFAULT_DIGEST, nullptr, 0),
        OSSL_PARAM_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, nullptr, 0),
        OSSL_PARAM_octet_string(OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0),
        OSSL_PARAM_octet_string(OSSL_PKEY_PARAM_PRIV_KEY, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

// A key the provider's decoders made, or one the store loader names.
void *load(const void *reference, std::size_t reference_size)
{
    if (SoftKeyRef *ref = zk_soft_key_ref(reference, reference_size)) {
        ProvKey *key = ref->key;
        ref->key = nullptr;
        return key;
    }
    // Token references carry what they need; key management has no
    // provider context here.
    return zk_token_key_load(nullptr, reference, reference_size);
}

// ---- generation -------------------------------------------------------------

struct GenCtx {
    ProvCtx *prov;
    int alg_nid;
    int param_nid;
    int selection;
};

int gen_set_params(void *vctx, const OSSL_PARAM params[])
{
    auto *ctx = static_cast<GenCtx *>(vctx);
    return read_paramset(ctx->prov, ctx->alg_nid, params, &ctx->param_nid) ? 1 : 0;
}

template <GostObj Alg>
void *gen_init(void *provctx, int selection, const OSSL_PARAM params[])
{
    auto *ctx = new (std::nothrow) GenCtx{static_cast<ProvCtx *>(provctx), gost_nid(Alg), NID_undef, selection};
    if (ctx != nullptr && !gen_set_params(ctx, params)) {
        delete ctx;
        return nullptr;
    }
    return ctx;
}

const OSSL_PARAM *gen_settable_params(void *, void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_utf8_string(ZK_PARAM_PARAMSET, nullptr, 0),
        OSSL_PARAM_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

void *gen(void *vctx, OSSL_CALLBACK *, void *)
{
    auto *ctx = static_cast<GenCtx *>(vctx);
    if (ctx->param_nid == NID_undef) {
        zk_raise(ctx->prov, ZK_R_UNKNOWN_CURVE, "no parameter set (paramset)");
        return nullptr;
    }
    ProvKey *key = zk_key_new(ctx->prov);
    if (key == nullptr || !zk_key_set_type(*key, ctx->alg_nid, ctx->param_nid)) {
        zk_key_free(key);
        return nullptr;
    }
    if ((ctx->selection & kKeyPair) != 0) {
        if (!zk_soft_keygen(ctx->prov, key->rec)) {
            zk_key_free(key);
            return nullptr;
        }
        key->has_public = true;
    }
    return key;
}

void gen_cleanup(void *vctx) { delete static_cast<GenCtx *>(vctx); }

template <GostObj Alg>
const OSSL_DISPATCH kFunctions[] = {
    {OSSL_FUNC_KEYMGMT_NEW, zk_fn(new_key<Alg>)},
    {OSSL_FUNC_KEYMGMT_FREE, zk_fn(free_key)},
    {OSSL_FUNC_KEYMGMT_LOAD, zk_fn(load)},
    {OSSL_FUNC_KEYMGMT_GEN_INIT, zk_fn(gen_init<Alg>)},
    {OSSL_FUNC_KEYMGMT_GEN_SET_PARAMS, zk_fn(gen_set_params)},
    {OSSL_FUNC_KEYMGMT_GEN_SETTABLE_PARAMS, zk_fn(gen_settable_params)},
    {OSSL_FUNC_KEYMGMT_GEN, zk_fn(gen)},
    {OSSL_FUNC_KEYMGMT_GEN_CLEANUP, zk_fn(gen_cleanup)},
    {OSSL_FUNC_KEYMGMT_GET_PARAMS, zk_fn(get_params)},
    {OSSL_FUNC_KEYMGMT_GETTABLE_PARAMS, zk_fn(gettable_params)},
    {OSSL_FUNC_KEYMGMT_HAS, zk_fn(has)},
    {OSSL_FUNC_KEYMGMT_MATCH, zk_fn(match)},
    {OSSL_FUNC_KEYMGMT_IMPORT, zk_fn(import_key)},
    {OSSL_FUNC_KEYMGMT_IMPORT_TYPES, zk_fn(key_types)},
    {OSSL_FUNC_KEYMGMT_EXPORT, zk_fn(export_key)},
    {OSSL_FUNC_KEYMGMT_EXPORT_TYPES, zk_fn(key_types)},
    {OSSL_FUNC_KEYMGMT_DUP, zk_fn(dup_key)},
    {0, nullptr},
};

}  // namespace

const OSSL_ALGORITHM zk_keymgmt[] = {
    ZK_KEY_ALG_ENTRIES("provider=" ZK_PROVIDER_NAME, kFunctions<GostObj::gost2001>,
                       kFunctions<GostObj::gost3410_2012_256>, kFunctions<GostObj::gost3410_2012_512>, "keys"),
    {nullptr, nullptr, nullptr, nullptr},
};
