// The crypto core's two GOST R 34.10 curve sizes behind one shape, for the
// code of the engine and of the provider that works on software keys: the
// number and point types, the sizes and the core's calls (each returns the
// core's code, 0 for success).
#ifndef GOST_CURVE_H
#define GOST_CURVE_H

#include <cstddef>
#include <cstdint>

#include "gostr3410_2012.h"

struct GostCurve256 {
    using Params = GOSTR3410_2012_256_PARAMS;
    using Point = GOSTR3410_2012_256_POINT;
    static constexpr std::size_t kDigits = GOSTR3410_2012_256_DIGITS;
    static constexpr std::size_t kBytes = GOSTR3410_2012_256_KEY_BYTES;
    static constexpr const char *kName = "GOSTR3410_2012_256";
    static int find(const uint8_t *der, uint32_t len, const Params **p) { return GOSTR3410_2012_256_FindParByDerOid(der, len, p); }
    static int load(const uint8_t *key, DIGIT_T *d) { return GOSTR3410_2012_256_LoadPrivateKeyValue(key, d); }
    static int generate(const Params *p, const DIGIT_T *d, Point *q) { return GOSTR3410_2012_256_GeneratePublicKey(p, d, q); }
    static int unload(const Point *q, uint8_t *out) { return GOSTR3410_2012_256_UnloadPublicKeyValue(q, out); }
    static int check(const Params *p, const Point *q) { return ecCheckPuKey(p, q); }
    static int mult(Point *out, const Point *q, const DIGIT_T *k, const Params *p) { return epMult(out, q, k, p); }
    static int add(Point *out, const Point *a, const Point *b, const Params *p) { return GOSTR3410_2012_256_AddPoints(out, a, b, p); }
};

struct GostCurve512 {
    using Params = GOSTR3410_2012_512_PARAMS;
    using Point = GOSTR3410_2012_512_POINT;
    static constexpr std::size_t kDigits = GOSTR3410_2012_512_DIGITS;
    static constexpr std::size_t kBytes = GOSTR3410_2012_512_KEY_BYTES;
    static constexpr const char *kName = "GOSTR3410_2012_512";
    static int find(const uint8_t *der, uint32_t len, const Params **p) { return GOSTR3410_2012_512_FindParByDerOid(der, len, p); }
    static int load(const uint8_t *key, DIGIT_T *d) { return GOSTR3410_2012_512_LoadPrivateKeyValue(key, d); }
    static int generate(const Params *p, const DIGIT_T *d, Point *q) { return GOSTR3410_2012_512_GeneratePublicKey(p, d, q); }
    static int unload(const Point *q, uint8_t *out) { return GOSTR3410_2012_512_UnloadPublicKeyValue(q, out); }
    static int check(const Params *p, const Point *q) { return GOSTR3410_2012_512_CheckPublicKey(p, q); }
    static int mult(Point *out, const Point *q, const DIGIT_T *k, const Params *p) { return depMult(out, q, k, p); }
    static int add(Point *out, const Point *a, const Point *b, const Params *p) { return GOSTR3410_2012_512_AddPoints(out, a, b, p); }
};

#endif
