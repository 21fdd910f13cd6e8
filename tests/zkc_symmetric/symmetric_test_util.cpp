#include "symmetric_test_util.h"

#include <algorithm>
#include <random>
#include <stdexcept>

#include "zkc_diag.h"

Bytes hex(const std::string &text)
{
    Bytes out;
    int nibble = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c == ' ' || c == '\n')
            continue;
        else
            throw std::invalid_argument("bad hex digit");
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(uint8_t(nibble << 4 | v));
            nibble = -1;
        }
    }
    if (nibble >= 0)
        throw std::invalid_argument("odd hex length");
    return out;
}

std::string to_hex(const uint8_t *data, size_t len)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < len; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

Bytes reversed(Bytes b)
{
    std::reverse(b.begin(), b.end());
    return b;
}

Bytes bytes_of(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes pseudo_random(size_t len, uint32_t seed)
{
    std::mt19937 gen(seed);
    Bytes out(len);
    for (auto &b : out)
        b = uint8_t(gen());
    return out;
}

DiagCapture::DiagCapture() : file_(std::tmpfile()), previous_(zkc_diag_set_stream(file_)) {}

DiagCapture::~DiagCapture()
{
    zkc_diag_set_stream(previous_);
    if (file_ != nullptr)
        std::fclose(file_);
}

std::string DiagCapture::text()
{
    if (file_ == nullptr)
        return {};
    std::fflush(file_);
    long end = std::ftell(file_);
    std::string s(size_t(end), '\0');
    std::rewind(file_);
    size_t got = std::fread(&s[0], 1, s.size(), file_);
    s.resize(got);
    std::fseek(file_, 0, SEEK_END);
    return s;
}
