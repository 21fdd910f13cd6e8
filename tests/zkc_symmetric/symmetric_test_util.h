// Small helpers of the symmetric-core tests: hex strings, byte reversal, a
// captured diagnostic stream.
#ifndef SYMMETRIC_TEST_UTIL_H
#define SYMMETRIC_TEST_UTIL_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// "a1 B2c3" -> {0xa1, 0xb2, 0xc3}; spaces are ignored.
Bytes hex(const std::string &text);
std::string to_hex(const uint8_t *data, size_t len);
inline std::string to_hex(const Bytes &b) { return to_hex(b.data(), b.size()); }
Bytes reversed(Bytes b);
Bytes bytes_of(const std::string &text);
// Deterministic pseudo-random bytes.
Bytes pseudo_random(size_t len, uint32_t seed);

// Points the core's diagnostic stream at a temporary file for the scope's
// lifetime; text() returns what was written so far.
class DiagCapture {
public:
    DiagCapture();
    ~DiagCapture();
    DiagCapture(const DiagCapture &) = delete;
    DiagCapture &operator=(const DiagCapture &) = delete;
    std::string text();

private:
    FILE *file_;
    FILE *previous_;
};

#endif
