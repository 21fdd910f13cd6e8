// Multiple-precision arithmetic: the layer's own edge cases.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "zkc_bignum.h"

namespace {

using Digits = std::vector<DIGIT_T>;

Digits num(std::initializer_list<DIGIT_T> low_first, size_t n)
{
    Digits d(n, 0);
    size_t i = 0;
    for (DIGIT_T v : low_first)
        d[i++] = v;
    return d;
}

TEST(BignumSingleDigit, ProductAndQuotientFromHalves)
{
    DIGIT_T p[2];
    spMultiply(p, 0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_EQ(p[1], 0xFFFFFFFEu);
    EXPECT_EQ(p[0], 0x00000001u);
    spMultiply(p, 0x12345678u, 0x9ABCDEF0u);
    const uint64_t want = uint64_t{0x12345678u} * 0x9ABCDEF0u;
    EXPECT_EQ(p[0], static_cast<DIGIT_T>(want));
    EXPECT_EQ(p[1], static_cast<DIGIT_T>(want >> 32));

    const DIGIT_T u[2] = {0x89ABCDEFu, 0x01234567u};
    DIGIT_T q;
    const DIGIT_T r = spDivide(&q, u, 0x0FEDCBA9u);
    const uint64_t dividend = (uint64_t{u[1]} << 32) | u[0];
    EXPECT_EQ(q, static_cast<DIGIT_T>(dividend / 0x0FEDCBA9u));
    EXPECT_EQ(r, static_cast<DIGIT_T>(dividend % 0x0FEDCBA9u));
}

TEST(BignumPlain, ZeroLengthAnswersMinusOne)
{
    DIGIT_T a[1] = {0};
    EXPECT_EQ(mpIsZero(a, 0), -1);
    EXPECT_EQ(mpEqual(a, a, 0), -1);
    EXPECT_EQ(mpIsZero(a, 1), 1);
}

TEST(BignumPlain, BitsAndBytesInsideAndBeyondTheNumber)
{
    Digits a = num({0x80000001u, 0x00000100u}, 2);
    EXPECT_EQ(mpBitLength(a.data(), 2), 41u);
    EXPECT_EQ(mpGetBit(a.data(), 2, 0), 1);
    EXPECT_EQ(mpGetBit(a.data(), 2, 31), 1);
    EXPECT_EQ(mpGetBit(a.data(), 2, 30), 0);
    EXPECT_EQ(mpGetBit(a.data(), 2, 64), -1);
    EXPECT_EQ(mpGetByte(a.data(), 2, 3), 0x80);
    EXPECT_EQ(mpGetByte(a.data(), 2, 5), 0x01);
    EXPECT_EQ(mpGetByte(a.data(), 2, 8), -1);
    EXPECT_EQ(mpSetByte(a.data(), 2, 6, 0xAB), 0);
    EXPECT_EQ(a[1], 0x00AB0100u);
    EXPECT_EQ(mpSetByte(a.data(), 2, 8, 1), -1);
    Digits zero(3, 0);
    EXPECT_EQ(mpBitLength(zero.data(), 3), 0u);
}

TEST(BignumPlain, OctetsRoundTripAndSignificantCount)
{
    std::array<uint8_t, 32> in{};
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<uint8_t>(i);
    DIGIT_T a[9];
    mpConvFromOctets(a, 9, in.data(), in.size());
    EXPECT_EQ(a[0], 0x1C1D1E1Fu);
    EXPECT_EQ(a[7], 0x00010203u);
    EXPECT_EQ(a[8], 0u);
    std::array<uint8_t, 32> out{};
    EXPECT_EQ(mpConvToOctets(a, 9, out.data(), out.size()), 31u);
    EXPECT_EQ(out, in);

    // Left padding, and leading octets dropped when they do not fit.
    uint8_t wide[6] = {};
    EXPECT_EQ(mpConvToOctets(a, 1, wide, sizeof wide), 4u);
    EXPECT_EQ(wide[0], 0);
    EXPECT_EQ(wide[2], 0x1C);
    DIGIT_T one_digit[1];
    const uint8_t five[5] = {0xEE, 0x01, 0x02, 0x03, 0x04};
    mpConvFromOctets(one_digit, 1, five, sizeof five);
    EXPECT_EQ(one_digit[0], 0x01020304u);
}

TEST(BignumPlain, ShiftLeftBy33IsADigitMoveAndOneBit)
{
    const Digits b = num({0x80000001u, 0xC0000002u, 0x80000003u}, 3);
    Digits moved(3), direct(3);
    // One digit move, then a 1-bit shift.
    const Digits step = num({0, 0x80000001u, 0xC0000002u}, 3);
    const DIGIT_T out1 = mpShiftLeft(moved.data(), step.data(), 1, 3);
    const DIGIT_T out33 = mpShiftLeft(direct.data(), b.data(), 33, 3);
    EXPECT_EQ(direct, moved);
    EXPECT_EQ(direct, num({0, 0x00000002u, 0x80000005u}, 3));
    EXPECT_EQ(out33, out1);
    EXPECT_EQ(out33, 1u);  // the top bit of 0xC0000002 pushed out

    // In place, and shifts of the whole width or more.
    Digits c = b;
    mpShiftLeft(c.data(), c.data(), 33, 3);
    EXPECT_EQ(c, direct);
    EXPECT_EQ(mpShiftLeft(c.data(), b.data(), 96, 3), 0u);
    EXPECT_EQ(mpIsZero(c.data(), 3), 1);
}

TEST(BignumPlain, ShiftRightMirrorsShiftLeft)
{
    const Digits b = num({0x80000003u, 0xC0000002u, 0x80000001u}, 3);
    Digits r(3);
    const DIGIT_T out = mpShiftRight(r.data(), b.data(), 34, 3);
    EXPECT_EQ(r, num({0x70000000u, 0x20000000u, 0}, 3));
    EXPECT_EQ(out, 2u);  // the low two bits of 0xC0000002
    Digits c = b;
    mpShiftRight(c.data(), c.data(), 34, 3);
    EXPECT_EQ(c, r);
    mpShiftRight(c.data(), b.data(), 0, 3);
    EXPECT_EQ(c, b);
}

TEST(BignumPlain, CarriesBorrowsAndSigns)
{
    const Digits max = num({0xFFFFFFFFu, 0xFFFFFFFFu}, 2);
    const Digits one = num({1}, 2);
    Digits w(2);
    EXPECT_EQ(mpAdd(w.data(), max.data(), one.data(), 2), 1u);
    EXPECT_EQ(mpIsZero(w.data(), 2), 1);
    EXPECT_EQ(mpSubtract(w.data(), w.data(), one.data(), 2), 1u);
    EXPECT_EQ(w, max);
    EXPECT_EQ(mpIsNegative(w.data(), 2), 1);
    Digits a(2);
    mpAbs(a.data(), w.data(), 2);
    EXPECT_EQ(a, one);
    mpNegate(a.data(), one.data(), 2);
    EXPECT_EQ(a, max);
    EXPECT_EQ(mpShortAdd(w.data(), max.data(), 2, 2), 1u);
    EXPECT_EQ(w, one);
    EXPECT_EQ(mpShortSub(w.data(), one.data(), 2, 2), 1u);
    EXPECT_EQ(w, max);
    EXPECT_EQ(mpCompare(one.data(), max.data(), 2), -1);
    EXPECT_EQ(mpCompare(max.data(), one.data(), 2), 1);
    EXPECT_EQ(mpCompare(max.data(), max.data(), 2), 0);
}

TEST(BignumModular, InverseExistsOnlyForCoprimeValues)
{
    DIGIT_T u[1] = {3}, m[1] = {7}, inv[1] = {99};
    EXPECT_EQ(mpModInv(inv, u, m, 1), 0);
    EXPECT_EQ(inv[0], 5u);
    u[0] = 7;
    m[0] = 21;
    EXPECT_NE(mpModInv(inv, u, m, 1), 0);
    EXPECT_EQ(inv[0], 0u);
    u[0] = 0;
    EXPECT_NE(mpModInv(inv, u, m, 1), 0);
}

TEST(BignumModular, AdditionAndSubtractionWrapOnce)
{
    DIGIT_T two[1] = {2}, five[1] = {5}, m[1] = {7}, r[1];
    EXPECT_EQ(mpModSub(r, two, five, m, 1), 0);
    EXPECT_EQ(r[0], 4u);

    // m - 1 + m - 1 = m - 2, with a modulus that fills every digit.
    const Digits big_m = num({0xFFFFFFC5u, 0xFFFFFFFFu}, 2);
    Digits m1(2), sum(2);
    mpShortSub(m1.data(), big_m.data(), 1, 2);
    EXPECT_EQ(mpModAdd(sum.data(), m1.data(), m1.data(), big_m.data(), 2), 0);
    Digits want(2);
    mpShortSub(want.data(), big_m.data(), 2, 2);
    EXPECT_EQ(sum, want);

    // Operands above m are reduced first.
    DIGIT_T nine[1] = {9}, twenty[1] = {20};
    EXPECT_EQ(mpModAdd(r, nine, twenty, m, 1), 0);
    EXPECT_EQ(r[0], 1u);
    EXPECT_EQ(mpModSub(r, nine, twenty, m, 1), 0);
    EXPECT_EQ(r[0], 3u);
}

TEST(BignumModular, RefusesZeroModulusAndOversizeOperands)
{
    std::vector<DIGIT_T> x(33, 1), m(33, 0), r(33, 0xAA);
    EXPECT_EQ(mpModAdd(r.data(), x.data(), x.data(), m.data(), 4), -1);
    m[0] = 7;
    EXPECT_EQ(mpModAdd(r.data(), x.data(), x.data(), m.data(), 33), -1);
    EXPECT_EQ(mpModSub(r.data(), x.data(), x.data(), m.data(), 0), -1);
    EXPECT_EQ(mpModulo(r.data(), x.data(), 4, std::vector<DIGIT_T>(4, 0).data(), 4), -1);
}

TEST(BignumDivision, SmallTopDigitNeedsTheFullNormalisingShift)
{
    // v = 2^32 + 1 (top digit 1: shift of 31); u = v * q + r with known q, r.
    const Digits v = num({1, 1}, 2);
    const Digits q_want = num({0xDEADBEEFu, 0x12345678u, 0x0000ABCDu}, 4);
    const Digits r_want = num({0x00000007u, 0}, 2);
    Digits prod(8, 0), v4 = num({1, 1}, 4), u(8, 0);
    mpMultiply(prod.data(), q_want.data(), v4.data(), 4);
    Digits r4 = num({7}, 8);
    mpAdd(u.data(), prod.data(), r4.data(), 8);

    Digits q(8), r(2);
    ASSERT_EQ(mpDivide(q.data(), r.data(), u.data(), 8, v.data(), 2), 0);
    EXPECT_EQ(Digits(q.begin(), q.begin() + 4), q_want);
    EXPECT_EQ(mpIsZero(q.data() + 4, 4), 1);
    EXPECT_EQ(r, r_want);

    // A divisor with more digits than its value needs.
    Digits v_wide = num({3, 0, 0}, 3), r3(3);
    ASSERT_EQ(mpDivide(q.data(), r3.data(), u.data(), 8, v_wide.data(), 3), 0);
    Digits back(16);
    DIGIT_T rem = mpShortDiv(back.data(), u.data(), 3, 8);
    EXPECT_EQ(Digits(q.begin(), q.end()), Digits(back.begin(), back.begin() + 8));
    EXPECT_EQ(r3, num({rem}, 3));

    // Zero divisor.
    Digits zero(2, 0);
    EXPECT_EQ(mpDivide(q.data(), r.data(), u.data(), 8, zero.data(), 2), -1);
}

}  // namespace
