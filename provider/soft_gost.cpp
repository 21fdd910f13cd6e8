// Software GOST R 34.10 keys on the crypto core, whose key generation,
// signing and VKO are constant-time in the private value, the nonce and the
// agreement scalar. Secret numbers live in wiped buffers; the range checks of
// a secret run without a branch on it.
#include "soft_gost.h"

#include <openssl/crypto.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include "gost_curve.h"
#include "gost_digest_core.h"
#include "gost_params.h"
#include "secret_string.h"
#include "zkc_bignum.h"

namespace {

template <class C>
struct Soft {
    static constexpr std::size_t N = C::kDigits;
    static constexpr std::size_t B = C::kBytes;
    using Num = DIGIT_T[N];
    using Point = typename C::Point;
    using Params = typename C::Params;

    const ProvCtx *prov;
    const p11_gost2012_key &key;
    const Params *curve = nullptr;

    // The curve of the record's parameter set.
    bool find_curve()
    {
        const GostKeyAlg *alg = gost_key_alg(key.alg_nid);
        const GostParamSet *set = alg != nullptr ? gost_key_paramset(*alg, key.param_nid) : nullptr;
        if (set == nullptr || C::find(set->der, static_cast<uint32_t>(set->der_len), &curve) != 0)
            return zk_raise(prov, ZK_R_UNKNOWN_CURVE, "%s", gost_nid2sn(key.param_nid)) != 0;
        return true;
    }

    // len (at most B) little-endian bytes as a number.
    static void from_le(const unsigned char *in, std::size_t len, DIGIT_T *out)
    {
        Wiped<unsigned char[B]> be;
        for (std::size_t i = 0; i < len; ++i)
            be.v[i] = in[len - 1 - i];
        mpConvFromOctets(out, N, be.v, len);
    }
    static void to_le(const DIGIT_T *a, unsigned char *out)
    {
        mpConvToOctets(a, N, out, B);
        for (std::size_t i = 0; i < B / 2; ++i) {
            unsigned char t = out[i];
            out[i] = out[B - 1 - i];
            out[B - 1 - i] = t;
        }
    }

    // 1 <= a <= q-1, decided from the borrow of a - q and the OR of a's
    // digits, whatever a holds.
    bool in_range(const DIGIT_T *a) const
    {
        Wiped<Num> diff;
        DIGIT_T borrow = mpSubtract(diff.v, a, curve->q, N);
        DIGIT_T any = 0;
        for (std::size_t i = 0; i < N; ++i)
            any |= a[i];
        return (borrow & static_cast<DIGIT_T>(any != 0)) != 0;
    }

    // A uniform number in [1, q-1] by rejection sampling.
    bool random_scalar(DIGIT_T *k) const
    {
        const std::size_t bits = mpBitLength(curve->q, N);
        const std::size_t bytes = (bits + 7) / 8;
        Wiped<unsigned char[B]> buf;
        for (int tries = 0; tries < 1000; ++tries) {
            if (RAND_priv_bytes_ex(prov->libctx, buf.v, bytes, 0) != 1)
                return zk_raise(prov, ZK_R_RANDOM_FAILED) != 0;
            if (bits % 8 != 0)
                buf.v[0] &= static_cast<unsigned char>((1u << (bits % 8)) - 1);
            mpConvFromOctets(k, N, buf.v, bytes);
            if (in_range(k))
                return true;
        }
        return zk_raise(prov, ZK_R_RANDOM_FAILED, "no number below the order") != 0;
    }

    // The record's private value as a number in [1, q-1].
    bool private_number(DIGIT_T *d) const
    {
        if (!key.priv_key_loaded || key.priv_key_len != B)
            return zk_raise(prov, ZK_R_NO_KEY, "no private value") != 0;
        C::load(key.priv_key, d);
        if (!in_range(d))
            return zk_raise(prov, ZK_R_BAD_KEY, "private value outside [1, q-1]") != 0;
        return true;
    }

    // A public value as a point of the curve; false (nothing raised) when it
    // is none.
    bool point_of(const unsigned char *pub, std::size_t pub_len, Point *q) const
    {
        if (pub == nullptr || pub_len != 2 * B)
            return false;
        from_le(pub, B, q->x);
        from_le(pub + B, B, q->y);
        return C::check(curve, q) == 0;
    }

    bool keygen(p11_gost2012_key &out)
    {
        Wiped<Num> d;
        Wiped<Point> q;
        if (!find_curve() || !random_scalar(d.v))
            return false;
        if (C::generate(curve, d.v, &q.v) != 0)
            return zk_raise(prov, ZK_R_CORE_FAILURE, "%s_GeneratePublicKey", C::kName) != 0;
        to_le(d.v, out.priv_key);
        C::unload(&q.v, out.pub_key);
        out.priv_key_len = B;
        out.pub_key_len = 2 * B;
        out.priv_key_loaded = 1;
        return true;
    }

    bool public_value(p11_gost2012_key &out)
    {
        Wiped<Num> d;
        Point q;
        if (!find_curve() || !private_number(d.v))
            return false;
        if (C::generate(curve, d.v, &q) != 0)
            return zk_raise(prov, ZK_R_CORE_FAILURE, "%s_GeneratePublicKey", C::kName) != 0;
        C::unload(&q, out.pub_key);
        out.pub_key_len = 2 * B;
        return true;
    }

    // Candidate nonce bytes for the core, from the provider's generator.
    static int nonce_bytes(void *vprov, uint8_t *buf, std::size_t len)
    {
        return RAND_priv_bytes_ex(static_cast<const ProvCtx *>(vprov)->libctx, buf, len, 0) == 1;
    }

