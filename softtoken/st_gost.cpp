#include "st_gost.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <vector>

#include "gostr3410_2012_sizes.h"

namespace softtoken {
namespace {

template <size_t N> using Core = zkc::GostR3410<N>;

template <class K> const typename K::Params* record(const GostCurve& c) {
  if constexpr (K::kDigits == GOSTR3410_2012_256_DIGITS)
    return c.r256;
  else
    return c.r512;
}

// Runs f with the Core of the curve's size; a curve without its record
// (none is built so) is a device error.
template <class F> CK_RV with_core(const GostCurve& c, F f) {
  if (c.n == 32 && c.r256) return f(Core<GOSTR3410_2012_256_DIGITS>{});
  if (c.n == 64 && c.r512) return f(Core<GOSTR3410_2012_512_DIGITS>{});
  return CKR_DEVICE_ERROR;
}

// A number of the core, wiped when it goes.
template <size_t N> struct Num {
  DIGIT_T v[N] = {};
  ~Num() { OPENSSL_cleanse(v, sizeof v); }
};

// Little-endian bytes (at most the number's width) to a number.
template <size_t N> void load_le(const uint8_t* p, size_t len, Num<N>& out) {
  for (size_t i = 0; i < len && i < 4 * N; ++i) out.v[i / 4] |= static_cast<DIGIT_T>(p[i]) << (8 * (i % 4));
}

template <size_t N> void load_be(const uint8_t* p, size_t len, Num<N>& out) {
  for (size_t i = 0; i < len && i < 4 * N; ++i) out.v[i / 4] |= static_cast<DIGIT_T>(p[len - 1 - i]) << (8 * (i % 4));
}

template <size_t N> void store_be(const Num<N>& in, uint8_t* p, size_t len) {
  for (size_t i = 0; i < len; ++i) p[len - 1 - i] = static_cast<uint8_t>(in.v[i / 4] >> (8 * (i % 4)));
}

// A public value as a point of the curve: canonical coordinates (below p),
// on the curve, not the point at infinity, and of order q on a curve with a
// cofactor.
template <class K>
bool load_point(const GostCurve& c, const uint8_t* in, size_t len, typename K::Point& P) {
  constexpr size_t N = K::kDigits;
  if (!in || len != 2 * c.n) return false;
  const auto* rec = record<K>(c);
  Num<N> x, y;
  load_le(in, c.n, x);
  load_le(in + c.n, c.n, y);
  if (mpCompare(x.v, rec->p, N) >= 0 || mpCompare(y.v, rec->p, N) >= 0) return false;
  mpSetEqual(P.x, x.v, N);
  mpSetEqual(P.y, y.v, N);
  return K::check_order(rec, &P) == 0;
}

int random_bytes(void*, uint8_t* buf, size_t len) { return RAND_priv_bytes(buf, static_cast<int>(len)) == 1; }

// A fixed nonce handed out once.
struct FixedNonce {
  const SecureBytes& k;
  bool used = false;
  static int next(void* self, uint8_t* buf, size_t len) {
    auto* f = static_cast<FixedNonce*>(self);
    if (f->used || len > f->k.size()) return 0;
    f->used = true;
    std::copy(f->k.begin(), f->k.begin() + static_cast<std::ptrdiff_t>(len), buf);
    return 1;
  }
};

// s || r, each big-endian, of the digest (a little-endian number).
CK_RV sign_with(const GostCurve& c, const SecureBytes& priv, const uint8_t* digest, size_t len, uint8_t* sig,
                GOSTR3410_2012_RANDOM_FN random, void* random_ctx, CK_RV no_nonce) {
  if (len != c.n) return CKR_DATA_LEN_RANGE;
  if (priv.size() != c.n) return CKR_DEVICE_ERROR;
  if (!gost_private_valid(c, priv.data(), priv.size())) return CKR_KEY_HANDLE_INVALID;
  return with_core(c, [&](auto k) {
    using K = decltype(k);
    constexpr size_t N = K::kDigits;
    Num<N> d, e, r, s;
    load_le(priv.data(), priv.size(), d);
    load_le(digest, len, e);
    const int rc = K::sign(record<K>(c), d.v, e.v, random, random_ctx, r.v, s.v);
    if (rc != 0) return rc == -1 ? CKR_KEY_HANDLE_INVALID : no_nonce;
    store_be(s, sig, c.n);
    store_be(r, sig + c.n, c.n);
    return CKR_OK;
  });
}

}  // namespace

bool gost_point_valid(const GostCurve& c, const uint8_t* pub, size_t pub_len) {
  return with_core(c, [&](auto k) {
           typename decltype(k)::Point P;
           return load_point<decltype(k)>(c, pub, pub_len, P) ? CKR_OK : CKR_GENERAL_ERROR;
         }) == CKR_OK;
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
  if (priv.size() != c.n) return CKR_DEVICE_ERROR;
  if (!gost_private_valid(c, priv.data(), priv.size())) return CKR_KEY_HANDLE_INVALID;
  return with_core(c, [&](auto k) {
    using K = decltype(k);
    constexpr size_t N = K::kDigits;
    Num<N> d;
    typename K::Point Q;
    load_le(priv.data(), priv.size(), d);
    pub.assign(2 * c.n, 0);
    return K::generate(record<K>(c), d.v, &Q) == 0 && K::unload(&Q, pub.data()) == 0 ? CKR_OK : CKR_DEVICE_ERROR;
  });
}

CK_RV gost_generate(const GostCurve& c, SecureBytes& priv, Bytes& pub) {
  // Uniform in [1, q-1]: candidates of the bit length of q until one is in range.
  const int bits = BN_num_bits(c.order);
  priv.assign(c.n, 0);
  for (int tries = 0; tries < 1000; ++tries) {
    if (RAND_priv_bytes(priv.data(), static_cast<int>((bits + 7) / 8)) != 1) return CKR_DEVICE_ERROR;
    if (bits % 8) priv[(bits - 1) / 8] &= static_cast<uint8_t>((1u << (bits % 8)) - 1);
    if (gost_private_valid(c, priv.data(), priv.size())) return gost_public_key(c, priv, pub);
  }
  return CKR_DEVICE_ERROR;
}

CK_RV gost_sign(const GostCurve& c, const SecureBytes& priv, const uint8_t* digest, size_t len, uint8_t* sig) {
  return sign_with(c, priv, digest, len, sig, random_bytes, nullptr, CKR_DEVICE_ERROR);
}

CK_RV gost_sign_with_nonce(const GostCurve& c, const SecureBytes& priv, const uint8_t* digest, size_t len,
                           const SecureBytes& nonce, uint8_t* sig) {
  // A nonce out of range, or one that gives r = 0 or s = 0, cannot be retried.
  if (!gost_private_valid(c, nonce.data(), nonce.size())) return len != c.n ? CKR_DATA_LEN_RANGE : CKR_ARGUMENTS_BAD;
  FixedNonce k{nonce};
  return sign_with(c, priv, digest, len, sig, FixedNonce::next, &k, CKR_ARGUMENTS_BAD);
}

CK_RV gost_verify(const GostCurve& c, const uint8_t* pub, size_t pub_len, const uint8_t* digest, size_t len,
                  const uint8_t* sig, size_t sig_len) {
  if (len != c.n) return CKR_DATA_LEN_RANGE;
  if (sig_len != 2 * c.n) return CKR_SIGNATURE_LEN_RANGE;
  return with_core(c, [&](auto k) {
    using K = decltype(k);
    constexpr size_t N = K::kDigits;
    typename K::Point Q;
    if (!load_point<K>(c, pub, pub_len, Q)) return CKR_KEY_HANDLE_INVALID;
    Num<N> e, r, s;
    load_le(digest, len, e);
    load_be(sig, c.n, s);
    load_be(sig + c.n, c.n, r);
    return K::verify(record<K>(c), &Q, e.v, r.v, s.v) == 0 ? CKR_OK : CKR_SIGNATURE_INVALID;
  });
}

CK_RV gost_vko(const GostCurve& c, const SecureBytes& priv, const uint8_t* peer, size_t peer_len,
               const uint8_t* ukm, size_t ukm_len, bool hash94, uint8_t out[32]) {
  if (priv.size() != c.n) return CKR_DEVICE_ERROR;
  if (!gost_private_valid(c, priv.data(), priv.size())) return CKR_KEY_HANDLE_INVALID;
  SecureBytes kb(2 * c.n);
  CK_RV rv = with_core(c, [&](auto k) {
    using K = decltype(k);
    constexpr size_t N = K::kDigits;
    typename K::Point Q, KP;
    if (!load_point<K>(c, peer, peer_len, Q)) return CKR_MECHANISM_PARAM_INVALID;
    // The UKM is public: reduced mod q by any path; 0 mod q is refused.
    std::vector<DIGIT_T> wide((ukm_len + 3) / 4 + N, 0);
    for (size_t i = 0; i < ukm_len; ++i) wide[i / 4] |= static_cast<DIGIT_T>(ukm[i]) << (8 * (i % 4));
    Num<N> d, u;
    if (mpModulo(u.v, wide.data(), wide.size(), record<K>(c)->q, N) != 0 || mpIsZero(u.v, N))
      return CKR_MECHANISM_PARAM_INVALID;
    load_le(priv.data(), priv.size(), d);
    // K = (h UKM d mod q) Q with the cofactor h.
    if (K::vko(record<K>(c), d.v, &Q, u.v, &KP) != 0) return CKR_MECHANISM_PARAM_INVALID;
    const CK_RV r = K::unload(&KP, kb.data()) == 0 ? CKR_OK : CKR_DEVICE_ERROR;
    OPENSSL_cleanse(&KP, sizeof KP);
    return r;
  });
  if (rv != CKR_OK) return rv;
  bool ok = hash94 ? hash_gostr3411_94_cryptopro(kb.data(), kb.size(), out)
                   : hash_gostr3411_2012_256(kb.data(), kb.size(), out);
  return ok ? CKR_OK : CKR_DEVICE_ERROR;
}

}  // namespace softtoken
