// The engine's GOST 28147-89 ciphers ("gost89", "gost89-cnt") and MAC
// ("gost-mac"): thin EVP shells over the crypto core. Every cipher, MAC and
// parameter operation is the core's; this file picks the parameter set,
// keeps the key for re-initialisation and translates codes into OpenSSL's.
#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_CIPHER_meth_*, EVP_MD_meth_*, ENGINE, EVP_CIPHER_CTX_iv
#include "zkc_gost28147.h"

#include "gost89_update.h"
#include "gost_objects.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_pmeth.h"

#include <openssl/engine.h>
#include <openssl/objects.h>
#include <openssl/rand.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

int fail(const char *message) {
    fputs(message, stderr);
    return 0;
}

int fail_rc(const char *format, int rc) {
    fprintf(stderr, format, static_cast<unsigned>(rc));
    return 0;
}

zkc_cipher_ctx *cipher_data(EVP_CIPHER_CTX *ctx) {
    return static_cast<zkc_cipher_ctx *>(EVP_CIPHER_CTX_get_cipher_data(ctx));
}

zkc_cipher_ctx *mac_data(EVP_MD_CTX *ctx) { return static_cast<zkc_cipher_ctx *>(EVP_MD_CTX_get0_md_data(ctx)); }

// The context of the engine that serves an algorithm ("ENGINE_get_ex_data
// failed" when there is none). OpenSSL 3.0 shows a record's callbacks no
// engine of the EVP context, so the engine registered for the NID is asked;
// it is the one EVP chose unless the caller named an engine of its own.
P11_ENGINE_CTX *engine_ctx(ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (e)
        ENGINE_finish(e);
    return ctx;
}

P11_ENGINE_CTX *cipher_engine_ctx(EVP_CIPHER_CTX *ctx) {
    return engine_ctx(ENGINE_get_cipher_engine(EVP_CIPHER_CTX_get_nid(ctx)));
}

P11_ENGINE_CTX *mac_engine_ctx() { return engine_ctx(ENGINE_get_digest_engine(gost_nid(GostObj::gost_mac))); }

// The core's parameter set for param_nid; the engine's default set when the
// NID names no object or the core does not know it.
const GOST28147_89_PARAM *resolve_paramset(int param_nid, const P11_ENGINE_CTX *engine) {
    if (const GOST28147_89_PARAM *param = gost89_paramset_of_nid(param_nid))
        return param;
    const GOST28147_89_PARAM *param = nullptr;
    const unsigned char *fallback = engine->gost28147_params_der;
    int rc = GOST28147_89_FindParByDerOid(fallback, fallback[1] + 2u, &param);
    if (rc != 0) {
        fail_rc("GOST28147_89_FindParByDerOid failed, rc = 0x%x\n", rc);
        return nullptr;
    }
    return param;
}

// ---- ciphers -----------------------------------------------------------------

enum class CipherKind { cfb, cnt };

// Steps shared by the cipher init and the re-initialisation of the controls:
// the running IV from iv (when given) through the original IV, then, with a
// key, the core keyed for the chosen set and mode; without one, a check of
// the set and the engine's default set for what follows.
int cipher_setup(EVP_CIPHER_CTX *ctx, CipherKind kind, const unsigned char *key, const unsigned char *iv, int enc) {
    zkc_cipher_ctx *c = cipher_data(ctx);
    P11_ENGINE_CTX *engine = cipher_engine_ctx(ctx);
    if (!engine || !c)
        return 0;
    auto *oiv = const_cast<unsigned char *>(EVP_CIPHER_CTX_original_iv(ctx));
    unsigned char *running = EVP_CIPHER_CTX_iv_noconst(ctx);
    if (iv && oiv != iv)
        memcpy(oiv, iv, ZKC_GOST89_IV_LEN);
    if (running != oiv)
        memmove(running, oiv, ZKC_GOST89_IV_LEN);
    const GOST28147_89_PARAM *param = resolve_paramset(c->param_nid, engine);
    if (!param)
        return 0;
    if (!key) {
        c->param_nid = engine->gost28147_params_nid;
        c->key_set = 0;
        return 1;
    }
    if (key != c->key)
        memcpy(c->key, key, sizeof c->key);
    int mode = kind == CipherKind::cnt ? GOST28147_89_MODE_CNT : (c->mode ? c->mode : GOST28147_89_MODE_CFB);
    int rc = GOST28147_89_Init(&c->core, enc ? 1 : 0, param->table, mode, 0, param->key_meshing, 0, running, c->key);
    if (rc != 0)
        return fail_rc("GOST28147_89_Init failed, rc = 0x%x\n", rc);
    c->key_set = 1;
    return 1;
}

