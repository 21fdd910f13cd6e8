#include "key_der.h"

#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>
#include <string>

#include "gost_key_params.h"
#include "gost_params.h"
#include "gost_private_value.h"
#include "ossl_ptr.h"
#include "secret_string.h"
#include "soft_gost.h"

// A SubjectPublicKeyInfo as plain ASN.1: OpenSSL's own X509_PUBKEY would
// decode the key inside through the decoders, this provider's among them.
struct ZK_SPKI {
    X509_ALGOR *algor;
    ASN1_BIT_STRING *public_key;
};

ASN1_SEQUENCE(ZK_SPKI) = {
    ASN1_SIMPLE(ZK_SPKI, algor, X509_ALGOR),
    ASN1_SIMPLE(ZK_SPKI, public_key, ASN1_BIT_STRING),
} static_ASN1_SEQUENCE_END(ZK_SPKI)

namespace {

void free_spki(ZK_SPKI *spki) { ASN1_item_free(reinterpret_cast<ASN1_VALUE *>(spki), ASN1_ITEM_rptr(ZK_SPKI)); }

using SpkiPtr = ossl::Ptr<ZK_SPKI, free_spki>;
using Pkcs8Ptr = ossl::Ptr<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>;
using PubkeyPtr = ossl::Ptr<X509_PUBKEY, X509_PUBKEY_free>;

// The algorithm's OID and the key's parameters, or false.
bool algorithm_of(const ProvKey &key, ASN1_OBJECT **obj, ASN1_STRING **params)
{
    const GostKeyAlg *alg = gost_key_alg(key.rec.alg_nid);
    *obj = alg != nullptr ? OBJ_nid2obj(key.rec.alg_nid) : nullptr;
    *params = *obj != nullptr ? gost_key_params_encode(key.rec.param_nid, gost_nid(alg->hash_params)) : nullptr;
    return *params != nullptr || zk_raise(key.prov, ZK_R_NO_KEY, "no parameter set");
}

// The DER of an OCTET STRING with len bytes (below 256), in memory OpenSSL
// frees; *der_len its length.
unsigned char *octet_string_der(const unsigned char *bytes, unsigned int len, int *der_len)
{
    const unsigned int header = len < 128 ? 2 : 3;
    auto *der = static_cast<unsigned char *>(OPENSSL_malloc(header + len));
    if (der != nullptr) {
        der[0] = V_ASN1_OCTET_STRING;
        der[1] = static_cast<unsigned char>(len < 128 ? len : 0x81);
        der[header - 1] = static_cast<unsigned char>(len);
        std::memcpy(der + header, bytes, len);
    }
    *der_len = static_cast<int>(header + len);
    return der;
}

template <class T, int (*I2d)(const T *, unsigned char **)>
bool to_der(const ProvCtx *prov, const T *value, std::vector<unsigned char> *der)
{
    unsigned char *out = nullptr;
    int len = I2d(value, &out);
    if (len <= 0)
        return zk_raise(prov, ZK_R_OUT_OF_MEMORY) != 0;
    der->assign(out, out + len);
    OPENSSL_clear_free(out, static_cast<std::size_t>(len));
    return true;
}

// The key of an algorithm identifier: alg_nid and a GOST parameter set of
// its table. not_ours for another algorithm.
DerRead key_of_algorithm(ProvCtx *prov, const ASN1_OBJECT *obj, const X509_ALGOR *palg, ProvKey **out)
{
    int alg_nid = OBJ_obj2nid(obj);
    if (gost_key_alg(alg_nid) == nullptr)
        return DerRead::not_ours;
    int ptype = V_ASN1_UNDEF;
    const void *pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, palg);
    int param_nid = ptype == V_ASN1_SEQUENCE ? gost_key_params_decode(static_cast<const ASN1_STRING *>(pval)) : NID_undef;
    ProvKey *key = zk_key_new(prov);
    if (key == nullptr) {
        zk_raise(prov, ZK_R_OUT_OF_MEMORY);
        return DerRead::refused;
    }
    if (!zk_key_set_type(*key, alg_nid, param_nid)) {
        zk_key_free(key);
        zk_raise(prov, ZK_R_UNKNOWN_CURVE, "in the key's algorithm parameters");
        return DerRead::refused;
    }
    *out = key;
    return DerRead::key;
}

DerRead refuse(ProvKey *key, const char *why)
{
    zk_raise(key->prov, ZK_R_BAD_ENCODING, "%s", why);
    zk_key_free(key);
    return DerRead::refused;
}

}  // namespace

