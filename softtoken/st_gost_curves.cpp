#include "st_gost_curves.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "gostr3410_2012.h"

namespace softtoken {

namespace {

BIGNUM* number(const DIGIT_T* digits, size_t count) {
  std::vector<uint8_t> le(count * 4);
  for (size_t i = 0; i < count; ++i)
    for (int b = 0; b < 4; ++b) le[4 * i + b] = static_cast<uint8_t>(digits[i] >> (8 * b));
  return BN_lebin2bn(le.data(), static_cast<int>(le.size()), nullptr);
}

template <class Params>
bool build(const Params& rec, size_t digits, size_t n, const uint8_t* der, uint32_t der_len, GostCurve& out) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *p = number(rec.p, digits), *a = number(rec.a, digits), *b = number(rec.b, digits);
  BIGNUM *x = number(rec.x, digits), *y = number(rec.y, digits), *q = number(rec.q, digits);
  BIGNUM* one = BN_new();
  bool ok = ctx && p && a && b && x && y && q && one && BN_one(one);
  EC_GROUP* g = ok ? EC_GROUP_new_curve_GFp(p, a, b, ctx) : nullptr;
  EC_POINT* gen = g ? EC_POINT_new(g) : nullptr;
  ok = gen && EC_POINT_set_affine_coordinates(g, gen, x, y, ctx) == 1 &&
       // Every built-in curve has cofactor 1.
       EC_GROUP_set_generator(g, gen, q, one) == 1;
  BN_MONT_CTX* mont = ok ? BN_MONT_CTX_new() : nullptr;
  BIGNUM* q2 = ok ? BN_dup(q) : nullptr;
  ok = mont && q2 && BN_MONT_CTX_set(mont, q, ctx) == 1 && BN_sub_word(q2, 2) == 1;
  EC_POINT_free(gen);
  BN_free(a);
  BN_free(b);
  BN_free(x);
  BN_free(y);
  BN_free(one);
  BN_CTX_free(ctx);
  if (!ok) {
    BN_MONT_CTX_free(mont);
    BN_free(q2);
    EC_GROUP_free(g);
    BN_free(p);
    BN_free(q);
    return false;
  }
  out.n = n;
  out.oid_der.assign(der, der + der_len);
  out.group = g;
  out.order = q;
  out.prime = p;
  out.order_mont = mont;
  out.order_minus_2 = q2;
  return true;
}

struct CurveCache {
  std::once_flag once;
  std::vector<GostCurve> curves;  // built once, kept for the life of the process
};

CurveCache& cache() {
  static CurveCache* c = new CurveCache;
  std::call_once(c->once, [] {
    for (size_t i = 0; const GOSTR3410_2012_256_PARAMS* r = GOSTR3410_2012_256_GetParSet(i); ++i) {
      GostCurve g;
      if (build(*r, GOSTR3410_2012_256_DIGITS, 32, r->der, r->der_len, g)) c->curves.push_back(g);
    }
    for (size_t i = 0; const GOSTR3410_2012_512_PARAMS* r = GOSTR3410_2012_512_GetParSet(i); ++i) {
      GostCurve g;
      if (build(*r, GOSTR3410_2012_512_DIGITS, 64, r->der, r->der_len, g)) c->curves.push_back(g);
    }
  });
  return *c;
}

}  // namespace

const GostCurve* find_gost_curve(const uint8_t* der, size_t len) {
  if (!der) return nullptr;
  // The core decides which OIDs name which curve.
  const uint8_t* key = nullptr;
  uint32_t key_len = 0;
  const GOSTR3410_2012_256_PARAMS* r256 = nullptr;
  const GOSTR3410_2012_512_PARAMS* r512 = nullptr;
  if (GOSTR3410_2012_256_FindParByDerOid(der, static_cast<uint32_t>(len), &r256) == 0 && r256) {
    key = r256->der;
    key_len = r256->der_len;
  } else if (GOSTR3410_2012_512_FindParByDerOid(der, static_cast<uint32_t>(len), &r512) == 0 && r512) {
    key = r512->der;
    key_len = r512->der_len;
  } else {
    return nullptr;
  }
  for (const GostCurve& c : cache().curves)
    if (c.oid_der.size() == key_len && std::memcmp(c.oid_der.data(), key, key_len) == 0) return &c;
  return nullptr;
}

}  // namespace softtoken