int zkc_cipher_init_modify(EVP_CIPHER_CTX *ctx, const unsigned char *key, const unsigned char *iv, int enc) {
    if (zkc_cipher_ctx *c = cipher_data(ctx))
        c->mode = 0;
    if (!cipher_setup(ctx, CipherKind::cfb, key, iv, enc))
        return fail("zkc_cipher_init_modify failed\n");
    return 1;
}

int zkc_cipher_init_cnt_modify(EVP_CIPHER_CTX *ctx, const unsigned char *key, const unsigned char *iv, int enc) {
    if (!cipher_setup(ctx, CipherKind::cnt, key, iv, enc))
        return fail("zkc_cipher_init_cnt_modify failed\n");
    return 1;
}

// Re-initialisation after a control changed the set or the mode: the same
// key, the running IV, the same direction. A context that has had no key yet
// keeps the choice for its keyed init instead of running on a key it was
// never given.
int cipher_reinit(EVP_CIPHER_CTX *ctx, CipherKind kind) {
    zkc_cipher_ctx *c = cipher_data(ctx);
    if (!c->key_set)
        return 1;
    return cipher_setup(ctx, kind, c->key, EVP_CIPHER_CTX_iv(ctx), EVP_CIPHER_CTX_is_encrypting(ctx));
}

int zkc_cipher_do(EVP_CIPHER_CTX *ctx, unsigned char *out, const unsigned char *in, size_t inl) {
    if (!out)
        return 1;
    int rc = gost89_update(&cipher_data(ctx)->core, in, inl, out);
    return rc == 0 ? 1 : fail_rc("GOST28147_89_Update failed, rc = 0x%x\n", rc);
}

int zkc_cipher_cleanup(EVP_CIPHER_CTX *ctx) {
    if (zkc_cipher_ctx *c = cipher_data(ctx))
        OPENSSL_cleanse(c, sizeof *c);
    return 1;
}

int zkc_set_asn1_parameters(EVP_CIPHER_CTX *ctx, ASN1_TYPE *params) {
    zkc_cipher_ctx *c = cipher_data(ctx);
    ZKC_CIPHER_PARAMS *p = ZKC_CIPHER_PARAMS_new();
    ASN1_OBJECT *set = c ? OBJ_nid2obj(c->param_nid) : nullptr;
    if (!p || !set || !ASN1_OCTET_STRING_set(p->iv, EVP_CIPHER_CTX_iv(ctx), ZKC_GOST89_IV_LEN)) {
        ZKC_CIPHER_PARAMS_free(p);
        return fail("gost89_set_asn1_parameters: No memory\n");
    }
    ASN1_OBJECT_free(p->enc_param_set);
    p->enc_param_set = set;
    unsigned char *der = nullptr;
    int len = i2d_ZKC_CIPHER_PARAMS(p, &der);
    ZKC_CIPHER_PARAMS_free(p);
    if (len <= 0)
        return fail("zkc_set_asn1_parameters: No memory\n");
    ASN1_STRING *seq = ASN1_STRING_new();
    if (!seq || !ASN1_STRING_set(seq, der, len)) {
        ASN1_STRING_free(seq);
        OPENSSL_free(der);
        return fail("gost89_set_asn1_parameters: No memory\n");
    }
    OPENSSL_free(der);
    ASN1_TYPE_set(params, V_ASN1_SEQUENCE, seq);
    return 1;
}

