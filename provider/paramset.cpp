// The GOST 28147-89 parameter set parameter of the ciphers and the MAC.
#include <openssl/params.h>

#include "gost89_params.h"
#include "gost_objects.h"
#include "provider.h"

const GOST28147_89_PARAM *zk_default_paramset()
{
    static const GOST28147_89_PARAM *set = gost89_paramset_of_nid(gost_nid(GostObj::gost28147_param_z));
    return set;
}

bool zk_read_paramset(const ProvCtx *prov, const OSSL_PARAM params[], const GOST28147_89_PARAM **set)
{
    const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, ZK_PARAM_PARAMSET);
    if (p == nullptr)
        return true;
    const char *name = nullptr;
    if (!OSSL_PARAM_get_utf8_string_ptr(p, &name))
        return zk_raise(prov, ZK_R_BAD_PARAMETER, ZK_PARAM_PARAMSET);
    const GOST28147_89_PARAM *found = gost89_paramset_by_name(name);
    if (found == nullptr)
        return zk_raise(prov, ZK_R_UNKNOWN_PARAMSET, "%s", name);
    *set = found;
    return true;
}

bool zk_write_paramset(const OSSL_PARAM params[], const GOST28147_89_PARAM *set)
{
    OSSL_PARAM *p = OSSL_PARAM_locate(const_cast<OSSL_PARAM *>(params), ZK_PARAM_PARAMSET);
    return p == nullptr || OSSL_PARAM_set_utf8_string(p, set->oid);
}
