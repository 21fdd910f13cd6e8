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

// Takes ownership of the numbers. Checks that the base point lies on the
// curve and has order q.
bool build(BIGNUM* p, BIGNUM* a, BIGNUM* b, BIGNUM* x, BIGNUM* y, BIGNUM* q, unsigned cofactor, size_t n,
           const uint8_t* der, size_t der_len, GostCurve& out) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* h = BN_new();
  bool ok = ctx && p && a && b && x && y && q && h && BN_set_word(h, cofactor);
  EC_GROUP* g = ok ? EC_GROUP_new_curve_GFp(p, a, b, ctx) : nullptr;
  EC_POINT* gen = g ? EC_POINT_new(g) : nullptr;
  EC_POINT* check = g ? EC_POINT_new(g) : nullptr;
  ok = gen && check && EC_POINT_set_affine_coordinates(g, gen, x, y, ctx) == 1 &&
       EC_GROUP_set_generator(g, gen, q, h) == 1 && EC_POINT_mul(g, check, nullptr, gen, q, ctx) == 1 &&
       EC_POINT_is_at_infinity(g, check) == 1;
  BN_MONT_CTX* mont = ok ? BN_MONT_CTX_new() : nullptr;
  BIGNUM* q2 = ok ? BN_dup(q) : nullptr;
  ok = mont && q2 && BN_MONT_CTX_set(mont, q, ctx) == 1 && BN_sub_word(q2, 2) == 1;
  EC_POINT_free(gen);
  EC_POINT_free(check);
  BN_free(a);
  BN_free(b);
  BN_free(x);
  BN_free(y);
  BN_free(h);
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
  out.cofactor = cofactor;
  out.oid_der.assign(der, der + der_len);
  out.group = g;
  out.order = q;
  out.order_le.assign(n, 0);
  BN_bn2lebinpad(q, out.order_le.data(), static_cast<int>(n));
  out.prime = p;
  out.order_mont = mont;
  out.order_minus_2 = q2;
  return true;
}

template <class Params>
bool build_core(const Params& rec, size_t digits, size_t n, GostCurve& out) {
  // Every curve of the core has cofactor 1.
  return build(number(rec.p, digits), number(rec.a, digits), number(rec.b, digits), number(rec.x, digits),
               number(rec.y, digits), number(rec.q, digits), 1, n, rec.der, rec.der_len, out);
}

// RFC 7836, appendix A.2: the Weierstrass form (p, a, b, q, x, y) of
// id-tc26-gost-3410-2012-256-paramSetA and id-tc26-gost-3410-2012-512-paramSetC.
struct Rfc7836Curve {
  size_t n;
  uint8_t der[11];
  const char *p, *a, *b, *q, *x, *y;
};

const Rfc7836Curve kRfc7836[] = {
    {32,
     {0x06, 0x09, 0x2a, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x01, 0x01},
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD97",
     "C2173F1513981673AF4892C23035A27CE25E2013BF95AA33B22C656F277E7335",
     "295F9BAE7428ED9CCC20E7C359A9D41A22FCCD9108E17BF7BA9337A6F8AE9513",
     "400000000000000000000000000000000FD8CDDFC87B6635C115AF556C360C67",
     "91E38443A5E82C0D880923425712B2BB658B9196932E02C78B2582FE742DAA28",
     "32879423AB1A0375895786C4BB46E9565FDE0B5344766740AF268ADB32322E5C"},
    {64,
     {0x06, 0x09, 0x2a, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x03},
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFDC7",
     "DC9203E514A721875485A529D2C722FB187BC8980EB866644DE41C68E1430645"
     "46E861C0E2C9EDD92ADE71F46FCF50FF2AD97F951FDA9F2A2EB6546F39689BD3",
     "B4C4EE28CEBC6C2C8AC12952CF37F16AC7EFB6A9F69F4B57FFDA2E4F0DE5ADE0"
     "38CBC2FFF719D2C18DE0284B8BFEF3B52B8CC7A5F5BF0A3C8D2319A5312557E1",
     "3FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "C98CDBA46506AB004C33A9FF5147502CC8EDA9E7A769A12694623CEF47F023ED",
     "E2E31EDFC23DE7BDEBE241CE593EF5DE2295B7A9CBAEF021D385F7074CEA043A"
     "A27272A7AE602BF2A7B9033DB9ED3610C6FB85487EAE97AAC5BC7928C1950148",
     "F5CE40D95B5EB899ABBCCFF5911CB8577939804D6527378B8C108C3D2090FF9B"
     "E18E2D33E3021ED2EF32D85822423B6304F726AA854BAE07D0396E9A9ADDC40F"},
};

BIGNUM* hex_number(const char* hex) {
  BIGNUM* b = nullptr;
  return BN_hex2bn(&b, hex) ? b : nullptr;
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
      if (build_core(*r, GOSTR3410_2012_256_DIGITS, 32, g)) c->curves.push_back(g);
    }
    for (size_t i = 0; const GOSTR3410_2012_512_PARAMS* r = GOSTR3410_2012_512_GetParSet(i); ++i) {
      GostCurve g;
      if (build_core(*r, GOSTR3410_2012_512_DIGITS, 64, g)) c->curves.push_back(g);
    }
    for (const Rfc7836Curve& r : kRfc7836) {
      GostCurve g;
      if (build(hex_number(r.p), hex_number(r.a), hex_number(r.b), hex_number(r.x), hex_number(r.y),
                hex_number(r.q), 4, r.n, r.der, sizeof r.der, g))
        c->curves.push_back(g);
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
    // The curves the core does not know go by their own OID only.
    key = der;
    key_len = static_cast<uint32_t>(len);
  }
  for (const GostCurve& c : cache().curves)
    if (c.oid_der.size() == key_len && std::memcmp(c.oid_der.data(), key, key_len) == 0) return &c;
  return nullptr;
}

}  // namespace softtoken