bool zk_spki_der(const ProvKey &key, std::vector<unsigned char> *der)
{
    if (!key.has_public)
        return zk_raise(key.prov, ZK_R_NO_KEY, "no public value") != 0;
    ASN1_OBJECT *obj = nullptr;
    ASN1_STRING *params = nullptr;
    if (!algorithm_of(key, &obj, &params))
        return false;
    PubkeyPtr pub(X509_PUBKEY_new());
    int value_len = 0;
    unsigned char *value = octet_string_der(key.rec.pub_key, key.rec.pub_key_len, &value_len);
    if (!pub || value == nullptr || !X509_PUBKEY_set0_param(pub.get(), obj, V_ASN1_SEQUENCE, params, value, value_len)) {
        ASN1_STRING_free(params);
        OPENSSL_free(value);
        return zk_raise(key.prov, ZK_R_OUT_OF_MEMORY) != 0;
    }
    return to_der<X509_PUBKEY, i2d_X509_PUBKEY>(key.prov, pub.get(), der);
}

bool zk_pkcs8_der(const ProvKey &key, std::vector<unsigned char> *der)
{
    if (!key.rec.priv_key_loaded)
        return zk_raise(key.prov, ZK_R_NO_KEY, key.on_token() ? "the private value stays on the token" : "no private value") != 0;
    ASN1_OBJECT *obj = nullptr;
    ASN1_STRING *params = nullptr;
    if (!algorithm_of(key, &obj, &params))
        return false;
    Pkcs8Ptr p8(PKCS8_PRIV_KEY_INFO_new());
    int value_len = 0;
    unsigned char *value = octet_string_der(key.rec.priv_key, key.rec.priv_key_len, &value_len);
    if (!p8 || value == nullptr || !PKCS8_pkey_set0(p8.get(), obj, 0, V_ASN1_SEQUENCE, params, value, value_len)) {
        ASN1_STRING_free(params);
        OPENSSL_clear_free(value, static_cast<std::size_t>(value_len));
        return zk_raise(key.prov, ZK_R_OUT_OF_MEMORY) != 0;
    }
    return to_der<PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO>(key.prov, p8.get(), der);
}

DerRead zk_key_from_spki(ProvCtx *prov, const unsigned char *der, std::size_t len, ProvKey **out)
{
    const unsigned char *p = der;
    SpkiPtr spki(reinterpret_cast<ZK_SPKI *>(
        ASN1_item_d2i(nullptr, &p, static_cast<long>(len), ASN1_ITEM_rptr(ZK_SPKI))));
    if (!spki || p != der + len)
        return DerRead::not_ours;
    const ASN1_OBJECT *obj = nullptr;
    X509_ALGOR_get0(&obj, nullptr, nullptr, spki->algor);
    const X509_ALGOR *palg = spki->algor;
    const unsigned char *value = ASN1_STRING_get0_data(spki->public_key);
    int value_len = ASN1_STRING_length(spki->public_key);
    ProvKey *key = nullptr;
    DerRead read = key_of_algorithm(prov, obj, palg, &key);
    if (read != DerRead::key)
        return read;
    // One OCTET STRING filling the key bits, of the curve's length.
    const unsigned int n = key->rec.pub_key_len;
    const bool long_form = n >= 128;
    const int header = long_form ? 3 : 2;
    const bool whole_bytes = (spki->public_key->flags & ASN1_STRING_FLAG_BITS_LEFT) == 0 || (spki->public_key->flags & 0x07) == 0;
    if (!whole_bytes || value_len != static_cast<int>(header + n) || value[0] != V_ASN1_OCTET_STRING ||
        (long_form ? value[1] != 0x81 || value[2] != n : value[1] != n))
        return refuse(key, "public value is no OCTET STRING of the curve's length");
    if (!zk_soft_check_public(prov, key->rec, value + header, n))
        return refuse(key, "public value is no point of the curve");
    std::memcpy(key->rec.pub_key, value + header, n);
    key->has_public = true;
    *out = key;
    return DerRead::key;
}

DerRead zk_key_from_pkcs8(ProvCtx *prov, const unsigned char *der, std::size_t len, ProvKey **out)
{
    const unsigned char *p = der;
    Pkcs8Ptr p8(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(len)));
    const ASN1_OBJECT *obj = nullptr;
    const unsigned char *priv = nullptr;
    int priv_len = 0;
    const X509_ALGOR *palg = nullptr;
    if (!p8 || p != der + len || !PKCS8_pkey_get0(&obj, &priv, &priv_len, &palg, p8.get()))
        return DerRead::not_ours;
    ProvKey *key = nullptr;
    DerRead read = key_of_algorithm(prov, obj, palg, &key);
    if (read != DerRead::key)
        return read;
    std::string why;
    if (!gost_private_value_from_der(priv, priv_len, key->rec.priv_key_len, key->rec.priv_key, &why)) {
        if (!why.empty() && why.back() == '\n')
            why.pop_back();
        return refuse(key, why.c_str());
    }
    key->rec.priv_key_loaded = 1;
    if (!zk_soft_public(prov, key->rec)) {
        zk_key_free(key);
        return DerRead::refused;
    }
    key->has_public = true;
    *out = key;
    return DerRead::key;
}
