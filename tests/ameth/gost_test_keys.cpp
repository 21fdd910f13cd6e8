#define OPENSSL_SUPPRESS_DEPRECATED
#include "gost_test_keys.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/ec.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstring>

#include "gost_key.h"
#include "gost_key_params.h"
#include "gost_objects.h"
#include "gost_params.h"
#include "pkcs11_ameth.h"

namespace {

std::string printed(const EVP_PKEY *k, int indent, int (*print)(BIO *, const EVP_PKEY *, int, ASN1_PCTX *))
{
    BIO *bio = BIO_new(BIO_s_mem());
    int ok = print(bio, k, indent, nullptr);
    BUF_MEM *mem = nullptr;
    BIO_get_mem_ptr(bio, &mem);
    std::string text(mem->data, mem->length);
    BIO_free(bio);
    return ok == 1 ? text : "<failed>" + text;
}

// The issuer's key: any signature will do for these certificates.
EVP_PKEY *issuer_key()
{
    static EVP_PKEY *k = EVP_EC_gen("P-256");
    return k;
}

}  // namespace

PkeyPtr gost_key_from_values(int alg_nid, int param_nid, const std::vector<unsigned char> &pub)
{
    p11_gost2012_key *rec = p11_gost2012_key_new();
    fill_GOST2012_params(rec, alg_nid, param_nid);
    if (!pub.empty()) {
        std::memcpy(rec->pub_key, pub.data(), pub.size() < 128 ? pub.size() : 128);
        pkcs11_id_gen(rec->pub_key, rec->pub_key_len, rec->key_id);
    }
    PkeyPtr k(EVP_PKEY_new());
    if (!EVP_PKEY_assign(k.get(), alg_nid, rec)) {
        p11_gost2012_key_free(rec);
        return nullptr;
    }
    return k;
}

std::vector<unsigned char> certificate_der(EVP_PKEY *key)
{
    X509Ptr x(X509_new());
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), 42);
    X509_NAME *name = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("GOST key"), -1, -1, 0);
    X509_set_issuer_name(x.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 3600);
    if (X509_set_pubkey(x.get(), key) != 1 || X509_sign(x.get(), issuer_key(), EVP_sha256()) <= 0)
        return {};
    unsigned char *der = nullptr;
    int len = i2d_X509(x.get(), &der);
    std::vector<unsigned char> out(der, der + (len > 0 ? len : 0));
    OPENSSL_free(der);
    return out;
}