int gost89_get_asn1_parameters(EVP_CIPHER_CTX *ctx, ASN1_TYPE *params) {
    if (!cipher_engine_ctx(ctx))
        return 0;
    zkc_cipher_ctx *c = cipher_data(ctx);
    if (!c || !params || ASN1_TYPE_get(params) != V_ASN1_SEQUENCE)
        return 0;
    const ASN1_STRING *seq = params->value.sequence;
    const unsigned char *p = ASN1_STRING_get0_data(seq);
    ZKC_CIPHER_PARAMS *gp = d2i_ZKC_CIPHER_PARAMS(nullptr, &p, ASN1_STRING_length(seq));
    if (!gp)
        return 0;
    if (ASN1_STRING_length(gp->iv) != ZKC_GOST89_IV_LEN) {
        ZKC_CIPHER_PARAMS_free(gp);
        return fail("gost89_get_asn1_parameters: Invalid IV length\n");
    }
    c->param_nid = OBJ_obj2nid(gp->enc_param_set);
    memcpy(const_cast<unsigned char *>(EVP_CIPHER_CTX_original_iv(ctx)), ASN1_STRING_get0_data(gp->iv),
           ZKC_GOST89_IV_LEN);
    ZKC_CIPHER_PARAMS_free(gp);
    return 1;
}

// The controls both ciphers answer; -2 for any other (not an OpenSSL code:
// the callers turn it into their own answer).
constexpr int kNotCommon = -2;

int common_cipher_ctl(EVP_CIPHER_CTX *ctx, CipherKind kind, int type, int arg, void *ptr) {
    switch (type) {
    case EVP_CTRL_RAND_KEY:
        if (!ptr || RAND_bytes(static_cast<unsigned char *>(ptr), GOST28147_89_KEY_SIZE) <= 0) {
            fputs("zkc_cipher_ctl: RAND_bytes failed\n", stderr);
            return -1;
        }
        return 1;
    case EVP_CTRL_PBE_PRF_NID:
        if (!ptr)
            return 0;
        // Password-based encryption with these ciphers uses HMAC with
        // GOST R 34.11-94.
        *static_cast<int *>(ptr) = NID_id_HMACGostR3411_94;
        return 1;
    case ZKC_CIPHER_CTRL_SET_PARAMSET:
        if (!cipher_engine_ctx(ctx))
            return 0;
        cipher_data(ctx)->param_nid = arg;
        return cipher_reinit(ctx, kind);
    default:
        return kNotCommon;
    }
}

// Control mode numbers and the core's mode codes.
struct ModeNumber {
    int number;
    int core;
};
constexpr ModeNumber kModes[] = {
    {ZKC_CIPHER_MODE_ECB, GOST28147_89_MODE_ECB},
    {ZKC_CIPHER_MODE_CBC, GOST28147_89_MODE_CBC},
    {ZKC_CIPHER_MODE_CFB, GOST28147_89_MODE_CFB},
    {ZKC_CIPHER_MODE_CNT, GOST28147_89_MODE_CNT},
};

int zkc_cipher_ctl(EVP_CIPHER_CTX *ctx, int type, int arg, void *ptr) {
    int rc = common_cipher_ctl(ctx, CipherKind::cfb, type, arg, ptr);
    if (rc != kNotCommon)
        return rc;
    switch (type) {
    case ZKC_CIPHER_CTRL_SET_MODE:
        if (!cipher_engine_ctx(ctx))
            return 0;
        for (const ModeNumber &m : kModes)
            if (m.number == arg) {
                cipher_data(ctx)->mode = m.core;
                return cipher_reinit(ctx, CipherKind::cfb);
            }
        fprintf(stderr, "zkc_cipher_ctl: Unsupported cipher mode %d\n", arg);
        return 0;
    case ZKC_CIPHER_CTRL_GET_MODE: {
        if (!ptr)
            return 0;
        int number = ZKC_CIPHER_MODE_CFB;
        for (const ModeNumber &m : kModes)
            if (m.core == cipher_data(ctx)->mode)
                number = m.number;
        *static_cast<int *>(ptr) = number;
        return 1;
    }
    default:
        fprintf(stderr, "zkc_cipher_ctl: Unsupported command %d\n", type);
        return -1;
    }
}

int zkc_cipher_ctl_cnt(EVP_CIPHER_CTX *ctx, int type, int arg, void *ptr) {
    int rc = common_cipher_ctl(ctx, CipherKind::cnt, type, arg, ptr);
    if (rc != kNotCommon)
        return rc;
    fprintf(stderr, "zkc_cipher_ctl_cnt: Unsupported command %d\n", type);
    return -1;
}

constexpr unsigned long kCipherFlags =
    EVP_CIPH_CUSTOM_IV | EVP_CIPH_ALWAYS_CALL_INIT | EVP_CIPH_NO_PADDING | EVP_CIPH_RAND_KEY;

