// The core's GOST R 34.11 hashes: one-shot for key agreement, streaming
// for the digest and hash-and-sign mechanisms.
#include <openssl/crypto.h>

#include <cstring>

#include "gost_r3411_94.h"
#include "hash_low/gost_r3411_2012.h"
#include "st_digest.h"
#include "st_gost_curves.h"
#include "st_mechanisms.h"

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

namespace softtoken {

struct GostDigest::State {
  CK_MECHANISM_TYPE mechanism = 0;
  union {
    GOSTR3411_94_CTX h94;
    GOSTR3411_2012_CTX h2012;
  };
};

void GostDigest::StateFree::operator()(State* s) const {
  OPENSSL_cleanse(s, sizeof *s);
  delete s;
}

GostDigest::GostDigest() = default;
GostDigest::~GostDigest() = default;
GostDigest::GostDigest(GostDigest&&) noexcept = default;
GostDigest& GostDigest::operator=(GostDigest&&) noexcept = default;

size_t GostDigest::size_of(CK_MECHANISM_TYPE m) {
  switch (m) {
    case CKM_GOSTR3411:
    case CKM_GOSTR3411_12_256:
      return 32;
    case CKM_GOSTR3411_12_512:
      return 64;
    default:
      return 0;
  }
}

bool GostDigest::init(CK_MECHANISM_TYPE m) {
  reset();
  if (!size_of(m)) return false;
  std::unique_ptr<State, StateFree> s(new State);
  s->mechanism = m;
  int rc = -1;
  if (m == CKM_GOSTR3411) {
    const GOSTR3411_94_PARAM* p = GOSTR3411_94_DefaultParam();
    rc = p ? GOSTR3411_94_Init_ex(&s->h94, p->table) : -1;
  } else {
    rc = m == CKM_GOSTR3411_12_256 ? GOSTR3411_2012_256_Init(&s->h2012) : GOSTR3411_2012_512_Init(&s->h2012);
  }
  if (rc != 0) return false;
  state_ = std::move(s);
  return true;
}

size_t GostDigest::size() const { return state_ ? size_of(state_->mechanism) : 0; }

bool GostDigest::update(const uint8_t* data, size_t len) {
  if (!state_) return false;
  // Nothing to add; the GOST R 34.11-94 core refuses an empty part.
  if (len == 0) return true;
  if (state_->mechanism == CKM_GOSTR3411) return GOSTR3411_94_Update(&state_->h94, data, len) == 0;
  return GOSTR3411_2012_Update(&state_->h2012, data, len) == 0;
}

bool GostDigest::final(uint8_t* out) {
  if (!state_) return false;
  int rc = state_->mechanism == CKM_GOSTR3411 ? GOSTR3411_94_Final(&state_->h94, out)
                                               : GOSTR3411_2012_Final(&state_->h2012, out);
  reset();
  return rc == 0;
}

void GostDigest::reset() { state_.reset(); }

}  // namespace softtoken
