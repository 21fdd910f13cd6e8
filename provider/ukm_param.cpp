// The UKM parameter of key agreement and key transport.
#include <openssl/crypto.h>
#include <openssl/params.h>

#include "provider.h"

bool zk_read_ukm(const ProvCtx *prov, const OSSL_PARAM params[], std::vector<unsigned char> &ukm, bool *given)
{
    const OSSL_PARAM *p = OSSL_PARAM_locate_const(params, ZK_EXCHANGE_PARAM_UKM);
    *given = p != nullptr;
    if (p == nullptr)
        return true;
    const void *data = nullptr;
    std::size_t len = 0;
    if (!OSSL_PARAM_get_octet_string_ptr(p, &data, &len))
        return zk_raise(prov, ZK_R_BAD_PARAMETER, "UKM is no octet string");
    OPENSSL_cleanse(ukm.data(), ukm.size());
    const auto *bytes = static_cast<const unsigned char *>(data);
    ukm.assign(bytes, bytes + len);
    return true;
}
