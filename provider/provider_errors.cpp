#include <cstdarg>

#include "provider.h"

const OSSL_ITEM *zk_reason_strings()
{
    static const OSSL_ITEM kReasons[] = {
        {ZK_R_WRONG_KEY_LENGTH, const_cast<char *>("wrong key length")},
        {ZK_R_WRONG_IV_LENGTH, const_cast<char *>("wrong IV length")},
        {ZK_R_UNKNOWN_PARAMSET, const_cast<char *>("unknown GOST 28147-89 parameter set")},
        {ZK_R_MALFORMED_ALGORITHM_PARAMS, const_cast<char *>("malformed algorithm parameters")},
        {ZK_R_NO_KEY, const_cast<char *>("no key set")},
        {ZK_R_CORE_FAILURE, const_cast<char *>("GOST core failure")},
        {ZK_R_OUTPUT_TOO_SMALL, const_cast<char *>("output buffer too small")},
        {ZK_R_BAD_PARAMETER, const_cast<char *>("invalid parameter value")},
        {ZK_R_RANDOM_FAILED, const_cast<char *>("random generator failed")},
        {ZK_R_OUT_OF_MEMORY, const_cast<char *>("out of memory")},
        {ZK_R_BAD_KEY, const_cast<char *>("invalid GOST R 34.10 key")},
        {ZK_R_BAD_ENCODING, const_cast<char *>("malformed key encoding")},
        {ZK_R_WRONG_DIGEST, const_cast<char *>("digest does not fit the key")},
        {ZK_R_UNKNOWN_CURVE, const_cast<char *>("unknown GOST R 34.10 parameter set")},
        {ZK_R_PKCS11_URI, const_cast<char *>("unusable PKCS#11 URI")},
        {ZK_R_TOKEN_FAILURE, const_cast<char *>("token operation failed")},
        {ZK_R_NOT_FOUND, const_cast<char *>("no such object on the token")},
        {ZK_R_LOGIN, const_cast<char *>("token login refused")},
        {ZK_R_WRONG_MAC, const_cast<char *>("key transport MAC mismatch")},
        {0, nullptr},
    };
    return kReasons;
}

int zk_raise(const ProvCtx *prov, ProvReason reason, const char *detail, ...)
{
    if (prov == nullptr || prov->new_error == nullptr || prov->vset_error == nullptr)
        return 0;
    prov->new_error(prov->handle);
    if (prov->set_error_debug)
        prov->set_error_debug(prov->handle, nullptr, 0, nullptr);
    va_list args;
    va_start(args, detail);
    prov->vset_error(prov->handle, static_cast<uint32_t>(reason), detail, args);
    va_end(args);
    return 0;
}
