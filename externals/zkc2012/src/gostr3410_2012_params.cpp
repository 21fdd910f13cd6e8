// The built-in curve tables and their lookup by DER-encoded OID.
#include <cstring>

#include "gostr3410_2012.h"

namespace {

const GOSTR3410_2012_256_PARAMS *const k256[] = {
    &gostr3410_2012_256_test,           &gostr3410_2012_256_cryptopro_a,
    &gostr3410_2012_256_cryptopro_b,    &gostr3410_2012_256_cryptopro_c,
    &gostr3410_2012_256_cryptopro_xcha, &gostr3410_2012_256_cryptopro_xchb,
};

const GOSTR3410_2012_512_PARAMS *const k512[] = {
    &gostr3410_2012_512_test,
    &gostr3410_2012_512_a,
    &gostr3410_2012_512_b,
};

bool same_der(const uint8_t *der, uint32_t der_len, const uint8_t *record_der, uint32_t record_len)
{
    return der_len == record_len && record_der != nullptr && std::memcmp(der, record_der, der_len) == 0;
}

}  // namespace

extern "C" const GOSTR3410_2012_256_PARAMS *GOSTR3410_2012_256_GetParSet(size_t index)
{
    return index < sizeof k256 / sizeof k256[0] ? k256[index] : nullptr;
}

extern "C" const GOSTR3410_2012_512_PARAMS *GOSTR3410_2012_512_GetParSet(size_t index)
{
    return index < sizeof k512 / sizeof k512[0] ? k512[index] : nullptr;
}

extern "C" int GOSTR3410_2012_256_FindParByDerOid(const uint8_t *der, uint32_t der_len,
                                                  const GOSTR3410_2012_256_PARAMS **params)
{
    if (params == nullptr)
        return -2;
    *params = nullptr;
    if (der == nullptr)
        return der_len == 0 ? -1 : -2;
    // The GOST R 34.10-2001 identifiers of every record first, then the 2012 ones.
    for (const GOSTR3410_2012_256_PARAMS *rec : k256) {
        if (same_der(der, der_len, rec->der_2001, rec->der_len_2001)) {
            *params = rec;
            return 0;
        }
    }
    for (const GOSTR3410_2012_256_PARAMS *rec : k256) {
        if (same_der(der, der_len, rec->der, rec->der_len)) {
            *params = rec;
            return 0;
        }
    }
    return -1;
}

extern "C" int GOSTR3410_2012_512_FindParByDerOid(const uint8_t *der, uint32_t der_len,
                                                  const GOSTR3410_2012_512_PARAMS **params)
{
    if (params == nullptr)
        return -2;
    *params = nullptr;
    if (der == nullptr)
        return der_len == 0 ? -1 : -2;
    for (const GOSTR3410_2012_512_PARAMS *rec : k512) {
        if (same_der(der, der_len, rec->der, rec->der_len)) {
            *params = rec;
            return 0;
        }
    }
    return -1;
}