    bool sign(const unsigned char *digest, std::size_t len, unsigned char *sig)
    {
        if (len != B)
            return zk_raise(prov, ZK_R_WRONG_DIGEST, "digest of %zu bytes, %zu expected", len, B) != 0;
        Wiped<Num> d;
        Num e, r, s;
        if (!find_curve() || !private_number(d.v))
            return false;
        from_le(digest, B, e);
        if (C::sign(curve, d.v, e, nonce_bytes, const_cast<ProvCtx *>(prov), r, s) != 0)
            return zk_raise(prov, ZK_R_RANDOM_FAILED, "no signature nonce") != 0;
        mpConvToOctets(s, N, sig, B);
        mpConvToOctets(r, N, sig + B, B);
        return true;
    }

    bool verify(const unsigned char *digest, std::size_t len, const unsigned char *sig, std::size_t sig_len)
    {
        if (len != B)
            return zk_raise(prov, ZK_R_WRONG_DIGEST, "digest of %zu bytes, %zu expected", len, B) != 0;
        if (sig_len != 2 * B)
            return zk_raise(prov, ZK_R_BAD_PARAMETER, "signature of %zu bytes, %zu expected", sig_len, 2 * B) != 0;
        Point q;
        if (!find_curve())
            return false;
        if (!point_of(key.pub_key, key.pub_key_len, &q))
            return zk_raise(prov, ZK_R_BAD_KEY, "public value is no point of the curve") != 0;
        Num s, r, e;
        mpConvFromOctets(s, N, sig, B);
        mpConvFromOctets(r, N, sig + B, B);
        from_le(digest, B, e);
        return C::verify(curve, &q, e, r, s) == 0;
    }

    bool vko(const unsigned char *peer, std::size_t peer_len, const unsigned char *ukm, std::size_t ukm_len,
             unsigned char *out)
    {
        Point q;
        Wiped<Point> k;
        Wiped<Num> d;
        Num u{};
        Wiped<unsigned char[2 * B]> shared;
        if (!find_curve() || !private_number(d.v))
            return false;
        if (!point_of(peer, peer_len, &q))
            return zk_raise(prov, ZK_R_BAD_KEY, "peer value is no point of the curve") != 0;
        if (ukm == nullptr || ukm_len == 0 || ukm_len > B)
            return zk_raise(prov, ZK_R_BAD_PARAMETER, "UKM of %zu bytes", ukm_len) != 0;
        from_le(ukm, ukm_len, u);
        if (C::vko(curve, d.v, &q, u, &k.v) != 0)
            return zk_raise(prov, ZK_R_BAD_PARAMETER, "UKM is 0 mod q, or the peer's point is not of order q") != 0;
        C::unload(&k.v, shared.v);
        return key.alg_nid == gost_nid(GostObj::gost2001) ? hash<GostDigestCore94>(shared.v, out)
                                                          : hash<GostDigestCore256>(shared.v, out);
    }

    template <class D>
    bool hash(const unsigned char *in, unsigned char *out) const
    {
        Wiped<typename D::Ctx> ctx;
        if (D::init(&ctx.v) != 0 || D::update(&ctx.v, in, 2 * B) != 0 || D::final(&ctx.v, out) != 0)
            return zk_raise(prov, ZK_R_CORE_FAILURE, "VKO hash") != 0;
        return true;
    }
};

// Runs f with the Soft operations of the record's curve size.
template <class F>
bool on_curve(const ProvCtx *prov, const p11_gost2012_key &key, F f)
{
    const GostKeyAlg *alg = gost_key_alg(key.alg_nid);
    if (alg == nullptr)
        return zk_raise(prov, ZK_R_BAD_KEY, "no GOST R 34.10 key algorithm") != 0;
    if (alg->size == GostKeySize::bits512) {
        Soft<GostCurve512> soft{prov, key};
        return f(soft);
    }
    Soft<GostCurve256> soft{prov, key};
    return f(soft);
}

}  // namespace

bool zk_soft_keygen(const ProvCtx *prov, p11_gost2012_key &key)
{
    return on_curve(prov, key, [&](auto &soft) { return soft.keygen(key); });
}

bool zk_soft_public(const ProvCtx *prov, p11_gost2012_key &key)
{
    return on_curve(prov, key, [&](auto &soft) { return soft.public_value(key); });
}

bool zk_soft_check_public(const ProvCtx *prov, const p11_gost2012_key &key, const unsigned char *pub,
                          std::size_t pub_len)
{
    return on_curve(prov, key, [&](auto &soft) {
        typename std::remove_reference_t<decltype(soft)>::Point q;
        return soft.find_curve() && soft.point_of(pub, pub_len, &q);
    });
}

bool zk_soft_sign(const ProvCtx *prov, const p11_gost2012_key &key, const unsigned char *digest,
                  std::size_t digest_len, unsigned char *sig)
{
    return on_curve(prov, key, [&](auto &soft) { return soft.sign(digest, digest_len, sig); });
}

bool zk_soft_verify(const ProvCtx *prov, const p11_gost2012_key &key, const unsigned char *digest,
                    std::size_t digest_len, const unsigned char *sig, std::size_t sig_len)
{
    return on_curve(prov, key, [&](auto &soft) { return soft.verify(digest, digest_len, sig, sig_len); });
}

bool zk_soft_vko(const ProvCtx *prov, const p11_gost2012_key &key, const unsigned char *peer_pub,
                 std::size_t peer_len, const unsigned char *ukm, std::size_t ukm_len, unsigned char out[32])
{
    return on_curve(prov, key, [&](auto &soft) { return soft.vko(peer_pub, peer_len, ukm, ukm_len, out); });
}
