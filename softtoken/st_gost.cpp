#include "st_gost.h"

#include <openssl/rand.h>

#include <memory>

namespace softtoken {
namespace {

struct BnCtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct PointFree {
  void operator()(EC_POINT* p) const { EC_POINT_clear_free(p); }
};
struct BnFree {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;
using Point = std::unique_ptr<EC_POINT, PointFree>;
using Bn = std::unique_ptr<BIGNUM, BnFree>;

// Temporaries of one operation, released together.
struct Scratch {
  BnCtx ctx{BN_CTX_secure_new()};
  std::vector<Bn> owned;
  BIGNUM* bn() {
    owned.emplace_back(BN_secure_new());
    return owned.back().get();
  }
  bool ok() const {
    if (!ctx) return false;
    for (const auto& b : owned)
      if (!b) return false;
    return true;
  }
};

// A uniformly random scalar in [1, q-1], marked secret.
bool random_scalar(const GostCurve& c, BIGNUM* out) {
  BN_set_flags(out, BN_FLG_CONSTTIME);
  int bits = BN_num_bits(c.order);
  size_t len = (bits + 7) / 8;
  SecureBytes buf(len);
  for (int tries = 0; tries < 1000; ++tries) {
    if (RAND_priv_bytes(buf.data(), static_cast<int>(len)) != 1) return false;
    if (bits % 8) buf[0] &= static_cast<uint8_t>((1u << (bits % 8)) - 1);
    if (!BN_bin2bn(buf.data(), static_cast<int>(len), out)) return false;
    if (!BN_is_zero(out) && BN_cmp(out, c.order) < 0) return true;
  }
  return false;
}

// Arithmetic modulo q on secret values, with no branch or memory access
// that depends on them: Montgomery products (OpenSSL's fixed sequence of
// word operations with a masked final subtraction), masked additions and
// the inverse as a^(q-2) by the constant-time exponentiation. Operands are
// below q; every result is marked secret.
class SecretArith {
 public:
  SecretArith(const GostCurve& c, Scratch& s) : c_(c), s_(s), tmp_(s.bn()) {}

  // out = a b mod q
  bool mul(BIGNUM* out, const BIGNUM* a, const BIGNUM* b) {
    BN_set_flags(tmp_, BN_FLG_CONSTTIME);
    BN_set_flags(out, BN_FLG_CONSTTIME);
    // b R, then (a)(b R) R^-1 = a b.
    return tmp_ && BN_to_montgomery(tmp_, b, c_.order_mont, s_.ctx.get()) == 1 &&
           BN_mod_mul_montgomery(out, a, tmp_, c_.order_mont, s_.ctx.get()) == 1;
  }
  // out = a + b mod q
  bool add(BIGNUM* out, const BIGNUM* a, const BIGNUM* b) {
    BN_set_flags(out, BN_FLG_CONSTTIME);
    return BN_mod_add_quick(out, a, b, c_.order) == 1;
  }
  // out = a^-1 mod q, a in [1, q-1]
  bool inverse(BIGNUM* out, const BIGNUM* a) {
    BN_set_flags(out, BN_FLG_CONSTTIME);
    return BN_mod_exp_mont_consttime(out, a, c_.order_minus_2, c_.order, s_.ctx.get(), c_.order_mont) == 1;
  }

