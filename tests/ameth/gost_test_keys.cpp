#define OPENSSL_SUPPRESS_DEPRECATED
#include "gost_test_keys.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/ec.h>
#include <openssl/sha.h>

#include <cstring>

#include "gost_key.h"
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
