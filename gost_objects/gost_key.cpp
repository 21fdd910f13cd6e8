#include "gost_key.h"

#include <cstdio>
#include <cstring>

#include <openssl/crypto.h>

#include "gost_params.h"

p11_gost2012_key *p11_gost2012_key_new()
{
    return static_cast<p11_gost2012_key *>(OPENSSL_zalloc(sizeof(p11_gost2012_key)));
}

void p11_gost2012_key_free(p11_gost2012_key *key)
{
    OPENSSL_clear_free(key, sizeof(p11_gost2012_key));
}

int fill_GOST2012_params(p11_gost2012_key *key, int alg_nid, int param_nid)
{
    const GostKeyAlg *alg = gost_key_alg(alg_nid);
    if (alg == nullptr) {
        std::fprintf(stderr, "fill_GOST2012_params: unsupported alg NID\n");
        return 0;
    }
    if (gost_key_paramset(*alg, param_nid) == nullptr) {
        std::fprintf(stderr, "fill_GOST2012_params: unsupported parameter set\n");
        return 0;
    }
    if (key == nullptr)
        return 0;
    key->alg_nid = alg_nid;
    key->param_nid = param_nid;
    key->priv_key_len = alg->priv_key_len;
    key->pub_key_len = alg->pub_key_len;
    return 1;
}

bool gost_bytes_are_zero(const unsigned char *p, unsigned long n)
{
    unsigned char acc = 0;
    for (unsigned long i = 0; i < n; ++i)
        acc |= p[i];
    return acc == 0;
}

bool gost_pub_key_is_zero(const p11_gost2012_key &key)
{
    unsigned int n = key.pub_key_len <= kGostPubKeyMax ? key.pub_key_len : kGostPubKeyMax;
    return gost_bytes_are_zero(key.pub_key, n);
}

bool gost_key_id_is_zero(const p11_gost2012_key &key)
{
    return key.key_id_len == 0 && gost_bytes_are_zero(key.key_id, kGostKeyIdLen);
}

unsigned int gost_key_id_len(const p11_gost2012_key &key)
{
    return key.key_id_len != 0 && key.key_id_len <= kGostKeyIdMax ? key.key_id_len : kGostKeyIdLen;
}

bool gost_key_set_id(p11_gost2012_key &key, const unsigned char *id, unsigned long len)
{
    if (id == nullptr || len == 0 || len > kGostKeyIdMax)
        return false;
    std::memcpy(key.key_id, id, len);
    std::memset(key.key_id + len, 0, kGostKeyIdMax - len);
    key.key_id_len = static_cast<unsigned int>(len);
    return true;
}
