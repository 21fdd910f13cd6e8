// Token keys before the token layer is attached: no reference is ours and
// nothing is done on a token.
#include "token_keys.h"

ProvKey *zk_token_key_load(ProvCtx *prov, const void *, std::size_t)
{
    zk_raise(prov, ZK_R_BAD_PARAMETER, "no token key behind this reference");
    return nullptr;
}

bool zk_token_sign(const ProvKey &key, const unsigned char *, std::size_t, unsigned char *, std::size_t *)
{
    return zk_raise(key.prov, ZK_R_BAD_PARAMETER, "token keys are not available") != 0;
}

bool zk_token_derive(const ProvKey &key, const unsigned char *, std::size_t, const unsigned char *, std::size_t,
                     unsigned char *, std::size_t *)
{
    return zk_raise(key.prov, ZK_R_BAD_PARAMETER, "token keys are not available") != 0;
}
