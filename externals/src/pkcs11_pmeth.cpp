// Key-operation methods of the GOST keys and of the GOST 28147-89 MAC key.
#define OPENSSL_SUPPRESS_DEPRECATED  // EVP_PKEY_METHOD, EVP_PKEY_get0, ENGINE
#include "pkcs11_pmeth.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include "gost_key.h"
#include "gost_objects.h"
#include "gost_params.h"
#include "p11_engine_session.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_gost3410_2012.h"
#include "pkcs11_keyx.h"
#include "pkcs11_login_on_use.h"

namespace {

// ---- GOST key methods ----------------------------------------------------

p11_gost_pkey_ctx *gost_data(EVP_PKEY_CTX *ctx)
{
    return static_cast<p11_gost_pkey_ctx *>(EVP_PKEY_CTX_get_data(ctx));
}

void free_gost_data(p11_gost_pkey_ctx *data)
{
    if (data == nullptr)
        return;
    OPENSSL_clear_free(data->ukm, data->ukm_len);
    OPENSSL_free(data->label);
    OPENSSL_free(data);
}

int pkey_pkcs11_init(EVP_PKEY_CTX *ctx)
{
    int param_nid = NID_undef;
    if (EVP_PKEY *key = EVP_PKEY_CTX_get0_pkey(ctx)) {
        if (gost_key_alg(EVP_PKEY_get_base_id(key)) == nullptr)
            return 0;
        if (const auto *rec = gost_key_record(key))
            param_nid = rec->param_nid;
    }
    auto *data = static_cast<p11_gost_pkey_ctx *>(OPENSSL_zalloc(sizeof(p11_gost_pkey_ctx)));
    if (data == nullptr)
        return 0;
    data->param_nid = param_nid;
    EVP_PKEY_CTX_set_data(ctx, data);
    return 1;
}

void pkey_pkcs11_cleanup(EVP_PKEY_CTX *ctx)
{
    free_gost_data(gost_data(ctx));
    EVP_PKEY_CTX_set_data(ctx, nullptr);
}

// The copy keeps no user keying material: the buffer is neither shared nor
// duplicated.
int pkey_pkcs11_copy(EVP_PKEY_CTX *dst, const EVP_PKEY_CTX *src)
{
    const p11_gost_pkey_ctx *from = gost_data(const_cast<EVP_PKEY_CTX *>(src));
    if (from == nullptr || !pkey_pkcs11_init(dst))
        return 0;
    p11_gost_pkey_ctx *to = gost_data(dst);
    to->alg_nid = from->alg_nid;
    to->param_nid = from->param_nid;
    to->md = from->md;
    to->peer_key_set = from->peer_key_set;
    if (from->label != nullptr && (to->label = OPENSSL_strdup(from->label)) == nullptr)
        return 0;
    return 1;
}

bool is_gost_digest(int nid)
{
    return nid != NID_undef && (nid == gost_nid(GostObj::md_gost94) || nid == gost_nid(GostObj::gost3411_2012_256) ||
                                nid == gost_nid(GostObj::gost3411_2012_512));
}

int set_ukm(p11_gost_pkey_ctx *data, int len, const void *bytes)
{
    if (len <= 0 || bytes == nullptr)
        return 0;
    auto *copy = static_cast<unsigned char *>(OPENSSL_malloc(static_cast<std::size_t>(len)));
    if (copy == nullptr)
        return 0;
    std::memcpy(copy, bytes, static_cast<std::size_t>(len));
    OPENSSL_clear_free(data->ukm, data->ukm_len);
    data->ukm = copy;
    data->ukm_len = static_cast<std::size_t>(len);
    return 1;
}

int pkey_zkc_ctrl(EVP_PKEY_CTX *ctx, int type, int p1, void *p2)
{
    p11_gost_pkey_ctx *data = gost_data(ctx);
    if (data == nullptr)
        return 0;
    switch (type) {
    case EVP_PKEY_CTRL_MD: {
        const auto *md = static_cast<const EVP_MD *>(p2);
        int nid = md != nullptr ? EVP_MD_get_type(md) : NID_undef;
        if (!is_gost_digest(nid)) {
            std::fprintf(stderr, "pkey_zkc_ctrl: EVP_PKEY_CTRL_MD - Unsupported digest type: %d(%s)\n", nid,
                         gost_nid2sn(nid));
            return 0;
        }
        data->md = md;
        return 1;
    }
    case EVP_PKEY_CTRL_PEER_KEY:
        switch (p1) {
        case 0:
        case 1:
            return 1;
        case 2:
            return data->peer_key_set;
        case 3:
            data->peer_key_set = 1;
            return 1;
        default:
            return -2;
        }
    case EVP_PKEY_CTRL_PKCS7_ENCRYPT:
    case EVP_PKEY_CTRL_PKCS7_DECRYPT:
    case EVP_PKEY_CTRL_PKCS7_SIGN:
    case EVP_PKEY_CTRL_DIGESTINIT:
        return 1;
    case EVP_PKEY_CTRL_SET_IV:
        return set_ukm(data, p1, p2);
    case EVP_PKEY_CTRL_GOST_PARAMSET:
        data->param_nid = p1;
        return 1;
    default:
        return -2;
    }
}

// The "paramset" value for a key algorithm; NID_undef when refused.
int paramset_from_text(const GostKeyAlg &alg, const char *value)
{
    bool other_table = false;
    int nid = gost_paramset_from_text(alg, value, &other_table);
    if (other_table)
        std::fputs("pkey_pkcs11_ctrl_gost2012_str: invalid parameter set\n", stderr);
    return nid;
}

// "label": the label of a pair generated on the token (non-empty text).
int set_label(p11_gost_pkey_ctx *data, const char *value)
{
    if (*value == '\0') {
        std::fputs("pkey_pkcs11_ctrl_gost2012_str: empty label\n", stderr);
        return 0;
    }
    char *copy = OPENSSL_strdup(value);
    if (copy == nullptr)
        return 0;
    OPENSSL_free(data->label);
    data->label = copy;
    return 1;
}

int ctrl_str_for(int method_nid, EVP_PKEY_CTX *ctx, const char *name, const char *value)
{
    if (name == nullptr || (std::strcmp(name, "paramset") != 0 && std::strcmp(name, "label") != 0))
        return -2;
    if (value == nullptr)
        return 0;
    p11_gost_pkey_ctx *data = gost_data(ctx);
    if (data == nullptr)
        return 0;
    if (std::strcmp(name, "label") == 0)
        return set_label(data, value);
    int param_nid = NID_undef;
    if (const GostKeyAlg *alg = gost_key_alg(method_nid)) {
        param_nid = paramset_from_text(*alg, value);
        if (param_nid == NID_undef)
            return 0;
    }
    data->param_nid = param_nid;
    return 1;
}

int paramgen_for(int method_nid, EVP_PKEY_CTX *ctx, EVP_PKEY *pkey)
{
    p11_gost_pkey_ctx *data = gost_data(ctx);
    if (data == nullptr || pkey == nullptr)
        return 0;
    if (data->param_nid == NID_undef) {
        std::fputs("pkey_gost2012_paramgen: No parameters set\n", stderr);
        return 0;
    }
    p11_gost2012_key *rec = p11_gost2012_key_new();
    if (rec == nullptr)
        return 0;
    rec->alg_nid = method_nid;
    data->alg_nid = method_nid;
    if (!fill_GOST2012_params(rec, method_nid, data->param_nid)) {
        std::fputs("fill_GOST2012_params failed\n", stderr);
        p11_gost2012_key_free(rec);
        return 0;
    }
    if (!EVP_PKEY_assign(pkey, method_nid, rec)) {
        p11_gost2012_key_free(rec);
        return 0;
    }
    return 1;
}


// A key pair made on the token, in a session of its own, for the parameter
// set the context chose; labelled as the context says, when it says so
// (over the label index's number).
int keygen_for(int method_nid, EVP_PKEY_CTX *ctx, EVP_PKEY *pkey)
{
    if (!paramgen_for(method_nid, ctx, pkey)) {
        std::fputs("pkey_gost2001_paramgen failed\n", stderr);
        return 0;
    }
    ENGINE *engine = EVP_PKEY_get0_engine(pkey);
    const P11_ENGINE_CTX *engine_ctx = p11_engine_ctx_or_report(engine);
    if (engine_ctx == nullptr || !p11_login_on_use(engine))
        return 0;
    P11Session session;
    if (!session.open_or_report(engine_ctx))
        return -1;
    CK_OBJECT_HANDLE pub = CK_INVALID_HANDLE, priv = CK_INVALID_HANDLE;
    int rc = pkcs11_gost2012_keygen_wrapper(engine, gost_key_record(pkey), session.handle(), &pub, &priv);
    if (rc != 1) {
        std::fprintf(stderr, "pkcs11_gost2012_keygen_wrapper failed, rc = %d\n", rc);
        return 0;
    }
    const p11_gost_pkey_ctx *data = gost_data(ctx);
    if (data->label != nullptr &&
        !p11_label_key_pair(engine_ctx->function_list, session.handle(), pub, priv, data->label))
        return 0;
    return 1;
}

// The signature is written only into a buffer that holds it (the caller
// gives the buffer's size in *siglen).
int pkey_pkcs11_sign(EVP_PKEY_CTX *ctx, unsigned char *sig, size_t *siglen, const unsigned char *tbs, size_t tbslen)
{
    EVP_PKEY *key = EVP_PKEY_CTX_get0_pkey(ctx);
    if (key == nullptr || siglen == nullptr)
        return 0;
    const GostKeyAlg *alg = gost_key_alg(EVP_PKEY_get_base_id(key));
    if (alg == nullptr)
        return 0;
    std::size_t room = *siglen;
    *siglen = alg->sig_len;
    if (sig == nullptr)
        return 1;
    if (room < alg->sig_len) {
        std::fprintf(stderr, "pkey_pkcs11_sign: signature buffer of %zu bytes, %u needed\n", room, alg->sig_len);
        return 0;
    }
    if (tbslen > INT_MAX)
        return 0;
    return pkcs11_gost2012_do_sign(EVP_PKEY_get0_engine(key), tbs, static_cast<int>(tbslen), sig, gost_key_record(key));
}

int pkey_pkcs11_verify(EVP_PKEY_CTX *ctx, const unsigned char *sig, size_t siglen, const unsigned char *tbs,
                       size_t tbslen)
{
    EVP_PKEY *key = EVP_PKEY_CTX_get0_pkey(ctx);
    if (key == nullptr || tbslen > INT_MAX)
        return 0;
    return pkcs11_gost2012_do_verify(EVP_PKEY_get0_engine(key), tbs, static_cast<int>(tbslen), sig, siglen,
                                     gost_key_record(key));
}

// OpenSSL hands a method's slots no way to learn the method's NID: each key
// algorithm gets its own instances of the slots that need it.
template <GostObj Alg>
int pkey_pkcs11_ctrl_gost2012_str(EVP_PKEY_CTX *ctx, const char *name, const char *value)
{
    return ctrl_str_for(gost_nid(Alg), ctx, name, value);
}

template <GostObj Alg>
int pkey_gost2012_paramgen(EVP_PKEY_CTX *ctx, EVP_PKEY *pkey)
{
    return paramgen_for(gost_nid(Alg), ctx, pkey);
}

template <GostObj Alg>
int pkey_pkcs11_keygen(EVP_PKEY_CTX *ctx, EVP_PKEY *pkey)
{
    return keygen_for(gost_nid(Alg), ctx, pkey);
}

int init_always_succeeds(EVP_PKEY_CTX *) { return 1; }

struct GostSlots {
    GostObj alg;
    int (*ctrl_str)(EVP_PKEY_CTX *, const char *, const char *);
    int (*paramgen)(EVP_PKEY_CTX *, EVP_PKEY *);
    int (*keygen)(EVP_PKEY_CTX *, EVP_PKEY *);
};

template <GostObj Alg>
constexpr GostSlots slots_of()
{
    return {Alg, pkey_pkcs11_ctrl_gost2012_str<Alg>, pkey_gost2012_paramgen<Alg>, pkey_pkcs11_keygen<Alg>};
}

constexpr GostSlots kGostSlots[] = {
    slots_of<GostObj::gost2001>(),
    slots_of<GostObj::gost3410_2012_256>(),
    slots_of<GostObj::gost3410_2012_512>(),
};

// Encryption, decryption and derivation run on the token too; their slots
// join these.
void set_gost_slots(EVP_PKEY_METHOD *m, const GostSlots &slots)
{
    EVP_PKEY_meth_set_init(m, pkey_pkcs11_init);
    EVP_PKEY_meth_set_copy(m, pkey_pkcs11_copy);
    EVP_PKEY_meth_set_cleanup(m, pkey_pkcs11_cleanup);
    EVP_PKEY_meth_set_paramgen(m, init_always_succeeds, slots.paramgen);
    EVP_PKEY_meth_set_keygen(m, nullptr, slots.keygen);
    EVP_PKEY_meth_set_sign(m, nullptr, pkey_pkcs11_sign);
    EVP_PKEY_meth_set_verify(m, nullptr, pkey_pkcs11_verify);
    EVP_PKEY_meth_set_ctrl(m, pkey_zkc_ctrl, slots.ctrl_str);
    EVP_PKEY_meth_set_encrypt(m, init_always_succeeds, pkey_pkcs11_encrypt);
    EVP_PKEY_meth_set_decrypt(m, nullptr, pkey_pkcs11_decrypt);
    EVP_PKEY_meth_set_derive(m, init_always_succeeds, pkey_pkcs11_derive);
}

// ---- MAC key method --------------------------------------------------------

p11_mac_pkey_ctx *mac_data(EVP_PKEY_CTX *ctx) { return static_cast<p11_mac_pkey_ctx *>(EVP_PKEY_CTX_get_data(ctx)); }

int pkey_pkcs11_mac_init(EVP_PKEY_CTX *ctx)
{
    auto *data = static_cast<p11_mac_pkey_ctx *>(OPENSSL_zalloc(sizeof(p11_mac_pkey_ctx)));
    if (data == nullptr)
        return 0;
    EVP_PKEY_CTX_set_data(ctx, data);
    return 1;
}

void pkey_pkcs11_mac_cleanup(EVP_PKEY_CTX *ctx)
{
    OPENSSL_clear_free(mac_data(ctx), sizeof(p11_mac_pkey_ctx));
    EVP_PKEY_CTX_set_data(ctx, nullptr);
}

int pkey_pkcs11_mac_copy(EVP_PKEY_CTX *dst, const EVP_PKEY_CTX *src)
{
    const p11_mac_pkey_ctx *from = mac_data(const_cast<EVP_PKEY_CTX *>(src));
    if (from == nullptr || !pkey_pkcs11_mac_init(dst))
        return 0;
    *mac_data(dst) = *from;
    return 1;
}

int set_mac_key(p11_mac_pkey_ctx *data, const unsigned char *key)
{
    std::memcpy(data->key, key, kGostMacKeyLen);
    data->key_set = 1;
    return 1;
}

int pkey_pkcs11_mac_ctrl(EVP_PKEY_CTX *ctx, int type, int p1, void *p2)
{
    p11_mac_pkey_ctx *data = mac_data(ctx);
    if (data == nullptr)
        return 0;
    switch (type) {
    case EVP_PKEY_CTRL_MD: {
        const auto *md = static_cast<const EVP_MD *>(p2);
        int mac_nid = gost_nid(GostObj::gost_mac);
        if (md == nullptr || mac_nid == NID_undef || EVP_MD_get_type(md) != mac_nid) {
            std::fputs("pkey_pkcs11_mac_ctrl: EVP_PKEY_CTRL_MD invalid digest type\n", stderr);
            return 0;
        }
        data->md = md;
        return 1;
    }
    case EVP_PKEY_CTRL_SET_MAC_KEY:
        if (p1 != static_cast<int>(kGostMacKeyLen)) {
            std::fprintf(stderr, "pkey_pkcs11_mac_ctrl: wrong key length = %d\n", p1);
            return 0;
        }
        if (p2 == nullptr)
            return 0;
        return set_mac_key(data, static_cast<const unsigned char *>(p2));
    case EVP_PKEY_CTRL_DIGESTINIT: {
        const unsigned char *key = nullptr;
        if (data->key_set)
            key = data->key;
        else if (EVP_PKEY *pkey = EVP_PKEY_CTX_get0_pkey(ctx))
            key = static_cast<const unsigned char *>(EVP_PKEY_get0(pkey));
        if (key == nullptr) {
            std::fputs("pkey_pkcs11_mac_ctrl: EVP_PKEY_CTRL_DIGESTINIT MAC key not set\n", stderr);
            return 0;
        }
        return EVP_MD_CTX_ctrl(static_cast<EVP_MD_CTX *>(p2), EVP_MD_CTRL_GOST_SET_KEY,
                               static_cast<int>(kGostMacKeyLen), const_cast<unsigned char *>(key));
    }
    case EVP_PKEY_CTRL_PKCS7_ENCRYPT:
    case EVP_PKEY_CTRL_PKCS7_DECRYPT:
    case EVP_PKEY_CTRL_PKCS7_SIGN:
        return 1;
    default:
        return -2;
    }
}

int pkey_pkcs11_mac_ctrl_str(EVP_PKEY_CTX *ctx, const char *name, const char *value)
{
    if (name == nullptr)
        return -2;
    bool plain = std::strcmp(name, "key") == 0;
    if (!plain && std::strcmp(name, "hexkey") != 0)
        return -2;
    p11_mac_pkey_ctx *data = mac_data(ctx);
    if (data == nullptr || value == nullptr)
        return 0;
    if (plain) {
        std::size_t len = std::strlen(value);
        if (len != kGostMacKeyLen) {
            std::fprintf(stderr, "pkey_pkcs11_mac_ctrl_str: invalid key string length = %d\n", static_cast<int>(len));
            return 0;
        }
        return set_mac_key(data, reinterpret_cast<const unsigned char *>(value));
    }
    long len = 0;
    unsigned char *bytes = OPENSSL_hexstr2buf(value, &len);
    if (bytes == nullptr)
        return 0;
    int ok = 0;
    if (len != static_cast<long>(kGostMacKeyLen))
        std::fprintf(stderr, "pkey_pkcs11_mac_ctrl_str: invalid key string length = %d\n", static_cast<int>(len));
    else
        ok = set_mac_key(data, bytes);
    OPENSSL_clear_free(bytes, static_cast<std::size_t>(len));
    return ok;
}

int pkey_pkcs11_mac_keygen(EVP_PKEY_CTX *ctx, EVP_PKEY *pkey)
{
    p11_mac_pkey_ctx *data = mac_data(ctx);
    if (data == nullptr || pkey == nullptr)
        return 0;
    if (!data->key_set) {
        std::fputs("pkey_pkcs11_mac_keygen: key not set\n", stderr);
        return 0;
    }
    auto *key = static_cast<unsigned char *>(OPENSSL_malloc(kGostMacKeyLen));
    if (key == nullptr)
        return 0;
    std::memcpy(key, data->key, kGostMacKeyLen);
    if (!EVP_PKEY_assign(pkey, gost_nid(GostObj::gost_mac), key)) {
        OPENSSL_clear_free(key, kGostMacKeyLen);
        return 0;
    }
    return 1;
}

int mac_signctx_init(EVP_PKEY_CTX *, EVP_MD_CTX *) { return 1; }

// The MAC is what the MAC digest (keyed at its initialisation, through the
// digest-init control) finishes with; it is written only into a buffer that
// holds it.
int pkey_pkcs11_mac_signctx(EVP_PKEY_CTX *, unsigned char *sig, size_t *siglen, EVP_MD_CTX *mctx)
{
    if (siglen == nullptr)
        return 0;
    if (sig == nullptr) {
        *siglen = kGostMacLen;
        return 1;
    }
    int size = EVP_MD_CTX_get_size(mctx);
    if (size <= 0 || *siglen < static_cast<size_t>(size)) {
        std::fprintf(stderr, "pkey_pkcs11_mac_signctx: MAC buffer of %zu bytes, %d needed\n", *siglen, size);
        return 0;
    }
    unsigned int len = 0;
    int ok = EVP_DigestFinal_ex(mctx, sig, &len);
    *siglen = len;
    return ok;
}

void set_mac_slots(EVP_PKEY_METHOD *m)
{
    EVP_PKEY_meth_set_init(m, pkey_pkcs11_mac_init);
    EVP_PKEY_meth_set_copy(m, pkey_pkcs11_mac_copy);
    EVP_PKEY_meth_set_cleanup(m, pkey_pkcs11_mac_cleanup);
    EVP_PKEY_meth_set_keygen(m, nullptr, pkey_pkcs11_mac_keygen);
    EVP_PKEY_meth_set_signctx(m, mac_signctx_init, pkey_pkcs11_mac_signctx);
    EVP_PKEY_meth_set_ctrl(m, pkey_pkcs11_mac_ctrl, pkey_pkcs11_mac_ctrl_str);
}

}  // namespace

int register_pmeth_pkcs11(int nid, EVP_PKEY_METHOD **pmeth, int flags)
{
    if (pmeth == nullptr)
        return 0;
    *pmeth = nullptr;
    const GostSlots *gost = nullptr;
    for (const GostSlots &slots : kGostSlots)
        if (nid != NID_undef && gost_nid(slots.alg) == nid)
            gost = &slots;
    bool mac = nid != NID_undef && nid == gost_nid(GostObj::gost_mac);
    if (gost == nullptr && !mac) {
        std::fprintf(stderr, "register_pmeth_pkcs11: Unsupported NID %d", nid);
        return 0;
    }
    EVP_PKEY_METHOD *m = EVP_PKEY_meth_new(nid, flags);
    if (m == nullptr)
        return 0;
    if (gost != nullptr)
        set_gost_slots(m, *gost);
    else
        set_mac_slots(m);
    *pmeth = m;
    return 1;
}
