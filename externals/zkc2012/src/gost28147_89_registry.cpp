// The registry of GOST 28147-89 parameter sets, looked up by DER-encoded OID.
#include "gost28147_89.h"

#include <cstring>

#include "zkc_diag.h"

namespace {

// DER of 1.2.643.2.2.31.n: 06 07 2A 85 03 02 02 1F n.
#define CRYPTOPRO_28147_DER(n) {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, n}
const uint8_t kDerTest[] = CRYPTOPRO_28147_DER(0);
const uint8_t kDerA[] = CRYPTOPRO_28147_DER(1);
const uint8_t kDerB[] = CRYPTOPRO_28147_DER(2);
const uint8_t kDerC[] = CRYPTOPRO_28147_DER(3);
const uint8_t kDerD[] = CRYPTOPRO_28147_DER(4);
const uint8_t kDerOscar11[] = CRYPTOPRO_28147_DER(5);
const uint8_t kDerOscar10[] = CRYPTOPRO_28147_DER(6);
const uint8_t kDerRic1[] = CRYPTOPRO_28147_DER(7);
const uint8_t kDerSimpleC[] = CRYPTOPRO_28147_DER(8);
const uint8_t kDerSimpleD[] = CRYPTOPRO_28147_DER(9);
#undef CRYPTOPRO_28147_DER
// 1.2.643.7.1.2.5.1.1
const uint8_t kDerZ[] = {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x05, 0x01, 0x01};

#define PARAM_SET(der, oid, name, table, mode, meshing) \
    {uint32_t(sizeof der), der, oid, name, &table, mode, meshing, {0, 0}, nullptr}

GOST28147_89_PARAM g_builtin[] = {
    PARAM_SET(kDerTest, "1.2.643.2.2.31.0", "id-Gost28147-89-TestParamSet",
              GOST28147_89_TABLE_TEST, GOST28147_89_MODE_CNT, 0),
    PARAM_SET(kDerA, "1.2.643.2.2.31.1", "id-Gost28147-89-CryptoPro-A-ParamSet",
              GOST28147_89_TABLE_CRYPTOPRO_A, GOST28147_89_MODE_CFB, 1),
    PARAM_SET(kDerB, "1.2.643.2.2.31.2", "id-Gost28147-89-CryptoPro-B-ParamSet",
              GOST28147_89_TABLE_CRYPTOPRO_B, GOST28147_89_MODE_CFB, 1),
    PARAM_SET(kDerC, "1.2.643.2.2.31.3", "id-Gost28147-89-CryptoPro-C-ParamSet",
              GOST28147_89_TABLE_CRYPTOPRO_C, GOST28147_89_MODE_CFB, 1),
    PARAM_SET(kDerD, "1.2.643.2.2.31.4", "id-Gost28147-89-CryptoPro-D-ParamSet",
              GOST28147_89_TABLE_CRYPTOPRO_D, GOST28147_89_MODE_CFB, 1),
    PARAM_SET(kDerOscar11, "1.2.643.2.2.31.5", "id-Gost28147-89-CryptoPro-Oscar-1-1-ParamSet",
              GOST28147_89_TABLE_TEST, GOST28147_89_MODE_CNT, 0),
    PARAM_SET(kDerOscar10, "1.2.643.2.2.31.6", "id-Gost28147-89-CryptoPro-Oscar-1-0-ParamSet",
              GOST28147_89_TABLE_CRYPTOPRO_A, GOST28147_89_MODE_CFB, 0),
    PARAM_SET(kDerRic1, "1.2.643.2.2.31.7", "id-Gost28147-89-CryptoPro-RIC-1-ParamSet",
              GOST28147_89_TABLE_CRYPTOPRO_B, GOST28147_89_MODE_CFB, 0),
    PARAM_SET(kDerSimpleC, "1.2.643.2.2.31.8", "id-Gost28147-89-CryptoPro-Simple-C-ParamSet",
              GOST28147_89_TABLE_CRYPTOPRO_C, GOST28147_89_MODE_CFB, 0),
    PARAM_SET(kDerSimpleD, "1.2.643.2.2.31.9", "id-Gost28147-89-CryptoPro-Simple-D-ParamSet",
              GOST28147_89_TABLE_CRYPTOPRO_D, GOST28147_89_MODE_CFB, 0),
    PARAM_SET(kDerZ, "1.2.643.7.1.2.5.1.1", "id-tc26-gost-28147-param-Z",
              GOST28147_89_TABLE_Z, GOST28147_89_MODE_CFB, 1),
};
#undef PARAM_SET

GOST28147_89_PARAM *g_registry = nullptr;

// Appends one record to the end of the list.
void append(GOST28147_89_PARAM *param)
{
    param->next = nullptr;
    GOST28147_89_PARAM **link = &g_registry;
    while (*link != nullptr)
        link = &(*link)->next;
    *link = param;
}

}  // namespace

extern "C" int GOST28147_89_RegisterCryptoProPar(void)
{
    // The built-in records are linked once; a second call must not link a
    // record behind itself.
    if (g_registry != nullptr)
        return 0;
    for (GOST28147_89_PARAM &param : g_builtin)
        append(&param);
    return 0;
}

extern "C" int GOST28147_89_FindParByDerOid(const uint8_t *der, uint32_t der_len,
                                            const GOST28147_89_PARAM **param)
{
    if (param != nullptr)
        *param = nullptr;
    if (g_registry == nullptr && (GOST28147_89_RegisterCryptoProPar() != 0 || g_registry == nullptr)) {
        zkc_diag_printf("GOST28147_89_RegisterCryptoProPar failed\n");
        return GOST28147_89_ERR_TABLE;
    }
    if (param == nullptr || (der == nullptr && der_len != 0))
        return GOST28147_89_ERR_PARAM;
    for (const GOST28147_89_PARAM *p = g_registry; p != nullptr; p = p->next) {
        if (p->der_len == der_len && std::memcmp(p->der, der, der_len) == 0) {
            *param = p;
            return 0;
        }
    }
    zkc_diag_printf("GOST28147_89_FindParByDerOid: unsupported OID\n");
    return GOST28147_89_ERR_TABLE;
}