EVP_CIPHER *make_cipher(int nid, unsigned long mode_flag, int (*init)(EVP_CIPHER_CTX *, const unsigned char *,
                                                                       const unsigned char *, int),
                        int (*ctrl)(EVP_CIPHER_CTX *, int, int, void *)) {
    if (nid == NID_undef)
        return nullptr;
    EVP_CIPHER *c = EVP_CIPHER_meth_new(nid, 1, GOST28147_89_KEY_SIZE);
    if (!c)
        return nullptr;
    if (!EVP_CIPHER_meth_set_iv_length(c, ZKC_GOST89_IV_LEN) || !EVP_CIPHER_meth_set_flags(c, kCipherFlags | mode_flag) ||
        !EVP_CIPHER_meth_set_init(c, init) || !EVP_CIPHER_meth_set_do_cipher(c, zkc_cipher_do) ||
        !EVP_CIPHER_meth_set_cleanup(c, zkc_cipher_cleanup) ||
        !EVP_CIPHER_meth_set_impl_ctx_size(c, sizeof(zkc_cipher_ctx)) ||
        !EVP_CIPHER_meth_set_set_asn1_params(c, zkc_set_asn1_parameters) ||
        !EVP_CIPHER_meth_set_get_asn1_params(c, gost89_get_asn1_parameters) || !EVP_CIPHER_meth_set_ctrl(c, ctrl)) {
        EVP_CIPHER_meth_free(c);
        return nullptr;
    }
    return c;
}

// ---- MAC ---------------------------------------------------------------------

// The per-operation data of a GOST key method behind the digest context, or
// NULL (no key context, or one of another method: the MAC key's own method
// keeps no IV).
p11_gost_pkey_ctx *gost_key_op_data(EVP_MD_CTX *ctx) {
    EVP_PKEY_CTX *pctx = EVP_MD_CTX_get_pkey_ctx(ctx);
    if (!pctx)
        return nullptr;
    for (GostObj alg : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512})
        if (EVP_PKEY_CTX_is_a(pctx, OBJ_nid2sn(gost_nid(alg))))
            return static_cast<p11_gost_pkey_ctx *>(EVP_PKEY_CTX_get_data(pctx));
    return nullptr;
}

int zkc_imit_init_modify(EVP_MD_CTX *ctx) {
    zkc_cipher_ctx *c = mac_data(ctx);
    P11_ENGINE_CTX *engine = mac_engine_ctx();
    const GOST28147_89_PARAM *param = nullptr;
    if (engine && c)
        param = resolve_paramset(c->param_nid, engine);
    int ok = 0;
    if (param) {
        const unsigned char *iv = nullptr;
        const p11_gost_pkey_ctx *op = gost_key_op_data(ctx);
        if (op && op->ukm)
            iv = op->ukm;
        // An IV shorter than a block is refused rather than read past.
        if (iv && op->ukm_len < ZKC_GOST89_IV_LEN) {
            fputs("zkc_imit_init_modify: IV shorter than 8 bytes\n", stderr);
        } else {
            int rc = GOST28147_89_Init(&c->core, 1, param->table, GOST28147_89_MODE_MAC, 0, param->key_meshing, 0,
                                       iv, c->key);
            ok = rc == 0 ? 1 : fail_rc("GOST28147_89_Init failed, rc = 0x%x\n", rc);
        }
    }
    if (!ok)
        return fail("zkc_imit_init_modify failed\n");
    return 1;
}

int zkc_imit_update(EVP_MD_CTX *ctx, const void *data, size_t count) {
    if (count == 0)
        return 1;
    int rc = gost89_update(&mac_data(ctx)->core, static_cast<const unsigned char *>(data), count, nullptr);
    return rc == 0 ? 1 : fail_rc("GOST28147_89_Update failed, rc = 0x%x\n", rc);
}

int zkc_imit_final(EVP_MD_CTX *ctx, unsigned char *md) {
    zkc_cipher_ctx *c = mac_data(ctx);
    int rc = GOST28147_89_Final(&c->core);
    if (rc != 0)
        return fail_rc("GOST28147_89_Final failed, rc = 0x%x\n", rc);
    memcpy(md, c->core.mac, ZKC_GOST_MAC_LEN);
    return 1;
}

