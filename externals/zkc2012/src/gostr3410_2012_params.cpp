// The built-in curve tables and their lookup by DER-encoded OID.
#include <cstring>

#include "gostr3410_2012.h"

namespace {

const GOSTR3410_2012_256_PARAMS *const k256[] = {
    &gostr3410_2012_256_test,           &gostr3410_2012_256_cryptopro_a,
    &gostr3410_2012_256_cryptopro_b,    &gostr3410_2012_256_cryptopro_c,
    &gostr3410_2012_256_cryptopro_xcha, &gostr3410_2012_256_cryptopro_xchb, &gostr3410_2012_256_tc26_a,
};
// The records before the RFC 7836 ones: those of GetParSet and FindParByDerOid.
constexpr size_t kClassic256 = 6;

const GOSTR3410_2012_512_PARAMS *const k512[] = {
    &gostr3410_2012_512_test,
    &gostr3410_2012_512_a,
    &gostr3410_2012_512_b,
    &gostr3410_2012_512_tc26_c,
};
constexpr size_t kClassic512 = 3;

bool same_der(const uint8_t *der, uint32_t der_len, const uint8_t *record_der, uint32_t record_len)
{
    return der_len == record_len && record_der != nullptr && std::memcmp(der, record_der, der_len) == 0;
}

template <class Params, size_t Size> const Params *at(const Params *const (&table)[Size], size_t end, size_t index)
{
    return index < end && index < Size ? table[index] : nullptr;
}

template <class Params, size_t Size>
int find(const Params *const (&table)[Size], size_t end, const uint8_t *der, uint32_t der_len, const Params **params)
{
    if (params == nullptr)
        return -2;
    *params = nullptr;
    if (der == nullptr)
        return der_len == 0 ? -1 : -2;
    for (size_t i = 0; i < end; ++i) {
        if (same_der(der, der_len, table[i]->der, table[i]->der_len)) {
            *params = table[i];
            return 0;
        }
    }
    return -1;
}

}  // namespace

extern "C" const GOSTR3410_2012_256_PARAMS *GOSTR3410_2012_256_GetParSet(size_t index)
{
    return at(k256, kClassic256, index);
}

extern "C" const GOSTR3410_2012_512_PARAMS *GOSTR3410_2012_512_GetParSet(size_t index)
{
    return at(k512, kClassic512, index);
}

extern "C" const GOSTR3410_2012_256_PARAMS *GOSTR3410_2012_256_GetCurve(size_t index)
{
    return at(k256, sizeof k256 / sizeof k256[0], index);
}

extern "C" const GOSTR3410_2012_512_PARAMS *GOSTR3410_2012_512_GetCurve(size_t index)
{
    return at(k512, sizeof k512 / sizeof k512[0], index);
}

extern "C" int GOSTR3410_2012_256_FindCurveByDerOid(const uint8_t *der, uint32_t der_len,
                                                    const GOSTR3410_2012_256_PARAMS **params)
{
    if (GOSTR3410_2012_256_FindParByDerOid(der, der_len, params) == 0)
        return 0;
    return find(k256, sizeof k256 / sizeof k256[0], der, der_len, params);
}

extern "C" int GOSTR3410_2012_512_FindCurveByDerOid(const uint8_t *der, uint32_t der_len,
                                                    const GOSTR3410_2012_512_PARAMS **params)
{
    return find(k512, sizeof k512 / sizeof k512[0], der, der_len, params);
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
    for (size_t i = 0; i < kClassic256; ++i) {
        if (same_der(der, der_len, k256[i]->der_2001, k256[i]->der_len_2001)) {
            *params = k256[i];
            return 0;
        }
    }
    return find(k256, kClassic256, der, der_len, params);
}

extern "C" int GOSTR3410_2012_512_FindParByDerOid(const uint8_t *der, uint32_t der_len,
                                                  const GOSTR3410_2012_512_PARAMS **params)
{
    return find(k512, kClassic512, der, der_len, params);
}
