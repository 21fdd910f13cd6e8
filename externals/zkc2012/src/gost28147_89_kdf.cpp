// CryptoPro key-encryption-key diversification (RFC 4357, section 6.5).
#include "gost28147_89.h"

#include <cstring>

#include "gost28147_89_core.h"
#include "zkc_diag.h"

using namespace zkc::g89;

extern "C" int GOST28147_89_KDF(const GOST28147_89_EXP_TABLE *table, const uint8_t *kek,
                                const uint8_t *ukm, uint8_t *out)
{
    if (table == nullptr || kek == nullptr || ukm == nullptr || out == nullptr)
        return GOST28147_89_ERR_PARAM;

    // The CFB steps run on a context that holds the given table only.
    static_assert(sizeof(GOST28147_89_CTX) < 8192, "context fits the stack");
    GOST28147_89_CTX ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.table = *table;

    uint8_t k[32];
    uint8_t iv[8];
    std::memmove(k, kek, 32);
    int rc = 0;
    for (int i = 0; i < 8 && rc == 0; ++i) {
        const unsigned u = ukm[i];
        uint32_t s1 = 0, s2 = 0;
        for (int j = 0; j < 8; ++j) {
            const uint32_t w = load_le32(k + 4 * j);
            if ((u >> j) & 1u)
                s1 += w;
            else
                s2 += w;
        }
        store_le32(iv, s1);
        store_le32(iv + 4, s2);
        GOST_DATA_BLOB in = {32, k};
        GOST_DATA_BLOB res = {32, k};
        rc = ZKC_Gost_GFB_m(&ctx, &in, &res, iv, k, 1,
                            GOST28147_89_FLAG_FIRST_BLOCK | GOST28147_89_FLAG_LAST_BLOCK);
        if (rc != 0)
            zkc_diag_printf("ZKC_Gost_GFB_m failed, rc = 0x%x\n", unsigned(rc));
    }
    if (rc == 0)
        std::memcpy(out, k, 32);
    wipe(k, sizeof k);
    wipe(iv, sizeof iv);
    wipe(&ctx, sizeof ctx);
    return rc;
}
