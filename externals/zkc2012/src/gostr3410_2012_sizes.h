// The GOST R 34.10 functions of the core for one key size, for C++ code
// written once over both sizes: GostR3410<9> for 256-bit keys, GostR3410<17>
// for 512-bit ones (the digit counts of their numbers).
#ifndef GOSTR3410_2012_SIZES_H
#define GOSTR3410_2012_SIZES_H

#include <cstddef>

#include "gostr3410_2012.h"

namespace zkc {

template <std::size_t N> struct GostR3410;

template <> struct GostR3410<GOSTR3410_2012_256_DIGITS> {
    static constexpr std::size_t kDigits = GOSTR3410_2012_256_DIGITS;
    using Params = GOSTR3410_2012_256_PARAMS;
    using Point = GOSTR3410_2012_256_POINT;
    static constexpr auto get = GOSTR3410_2012_256_GetCurve;
    static constexpr auto find = GOSTR3410_2012_256_FindCurveByDerOid;
    static constexpr auto generate = GOSTR3410_2012_256_GeneratePublicKey;
    static constexpr auto check = ecCheckPuKey;
    static constexpr auto check_order = GOSTR3410_2012_256_CheckPublicKeyOrder;
    static constexpr auto mult = epMult;
    static constexpr auto unload = GOSTR3410_2012_256_UnloadPublicKeyValue;
    static constexpr auto sign = GOSTR3410_2012_256_Sign;
    static constexpr auto verify = GOSTR3410_2012_256_Verify;
    static constexpr auto vko = GOSTR3410_2012_256_Vko;
};

template <> struct GostR3410<GOSTR3410_2012_512_DIGITS> {
    static constexpr std::size_t kDigits = GOSTR3410_2012_512_DIGITS;
    using Params = GOSTR3410_2012_512_PARAMS;
    using Point = GOSTR3410_2012_512_POINT;
    static constexpr auto get = GOSTR3410_2012_512_GetCurve;
    static constexpr auto find = GOSTR3410_2012_512_FindCurveByDerOid;
    static constexpr auto generate = GOSTR3410_2012_512_GeneratePublicKey;
    static constexpr auto check = GOSTR3410_2012_512_CheckPublicKey;
    static constexpr auto check_order = GOSTR3410_2012_512_CheckPublicKeyOrder;
    static constexpr auto mult = depMult;
    static constexpr auto unload = GOSTR3410_2012_512_UnloadPublicKeyValue;
    static constexpr auto sign = GOSTR3410_2012_512_Sign;
    static constexpr auto verify = GOSTR3410_2012_512_Verify;
    static constexpr auto vko = GOSTR3410_2012_512_Vko;
};

}  // namespace zkc

#endif  // GOSTR3410_2012_SIZES_H