int zkc_imit_copy(EVP_MD_CTX *to, const EVP_MD_CTX *from) {
    zkc_cipher_ctx *dst = mac_data(to);
    const zkc_cipher_ctx *src = mac_data(const_cast<EVP_MD_CTX *>(from));
    if (dst && src && dst != src)
        memcpy(dst->key, src->key, sizeof dst->key);
    return 1;
}

int zkc_imit_cleanup(EVP_MD_CTX *ctx) {
    if (zkc_cipher_ctx *c = mac_data(ctx))
        OPENSSL_cleanse(c, sizeof *c);
    return 1;
}

int zkc_imit_ctrl(EVP_MD_CTX *ctx, int type, int arg, void *ptr) {
    zkc_cipher_ctx *c = mac_data(ctx);
    switch (type) {
    case ZKC_MAC_CTRL_SET_PARAMSET:
        if (!c)
            return 0;
        c->param_nid = arg;
        return zkc_imit_init_modify(ctx);
    case ZKC_MAC_CTRL_SET_IV: {
        p11_gost_pkey_ctx *op = gost_key_op_data(ctx);
        if (!c || !ptr)
            return 0;
        if (!op)
            return fail("zkc_imit_ctrl: the MAC IV needs the context of a GOST key\n");
        if (!op->ukm || op->ukm_len < ZKC_GOST89_IV_LEN) {
            auto *ukm = static_cast<unsigned char *>(OPENSSL_malloc(ZKC_GOST89_IV_LEN));
            if (!ukm)
                return 0;
            OPENSSL_clear_free(op->ukm, op->ukm_len);
            op->ukm = ukm;
            op->ukm_len = ZKC_GOST89_IV_LEN;
        }
        memcpy(op->ukm, ptr, ZKC_GOST89_IV_LEN);
        return zkc_imit_init_modify(ctx);
    }
    case ZKC_MAC_CTRL_KEY_LEN:
        if (!ptr)
            return 0;
        *static_cast<int *>(ptr) = GOST28147_89_KEY_SIZE;
        return 1;
    case ZKC_MAC_CTRL_SET_KEY:
        if (arg != GOST28147_89_KEY_SIZE) {
            fprintf(stderr, "zkc_imit_ctrl: Invalid key length %d\n", arg);
            return 0;
        }
        if (!c || !ptr)
            return 0;
        memcpy(c->key, ptr, sizeof c->key);
        c->key_set = 1;
        return zkc_imit_init_modify(ctx);
    default:
        return 0;
    }
}

EVP_MD *make_mac() {
    int nid = gost_nid(GostObj::gost_mac);
    if (nid == NID_undef)
        return nullptr;
    EVP_MD *md = EVP_MD_meth_new(nid, NID_undef);
    if (!md)
        return nullptr;
    if (!EVP_MD_meth_set_result_size(md, ZKC_GOST_MAC_LEN) || !EVP_MD_meth_set_input_blocksize(md, 8) ||
        !EVP_MD_meth_set_app_datasize(md, sizeof(zkc_cipher_ctx)) || !EVP_MD_meth_set_flags(md, 0) ||
        !EVP_MD_meth_set_init(md, zkc_imit_init_modify) || !EVP_MD_meth_set_update(md, zkc_imit_update) ||
        !EVP_MD_meth_set_final(md, zkc_imit_final) || !EVP_MD_meth_set_copy(md, zkc_imit_copy) ||
        !EVP_MD_meth_set_cleanup(md, zkc_imit_cleanup) || !EVP_MD_meth_set_ctrl(md, zkc_imit_ctrl)) {
        EVP_MD_meth_free(md);
        return nullptr;
    }
    return md;
}

}  // namespace

// The records are made once and never freed: OpenSSL's name tables and
// contexts may refer to them until the process ends.
const EVP_CIPHER *zkc_gost89_cipher(void) {
    static const EVP_CIPHER *c =
        make_cipher(gost_nid(GostObj::gost89), EVP_CIPH_CFB_MODE, zkc_cipher_init_modify, zkc_cipher_ctl);
    return c;
}

const EVP_CIPHER *zkc_gost89_cnt_cipher(void) {
    static const EVP_CIPHER *c =
        make_cipher(gost_nid(GostObj::gost89_cnt), EVP_CIPH_OFB_MODE, zkc_cipher_init_cnt_modify, zkc_cipher_ctl_cnt);
    return c;
}

const EVP_MD *zkc_gost_mac_digest(void) {
    static const EVP_MD *md = make_mac();
    return md;
}