X509Ptr parse_certificate(const std::vector<unsigned char> &der)
{
    const unsigned char *p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

std::string printed_certificate(X509 *x)
{
    BIO *bio = BIO_new(BIO_s_mem());
    X509_print(bio, x);
    BUF_MEM *mem = nullptr;
    BIO_get_mem_ptr(bio, &mem);
    std::string text(mem->data, mem->length);
    BIO_free(bio);
    return text;
}

std::vector<unsigned char> hex(const std::string &s)
{
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < s.size();) {
        if (s[i] == ' ' || s[i] == '\n') {
            ++i;
            continue;
        }
        out.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

std::vector<unsigned char> pattern_bytes(std::size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>((i * 37 + seed * 101 + 1) & 0xFF);
    return v;
}

std::vector<unsigned char> sha1(const std::vector<unsigned char> &data)
{
    std::vector<unsigned char> out(SHA_DIGEST_LENGTH);
    EVP_Digest(data.data(), data.size(), out.data(), nullptr, EVP_sha1(), nullptr);
    return out;
}

std::vector<unsigned char> concat(std::vector<unsigned char> a, const std::vector<unsigned char> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string print_public(const EVP_PKEY *k, int indent) { return printed(k, indent, EVP_PKEY_print_public); }
std::string print_private(const EVP_PKEY *k, int indent) { return printed(k, indent, EVP_PKEY_print_private); }
std::string print_params(const EVP_PKEY *k, int indent) { return printed(k, indent, EVP_PKEY_print_params); }

std::vector<unsigned char> octet_string_element(const std::vector<unsigned char> &priv_le)
{
    std::vector<unsigned char> out = {0x04, static_cast<unsigned char>(priv_le.size())};
    return concat(out, priv_le);
}

std::vector<unsigned char> integer_element(const std::vector<unsigned char> &priv_le)
{
    std::vector<unsigned char> be(priv_le.rbegin(), priv_le.rend());
    while (be.size() > 1 && be[0] == 0 && be[1] < 0x80)
        be.erase(be.begin());
    if (!be.empty() && be[0] >= 0x80)
        be.insert(be.begin(), 0x00);
    std::vector<unsigned char> out = {0x02, static_cast<unsigned char>(be.size())};
    return concat(out, be);
}

std::vector<unsigned char> gost_pkcs8_der(int alg_nid, int param_nid, const std::vector<unsigned char> &element)
{
    const GostKeyAlg *alg = gost_key_alg(alg_nid);
    ZKC_GOST2012_KEY_PARAMS *params = ZKC_GOST2012_KEY_PARAMS_new();
    params->key_params = OBJ_nid2obj(param_nid);
    params->hash_params = alg != nullptr ? OBJ_nid2obj(gost_nid(alg->hash_params)) : nullptr;
    unsigned char *params_der = nullptr;
    int params_len = i2d_ZKC_GOST2012_KEY_PARAMS(params, &params_der);
    ZKC_GOST2012_KEY_PARAMS_free(params);
    ASN1_STRING *seq = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_STRING_set0(seq, params_der, params_len > 0 ? params_len : 0);

    PKCS8_PRIV_KEY_INFO *p8 = PKCS8_PRIV_KEY_INFO_new();
    unsigned char *value = static_cast<unsigned char *>(OPENSSL_malloc(element.size() + 1));
    if (!element.empty())
        std::memcpy(value, element.data(), element.size());
    std::vector<unsigned char> out;
    if (PKCS8_pkey_set0(p8, OBJ_nid2obj(alg_nid), 0, V_ASN1_SEQUENCE, seq, value, static_cast<int>(element.size()))) {
        unsigned char *der = nullptr;
        int len = i2d_PKCS8_PRIV_KEY_INFO(p8, &der);
        out.assign(der, der + (len > 0 ? len : 0));
        OPENSSL_free(der);
    } else {
        ASN1_STRING_free(seq);
        OPENSSL_free(value);
    }
    PKCS8_PRIV_KEY_INFO_free(p8);
    return out;
}

PkeyPtr key_from_pkcs8(const std::vector<unsigned char> &der)
{
    const unsigned char *p = der.data();
    PKCS8_PRIV_KEY_INFO *p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
    if (p8 == nullptr)
        return nullptr;
    PkeyPtr key(EVP_PKCS82PKEY(p8));
    PKCS8_PRIV_KEY_INFO_free(p8);
    return key;
}

std::vector<unsigned char> pkcs8_of(const EVP_PKEY *key)
{
    PKCS8_PRIV_KEY_INFO *p8 = EVP_PKEY2PKCS8(key);
    if (p8 == nullptr)
        return {};
    unsigned char *der = nullptr;
    int len = i2d_PKCS8_PRIV_KEY_INFO(p8, &der);
    std::vector<unsigned char> out(der, der + (len > 0 ? len : 0));
    OPENSSL_free(der);
    PKCS8_PRIV_KEY_INFO_free(p8);
    return out;
}

PkeyPtr gost_key_pair(int alg_nid, int param_nid, const std::vector<unsigned char> &priv_le)
{
    return key_from_pkcs8(gost_pkcs8_der(alg_nid, param_nid, octet_string_element(priv_le)));
}

std::vector<unsigned char> random_private_value(int alg_nid)
{
    const GostKeyAlg *alg = gost_key_alg(alg_nid);
    std::vector<unsigned char> v(alg != nullptr ? alg->priv_key_len : 32);
    RAND_bytes(v.data(), static_cast<int>(v.size()));
    // Below 2^(bits-2): under the order of every curve of the size (the
    // smallest, the 512-bit test curve's, is above 2^510), and never zero.
    v.back() &= 0x3F;
    v.front() |= 1;
    return v;
}

PkeyPtr generate_gost_key_pair(int alg_nid, int param_nid)
{
    std::vector<unsigned char> priv = random_private_value(alg_nid);
    PkeyPtr key = gost_key_pair(alg_nid, param_nid, priv);
    OPENSSL_cleanse(priv.data(), priv.size());
    return key;
}

std::vector<unsigned char> pkcs12_der(EVP_PKEY *key, X509 *cert, const char *password, const char *name)
{
    PKCS12 *p12 = PKCS12_create(password, name, key, cert, nullptr, NID_aes_256_cbc, NID_aes_256_cbc, 2048, -1, 0);
    if (p12 == nullptr)
        return {};
    std::vector<unsigned char> out;
    if (PKCS12_set_mac(p12, password, -1, nullptr, 0, 2048, EVP_sha256()) == 1) {
        unsigned char *der = nullptr;
        int len = i2d_PKCS12(p12, &der);
        out.assign(der, der + (len > 0 ? len : 0));
        OPENSSL_free(der);
    }
    PKCS12_free(p12);
    return out;
}

std::vector<unsigned char> gost_pkcs12_der(EVP_PKEY *key, X509 *cert, const char *password, const char *name,
                                           int prf_nid, const EVP_MD *mac_md, int iterations)
{
    const EVP_CIPHER *gost89 = EVP_get_cipherbyname("gost89");
    if (gost89 == nullptr || mac_md == nullptr)
        return {};
    unsigned char key_id[SHA_DIGEST_LENGTH];
    unsigned int id_len = 0;
    X509_digest(cert, EVP_sha1(), key_id, &id_len);
    std::vector<unsigned char> out;
    PKCS8_PRIV_KEY_INFO *p8 = EVP_PKEY2PKCS8(key);
    X509_ALGOR *pbe = PKCS5_pbe2_set_iv(gost89, iterations, nullptr, 0, nullptr, prf_nid);
    X509_SIG *shrouded = (p8 && pbe) ? PKCS8_set0_pbe(password, -1, p8, pbe) : nullptr;
    PKCS8_PRIV_KEY_INFO_free(p8);
    if (shrouded == nullptr) {
        X509_ALGOR_free(pbe);
        return {};
    }
    PKCS12_SAFEBAG *key_bag = PKCS12_SAFEBAG_create0_pkcs8(shrouded);
    PKCS12_SAFEBAG *cert_bag = PKCS12_SAFEBAG_create_cert(cert);
    STACK_OF(PKCS12_SAFEBAG) *key_bags = sk_PKCS12_SAFEBAG_new_null();
    STACK_OF(PKCS12_SAFEBAG) *cert_bags = sk_PKCS12_SAFEBAG_new_null();
    STACK_OF(PKCS7) *safes = sk_PKCS7_new_null();
    PKCS12 *p12 = nullptr;
    bool ok = key_bag && cert_bag && key_bags && cert_bags && safes &&
              PKCS12_add_friendlyname(key_bag, name, -1) && PKCS12_add_localkeyid(key_bag, key_id, int(id_len)) &&
              PKCS12_add_friendlyname(cert_bag, name, -1) && PKCS12_add_localkeyid(cert_bag, key_id, int(id_len)) &&
              sk_PKCS12_SAFEBAG_push(key_bags, key_bag);
    if (ok)
        key_bag = nullptr;
    ok = ok && sk_PKCS12_SAFEBAG_push(cert_bags, cert_bag);
    if (ok)
        cert_bag = nullptr;
    if (ok) {
        // The certificate bag is encrypted under the same PBES2 scheme.
        X509_ALGOR *cert_pbe = PKCS5_pbe2_set_iv(gost89, iterations, nullptr, 0, nullptr, prf_nid);
        PKCS7 *cert_safe = PKCS7_new();
        ok = cert_pbe && cert_safe && PKCS7_set_type(cert_safe, NID_pkcs7_encrypted) &&
             ASN1_INTEGER_set(cert_safe->d.encrypted->version, 0);
        if (ok) {
            X509_ALGOR_free(cert_safe->d.encrypted->enc_data->algorithm);
            cert_safe->d.encrypted->enc_data->algorithm = cert_pbe;
            cert_pbe = nullptr;
            ASN1_OCTET_STRING_free(cert_safe->d.encrypted->enc_data->enc_data);
            cert_safe->d.encrypted->enc_data->enc_data = PKCS12_item_i2d_encrypt(
                cert_safe->d.encrypted->enc_data->algorithm, ASN1_ITEM_rptr(PKCS12_SAFEBAGS), password, -1,
                cert_bags, 1);
            ok = cert_safe->d.encrypted->enc_data->enc_data != nullptr;
        }
        X509_ALGOR_free(cert_pbe);
        PKCS7 *key_safe = ok ? PKCS12_pack_p7data(key_bags) : nullptr;
        ok = ok && key_safe && sk_PKCS7_push(safes, cert_safe) && sk_PKCS7_push(safes, key_safe);
        if (!ok) {
            PKCS7_free(cert_safe);
            PKCS7_free(key_safe);
        }
    }
    if (ok) {
        p12 = PKCS12_init(NID_pkcs7_data);
        ok = p12 && PKCS12_pack_authsafes(p12, safes) &&
             PKCS12_set_mac(p12, password, -1, nullptr, 0, iterations, mac_md) == 1;
    }
    if (ok) {
        unsigned char *der = nullptr;
        int len = i2d_PKCS12(p12, &der);
        out.assign(der, der + (len > 0 ? len : 0));
        OPENSSL_free(der);
    }
    PKCS12_free(p12);
    sk_PKCS7_pop_free(safes, PKCS7_free);
    sk_PKCS12_SAFEBAG_pop_free(key_bags, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(cert_bags, PKCS12_SAFEBAG_free);
    PKCS12_SAFEBAG_free(key_bag);
    PKCS12_SAFEBAG_free(cert_bag);
    return out;
}
