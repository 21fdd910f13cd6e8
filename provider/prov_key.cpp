#include "prov_key.h"

#include <openssl/crypto.h>
#include <openssl/obj_mac.h>

#include <new>

#include "gost_params.h"

ProvKey *zk_key_new(ProvCtx *prov)
{
    auto *key = new (std::nothrow) ProvKey;
    if (key != nullptr)
        key->prov = prov;
    return key;
}

void zk_key_free(ProvKey *key)
{
    if (key == nullptr)
        return;
    OPENSSL_cleanse(&key->rec, sizeof key->rec);
    delete key;
}

bool zk_key_set_type(ProvKey &key, int alg_nid, int param_nid)
{
    const GostKeyAlg *alg = gost_key_alg(alg_nid);
    if (alg == nullptr || gost_key_paramset(*alg, param_nid) == nullptr)
        return false;
    key.rec.alg_nid = alg_nid;
    key.rec.param_nid = param_nid;
    key.rec.pub_key_len = alg->pub_key_len;
    key.rec.priv_key_len = alg->priv_key_len;
    return true;
}