 private:
  const GostCurve& c_;
  Scratch& s_;
  BIGNUM* tmp_;
};

// A fresh blinding factor b, uniform in [1, q-1], and its inverse. Secret
// values enter a product only multiplied by b, so that what the arithmetic
// works on is uniformly random whatever the key and nonce; the result is
// multiplied by b^-1 once at the end.
struct Blinding {
  BIGNUM* b = nullptr;
  BIGNUM* inv = nullptr;
  bool make(const GostCurve& c, Scratch& s, SecretArith& a) {
    b = s.bn();
    inv = s.bn();
    return s.ok() && random_scalar(c, b) && a.inverse(inv, b);
  }
};

bool load_le(const uint8_t* p, size_t n, BIGNUM* out) { return BN_lebin2bn(p, static_cast<int>(n), out) != nullptr; }

bool point_to_bytes(const GostCurve& c, const EC_POINT* p, BN_CTX* ctx, Scratch& s, uint8_t* out) {
  BIGNUM* x = s.bn();
  BIGNUM* y = s.bn();
  if (!s.ok() || EC_POINT_get_affine_coordinates(c.group, p, x, y, ctx) != 1) return false;
  return BN_bn2lebinpad(x, out, static_cast<int>(c.n)) == static_cast<int>(c.n) &&
         BN_bn2lebinpad(y, out + c.n, static_cast<int>(c.n)) == static_cast<int>(c.n);
}

Point point_from_bytes(const GostCurve& c, const uint8_t* in, size_t len, BN_CTX* ctx, Scratch& s) {
  if (len != 2 * c.n) return nullptr;
  BIGNUM* x = s.bn();
  BIGNUM* y = s.bn();
  Point p(EC_POINT_new(c.group));
  if (!s.ok() || !p || !load_le(in, c.n, x) || !load_le(in + c.n, c.n, y)) return nullptr;
  // One encoding per point: a coordinate at or above p would otherwise be
  // taken modulo p and name the same point as its reduced value.
  if (BN_cmp(x, c.prime) >= 0 || BN_cmp(y, c.prime) >= 0) return nullptr;
  // Refuses points off the curve.
  if (EC_POINT_set_affine_coordinates(c.group, p.get(), x, y, ctx) != 1) return nullptr;
  if (EC_POINT_is_at_infinity(c.group, p.get())) return nullptr;
  // On a curve with a cofactor, only points of the subgroup of order q.
  if (c.cofactor != 1) {
    Point check(EC_POINT_new(c.group));
    if (!check || EC_POINT_mul(c.group, check.get(), nullptr, p.get(), c.order, ctx) != 1 ||
        !EC_POINT_is_at_infinity(c.group, check.get()))
      return nullptr;
  }
  return p;
}

// The constant-time path of OpenSSL: a single scalar times the generator
// or times one point, with a fixed-length scalar.
bool secret_mul(const GostCurve& c, EC_POINT* out, const BIGNUM* k, const EC_POINT* point, BN_CTX* ctx) {
  BN_set_flags(const_cast<BIGNUM*>(k), BN_FLG_CONSTTIME);
  if (point) return EC_POINT_mul(c.group, out, nullptr, point, k, ctx) == 1;
  return EC_POINT_mul(c.group, out, k, nullptr, nullptr, ctx) == 1;
}

// e = digest as a little-endian number mod q, 1 when that is zero.
bool digest_scalar(const GostCurve& c, const uint8_t* digest, size_t len, BIGNUM* e, BN_CTX* ctx) {
  if (!load_le(digest, len, e) || BN_nnmod(e, e, c.order, ctx) != 1) return false;
  if (BN_is_zero(e)) return BN_one(e) == 1;
  return true;
}

}  // namespace

bool gost_point_valid(const GostCurve& c, const uint8_t* pub, size_t pub_len) {
  Scratch s;
  return s.ok() && point_from_bytes(c, pub, pub_len, s.ctx.get(), s) != nullptr;
}

bool gost_private_valid(const GostCurve& c, const uint8_t* priv, size_t priv_len) {
  if (priv_len != c.n || c.order_le.size() != c.n) return false;
  // Compared byte by byte from the top, without a branch on the value:
  // nonzero, and below q.
  unsigned any = 0, less = 0, decided = 0;
  for (size_t i = c.n; i-- > 0;) {
    unsigned a = priv[i], b = c.order_le[i];
    any |= a;
    unsigned lt = (a - b) >> 8 & 1, gt = (b - a) >> 8 & 1;
    less |= lt & ~decided;
    decided |= lt | gt;
  }
  return any != 0 && less != 0;
}

CK_RV gost_public_key(const GostCurve& c, const SecureBytes& priv, Bytes& pub) {
  Scratch s;
  BIGNUM* d = s.bn();
  Point q(EC_POINT_new(c.group));
  if (!s.ok() || !q || priv.size() != c.n || !load_le(priv.data(), priv.size(), d)) return CKR_DEVICE_ERROR;
  if (BN_is_zero(d) || BN_cmp(d, c.order) >= 0) return CKR_KEY_HANDLE_INVALID;
  pub.assign(2 * c.n, 0);
  if (!secret_mul(c, q.get(), d, nullptr, s.ctx.get()) || !point_to_bytes(c, q.get(), s.ctx.get(), s, pub.data()))
    return CKR_DEVICE_ERROR;
  return CKR_OK;
}

CK_RV gost_generate(const GostCurve& c, SecureBytes& priv, Bytes& pub) {
  Scratch s;
  BIGNUM* d = s.bn();
  if (!s.ok() || !random_scalar(c, d)) return CKR_DEVICE_ERROR;
  priv.assign(c.n, 0);
  if (BN_bn2lebinpad(d, priv.data(), static_cast<int>(c.n)) != static_cast<int>(c.n)) return CKR_DEVICE_ERROR;
  return gost_public_key(c, priv, pub);
}

namespace {

// The signature with a nonce from `next_k`, retried while r or s is zero.
template <class NextK>
CK_RV sign_with(const GostCurve& c, const SecureBytes& priv, const uint8_t* digest, size_t len, uint8_t* sig,
                NextK next_k) {
  if (len != c.n) return CKR_DATA_LEN_RANGE;
  Scratch s;
  BN_CTX* ctx = s.ctx.get();
  BIGNUM *d = s.bn(), *e = s.bn(), *k = s.bn(), *r = s.bn(), *sv = s.bn(), *x = s.bn();
  BIGNUM *db = s.bn(), *kb = s.bn(), *rdb = s.bn(), *ekb = s.bn(), *sb = s.bn();
  Point C(EC_POINT_new(c.group));
  if (!s.ok() || !C || priv.size() != c.n) return CKR_DEVICE_ERROR;
  BN_set_flags(d, BN_FLG_CONSTTIME);
  BN_set_flags(k, BN_FLG_CONSTTIME);
  if (!load_le(priv.data(), priv.size(), d) || !digest_scalar(c, digest, len, e, ctx)) return CKR_DEVICE_ERROR;
  if (BN_is_zero(d) || BN_cmp(d, c.order) >= 0) return CKR_KEY_HANDLE_INVALID;
  SecretArith a(c, s);
  Blinding blind;
  if (!blind.make(c, s, a) || !a.mul(db, d, blind.b)) return CKR_DEVICE_ERROR;
  for (int tries = 0; tries < 100; ++tries) {
    CK_RV rv = next_k(k);
    if (rv != CKR_OK) return rv;
    if (!secret_mul(c, C.get(), k, nullptr, ctx) ||
        EC_POINT_get_affine_coordinates(c.group, C.get(), x, nullptr, ctx) != 1 || BN_nnmod(r, x, c.order, ctx) != 1)
      return CKR_DEVICE_ERROR;
    if (BN_is_zero(r)) continue;
    // s = (r d + k e) mod q, computed blinded as (r (d b) + e (k b)) b^-1.
    if (!a.mul(kb, k, blind.b) || !a.mul(rdb, r, db) || !a.mul(ekb, e, kb) || !a.add(sb, rdb, ekb) ||
        !a.mul(sv, sb, blind.inv))
      return CKR_DEVICE_ERROR;
    if (BN_is_zero(sv)) continue;
    if (BN_bn2binpad(sv, sig, static_cast<int>(c.n)) != static_cast<int>(c.n) ||
        BN_bn2binpad(r, sig + c.n, static_cast<int>(c.n)) != static_cast<int>(c.n))
      return CKR_DEVICE_ERROR;
    return CKR_OK;
  }
  return CKR_DEVICE_ERROR;
}

}  // namespace

CK_RV gost_sign(const GostCurve& c, const SecureBytes& priv, const uint8_t* digest, size_t len, uint8_t* sig) {
  return sign_with(c, priv, digest, len, sig,
                   [&c](BIGNUM* k) { return random_scalar(c, k) ? CKR_OK : CKR_DEVICE_ERROR; });
}

CK_RV gost_sign_with_nonce(const GostCurve& c, const SecureBytes& priv, const uint8_t* digest, size_t len,
                           const SecureBytes& nonce, uint8_t* sig) {
  bool used = false;
  return sign_with(c, priv, digest, len, sig, [&](BIGNUM* k) {
    // A nonce that gives r = 0 or s = 0 cannot be retried.
    if (used || nonce.size() != c.n || !load_le(nonce.data(), nonce.size(), k)) return CKR_ARGUMENTS_BAD;
    used = true;
    return BN_is_zero(k) || BN_cmp(k, c.order) >= 0 ? CKR_ARGUMENTS_BAD : CKR_OK;
  });
}

CK_RV gost_verify(const GostCurve& c, const uint8_t* pub, size_t pub_len, const uint8_t* digest, size_t len,
                  const uint8_t* sig, size_t sig_len) {
  if (len != c.n) return CKR_DATA_LEN_RANGE;
  if (sig_len != 2 * c.n) return CKR_SIGNATURE_LEN_RANGE;
  Scratch s;
  BN_CTX* ctx = s.ctx.get();
  BIGNUM *e = s.bn(), *r = s.bn(), *sv = s.bn(), *v = s.bn(), *z1 = s.bn(), *z2 = s.bn(), *x = s.bn();
  if (!s.ok()) return CKR_DEVICE_ERROR;
  Point Q = point_from_bytes(c, pub, pub_len, ctx, s);
  if (!Q) return CKR_KEY_HANDLE_INVALID;
  if (!BN_bin2bn(sig, static_cast<int>(c.n), sv) || !BN_bin2bn(sig + c.n, static_cast<int>(c.n), r))
    return CKR_DEVICE_ERROR;
  if (BN_is_zero(r) || BN_is_zero(sv) || BN_cmp(r, c.order) >= 0 || BN_cmp(sv, c.order) >= 0)
    return CKR_SIGNATURE_INVALID;
  Point C(EC_POINT_new(c.group));
  if (!C || !digest_scalar(c, digest, len, e, ctx) || !BN_mod_inverse(v, e, c.order, ctx) ||
      BN_mod_mul(z1, sv, v, c.order, ctx) != 1 || BN_mod_mul(z2, r, v, c.order, ctx) != 1 ||
      BN_mod_sub(z2, c.order, z2, c.order, ctx) != 1)
    return CKR_DEVICE_ERROR;
  // C = z1 P + z2 Q; public values, so the faster variable-time path is fine.
  if (EC_POINT_mul(c.group, C.get(), z1, Q.get(), z2, ctx) != 1) return CKR_DEVICE_ERROR;
  if (EC_POINT_is_at_infinity(c.group, C.get())) return CKR_SIGNATURE_INVALID;
  if (EC_POINT_get_affine_coordinates(c.group, C.get(), x, nullptr, ctx) != 1 || BN_nnmod(x, x, c.order, ctx) != 1)
    return CKR_DEVICE_ERROR;
  return BN_cmp(x, r) == 0 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

CK_RV gost_vko(const GostCurve& c, const SecureBytes& priv, const uint8_t* peer, size_t peer_len,
               const uint8_t* ukm, size_t ukm_len, bool hash94, uint8_t out[32]) {
  Scratch s;
  BN_CTX* ctx = s.ctx.get();
  BIGNUM *d = s.bn(), *u = s.bn(), *t = s.bn(), *db = s.bn(), *tb = s.bn();
  if (!s.ok() || priv.size() != c.n) return CKR_DEVICE_ERROR;
  BN_set_flags(d, BN_FLG_CONSTTIME);
  if (!load_le(priv.data(), priv.size(), d)) return CKR_DEVICE_ERROR;
  if (BN_is_zero(d) || BN_cmp(d, c.order) >= 0) return CKR_KEY_HANDLE_INVALID;
  Point Q = point_from_bytes(c, peer, peer_len, ctx, s);
  if (!Q) return CKR_MECHANISM_PARAM_INVALID;
  // The UKM is public: reducing it may take any path.
  if (!load_le(ukm, ukm_len, u) || BN_nnmod(u, u, c.order, ctx) != 1) return CKR_DEVICE_ERROR;
  // q is prime and d is not 0 mod q, so UKM d mod q is 0 exactly when the
  // UKM is.
  if (BN_is_zero(u)) return CKR_MECHANISM_PARAM_INVALID;
  // K = (h UKM d mod q) Q with the cofactor h; UKM d mod q is computed
  // blinded, as (UKM (d b)) b^-1, and the cofactor (1 or 4) applied to the
  // point by doubling.
  SecretArith a(c, s);
  Blinding blind;
  Point K(EC_POINT_new(c.group));
  if (!K || !blind.make(c, s, a) || !a.mul(db, d, blind.b) || !a.mul(tb, u, db) || !a.mul(t, tb, blind.inv))
    return CKR_DEVICE_ERROR;
  if (!secret_mul(c, K.get(), t, Q.get(), ctx)) return CKR_DEVICE_ERROR;
  for (unsigned h = c.cofactor; h > 1; h /= 2)
    if (EC_POINT_dbl(c.group, K.get(), K.get(), ctx) != 1) return CKR_DEVICE_ERROR;
  if (EC_POINT_is_at_infinity(c.group, K.get())) return CKR_MECHANISM_PARAM_INVALID;
  SecureBytes kb(2 * c.n);
  if (!point_to_bytes(c, K.get(), ctx, s, kb.data())) return CKR_DEVICE_ERROR;
  bool ok = hash94 ? hash_gostr3411_94_cryptopro(kb.data(), kb.size(), out)
                   : hash_gostr3411_2012_256(kb.data(), kb.size(), out);
  return ok ? CKR_OK : CKR_DEVICE_ERROR;
}

}  // namespace softtoken
