// Verification with a public point that comes back (a key verified with
// again and again): the scalars k and kg of kg G + k P are cut into kSplit
// parts of w bits, and the odd multiples of 2^(i w) P and 2^(i w) G kept as
// tables, so that one chain of w doublings serves all parts. G's tables are
// built with the curve; a point's at its second meeting, kept for the last
// few points. All values are public; the paths take variable time.
#include "gostr3410_2012_jacobian.h"

#include <algorithm>
#include <cstring>

namespace zkc::ec {

namespace {

template <std::size_t L> constexpr std::size_t kPartBits = 64 * L / kSplit;

template <std::size_t L> bool same_point(const Aff<L> &a, const Proj<L> &P)
{
    return std::memcmp(&a.X, &P.X, sizeof a.X) == 0 && std::memcmp(&a.Y, &P.Y, sizeof a.Y) == 0;
}

}  // namespace

template <std::size_t N> auto CurveCtx<N>::split_table(const Proj<L> &P, int width) const -> std::vector<Aff<L>>
{
    const JacobianArith<N> J{*this};
    const std::size_t per = std::size_t(1) << (width - 2), count = kSplit * per;
    std::vector<Jac<L>> points(count);
    Jac<L> T = J.from(P), twice;
    for (std::size_t part = 0; part < kSplit; ++part) {
        Jac<L> *row = &points[part * per];
        row[0] = T;
        J.dbl(twice, T);
        for (std::size_t i = 1; i < per; ++i)
            J.add(row[i], row[i - 1], twice);
        for (std::size_t i = 0; part + 1 < kSplit && i < kPartBits<L>; ++i)
            J.dbl(T, T);
    }
    // x = X / Z^2, y = Y / Z^3 through one inversion of the product of all Z.
    std::vector<Fe<L>> prefix(count);
    Fe<L> acc = fp.one, inv;
    for (std::size_t i = 0; i < count; ++i) {
        prefix[i] = acc;
        fp.mul(acc, acc, points[i].Z);
    }
    fp.inv(inv, acc);
    std::vector<Aff<L>> affine(count);
    for (std::size_t i = count; i-- > 0;) {
        Fe<L> zinv, z2;
        fp.mul(zinv, inv, prefix[i]);
        fp.mul(inv, inv, points[i].Z);
        fp.sqr(z2, zinv);
        fp.mul(affine[i].X, points[i].X, z2);
        fp.mul(z2, z2, zinv);
        fp.mul(affine[i].Y, points[i].Y, z2);
    }
    return affine;
}

template <std::size_t N>
void CurveCtx<N>::public_verify_mult(Proj<L> &R, const Fe<L> &kg, const Proj<L> &P, const Fe<L> &k) const
{
    std::shared_ptr<const std::vector<Aff<L>>> odd;
    bool build = false;
    if (!g_split.empty()) {
        std::lock_guard<std::mutex> hold(tables->lock);
        auto &built = tables->built;
        auto &seen = tables->seen;
        auto hit = std::find_if(built.begin(), built.end(), [&](const auto &e) { return same_point<L>(e.point, P); });
        if (hit != built.end()) {
            std::rotate(hit, hit + 1, built.end());
            odd = built.back().odd;
        } else {
            auto met = std::find_if(seen.begin(), seen.end(), [&](const Aff<L> &a) { return same_point<L>(a, P); });
            build = met != seen.end();
            if (build)
                seen.erase(met);
            else {
                if (seen.size() == PointTables<L>::kSeen)
                    seen.erase(seen.begin());
                seen.push_back(Aff<L>{P.X, P.Y});
            }
        }
    }
    if (build) {
        odd = std::make_shared<const std::vector<Aff<L>>>(split_table(P, kNafWidth));
        std::lock_guard<std::mutex> hold(tables->lock);
        auto &built = tables->built;
        if (built.size() == PointTables<L>::kBuilt)
            built.erase(built.begin());
        built.push_back({Aff<L>{P.X, P.Y}, odd});
    }
    if (!odd) {
        public_mult2(R, &kg, P, k);
        return;
    }
    // Digit i of either form goes to part min(i / w, kSplit - 1), at place
    // i - part w: the top part also takes the carry digit past 64 L bits.
    const JacobianArith<N> J{*this};
    constexpr std::size_t w = kPartBits<L>, per = kOddPoints, gper = kGOddPoints;
    signed char digits[64 * L + 1], gdigits[64 * L + 1];
    const std::size_t n = naf<L>(digits, k), gn = naf<L>(gdigits, kg, kGNafWidth);
    auto take = [&](Jac<L> &acc, int d, const Aff<L> *row) {
        Aff<L> pick = row[(d < 0 ? -d : d) / 2];
        if (d < 0)
            fp.neg(pick.Y, pick.Y);
        J.add(acc, acc, pick);
    };
    Jac<L> acc{};
    for (std::size_t t = w + 1; t-- > 0;) {
        J.dbl(acc, acc);
        for (std::size_t part = t < w ? 0 : kSplit - 1; part < kSplit; ++part) {
            const std::size_t i = part * w + t;
            if (i < n && digits[i] != 0)
                take(acc, digits[i], odd->data() + part * per);
            if (i < gn && gdigits[i] != 0)
                take(acc, gdigits[i], g_split.data() + part * gper);
        }
    }
    R = J.to_proj(acc);
}

template <std::size_t N> bool CurveCtx<N>::known_point(const Proj<L> &P) const
{
    std::lock_guard<std::mutex> hold(tables->lock);
    const auto &built = tables->built;
    return std::any_of(built.begin(), built.end(), [&](const auto &e) { return same_point<L>(e.point, P); });
}

#define ZKC_TABLE_MEMBERS(N)                                                                                      \
    template std::vector<Aff<kLimbs<N>>> CurveCtx<N>::split_table(const Proj<kLimbs<N>> &, int) const;          \
    template void CurveCtx<N>::public_verify_mult(Proj<kLimbs<N>> &, const Fe<kLimbs<N>> &,                     \
                                                  const Proj<kLimbs<N>> &, const Fe<kLimbs<N>> &) const;       \
    template bool CurveCtx<N>::known_point(const Proj<kLimbs<N>> &) const;
ZKC_TABLE_MEMBERS(GOSTR3410_2012_256_DIGITS)
ZKC_TABLE_MEMBERS(GOSTR3410_2012_512_DIGITS)

}  // namespace zkc::ec
