// The core's GOST R 34.11 hashes, as key agreement needs them.
#include <openssl/crypto.h>

#include <cstring>

#include "gost_r3411_94.h"
#include "hash_low/gost_r3411_2012.h"
#include "st_gost_curves.h"

namespace softtoken {

bool is_gostr3411_94_cryptopro(const uint8_t* der, size_t len) {
  const GOSTR3411_94_PARAM* p = GOSTR3411_94_DefaultParam();
  return der && p && len == p->der_len && std::memcmp(der, p->der, len) == 0;
}

bool hash_gostr3411_94_cryptopro(const uint8_t* data, size_t len, uint8_t out[32]) {
  const GOSTR3411_94_PARAM* p = GOSTR3411_94_DefaultParam();
  GOSTR3411_94_CTX ctx;
  bool ok = p && GOSTR3411_94_Init_ex(&ctx, p->table) == 0 && GOSTR3411_94_Update(&ctx, data, len) == 0 &&
            GOSTR3411_94_Final(&ctx, out) == 0;
  OPENSSL_cleanse(&ctx, sizeof ctx);
  return ok;
}

bool hash_gostr3411_2012_256(const uint8_t* data, size_t len, uint8_t out[32]) {
  GOSTR3411_2012_CTX ctx;
  bool ok = GOSTR3411_2012_256_Init(&ctx) == 0 && GOSTR3411_2012_256_Update(&ctx, data, len) == 0 &&
            GOSTR3411_2012_256_Final(&ctx, out) == 0;
  OPENSSL_cleanse(&ctx, sizeof ctx);
  return ok;
}

}  // namespace softtoken
