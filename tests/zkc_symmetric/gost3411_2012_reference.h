// A reference GOST R 34.11-2012 for differential tests: the lookup-table
// compression as the core had it before its faster forms, kept here unchanged,
// and a whole-message hash written straight from the definition on top of it.
#ifndef GOST3411_2012_REFERENCE_H
#define GOST3411_2012_REFERENCE_H

#include <cstdint>
#include <vector>

namespace reference2012 {

struct Words {
    uint64_t w[8];
};

// g_n(h, m).
Words compress(const Words &h, const Words &m, const Words &n);

// The digest of a whole message (32 or 64 bytes, little-endian like the core's).
std::vector<uint8_t> digest(int bits, const std::vector<uint8_t> &message);

}  // namespace reference2012

#endif
