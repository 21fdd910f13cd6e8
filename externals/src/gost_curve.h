// The crypto core's two GOST R 34.10 curve sizes behind one shape, for the
// code of the engine and of the provider that works on software keys: the
// core's per-size table (number and point types, curve lookup, public key,
// point check, multiplication, signing, verification, VKO) plus the key size
// in bytes, the name used in messages, private-value loading and point
// addition. Each call returns the core's code, 0 for success.
#ifndef GOST_CURVE_H
#define GOST_CURVE_H

#include <cstddef>
#include <cstdint>

#include "gostr3410_2012_sizes.h"

struct GostCurve256 : zkc::GostR3410<GOSTR3410_2012_256_DIGITS> {
    static constexpr std::size_t kBytes = GOSTR3410_2012_256_KEY_BYTES;
    static constexpr const char *kName = "GOSTR3410_2012_256";
    static constexpr auto load = GOSTR3410_2012_256_LoadPrivateKeyValue;
    static constexpr auto add = GOSTR3410_2012_256_AddPoints;
};

struct GostCurve512 : zkc::GostR3410<GOSTR3410_2012_512_DIGITS> {
    static constexpr std::size_t kBytes = GOSTR3410_2012_512_KEY_BYTES;
    static constexpr const char *kName = "GOSTR3410_2012_512";
    static constexpr auto load = GOSTR3410_2012_512_LoadPrivateKeyValue;
    static constexpr auto add = GOSTR3410_2012_512_AddPoints;
};

#endif
