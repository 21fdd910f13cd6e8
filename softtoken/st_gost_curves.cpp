#include "st_gost_curves.h"

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
GostCurve make(const Params& rec, size_t digits, size_t n) {
  GostCurve out;
  out.n = n;
  out.oid_der.assign(rec.der, rec.der + rec.der_len);
  out.order = number(rec.q, digits);
  out.prime = number(rec.p, digits);
  out.order_le.assign(n, 0);
  BN_bn2lebinpad(out.order, out.order_le.data(), static_cast<int>(n));
  // The cofactor, round((p + 1) / q): 1, or 4 for the twisted Edwards curves.
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* t = BN_new();
  if (ctx && t && BN_rshift1(t, out.order) && BN_add(t, t, out.prime) && BN_add_word(t, 1) &&
      BN_div(t, nullptr, t, out.order, ctx))
    out.cofactor = static_cast<unsigned>(BN_get_word(t));
  BN_free(t);
  BN_CTX_free(ctx);
  return out;
}

struct CurveCache {
  std::once_flag once;
  std::vector<GostCurve> curves;  // built once, kept for the life of the process
};

CurveCache& cache() {
  static CurveCache* c = new CurveCache;
  std::call_once(c->once, [] {
    for (size_t i = 0; const GOSTR3410_2012_256_PARAMS* r = GOSTR3410_2012_256_GetCurve(i); ++i) {
      c->curves.push_back(make(*r, GOSTR3410_2012_256_DIGITS, 32));
      c->curves.back().r256 = r;
    }
    for (size_t i = 0; const GOSTR3410_2012_512_PARAMS* r = GOSTR3410_2012_512_GetCurve(i); ++i) {
      c->curves.push_back(make(*r, GOSTR3410_2012_512_DIGITS, 64));
      c->curves.back().r512 = r;
    }
  });
  return *c;
}

}  // namespace

const GostCurve* find_gost_curve(const uint8_t* der, size_t len) {
  if (!der) return nullptr;
  // The core decides which OIDs name which curve.
  const GOSTR3410_2012_256_PARAMS* r256 = nullptr;
  const GOSTR3410_2012_512_PARAMS* r512 = nullptr;
  if (GOSTR3410_2012_256_FindCurveByDerOid(der, static_cast<uint32_t>(len), &r256) != 0 &&
      GOSTR3410_2012_512_FindCurveByDerOid(der, static_cast<uint32_t>(len), &r512) != 0)
    return nullptr;
  for (const GostCurve& c : cache().curves)
    if ((r256 && c.r256 == r256) || (r512 && c.r512 == r512)) return &c;
  return nullptr;
}

}  // namespace softtoken
