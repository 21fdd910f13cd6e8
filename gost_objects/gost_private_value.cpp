#include "gost_private_value.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <openssl/asn1.h>

namespace {

__attribute__((format(printf, 1, 2))) std::string line(const char *format, ...)
{
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

bool gost_private_value_from_der(const unsigned char *p, int len, unsigned int n, unsigned char *out,
                                 std::string *why)
{
    if (p == nullptr || len < 2 || (p[1] <= 0x7F && 2 + p[1] > len)) {
        *why = line("create_private_key: private key value truncated\n");
        return false;
    }
    if (p[1] > 0x7F) {
        *why = line("create_private_key: private key value length not in short form\n");
        return false;
    }
    unsigned int content_len = p[1];
    if (2 + content_len < static_cast<unsigned int>(len)) {
        *why = line("create_private_key: trailing bytes after the private key value (%u)\n",
                     static_cast<unsigned int>(len) - 2 - content_len);
        return false;
    }
    const unsigned char *content = p + 2;
    bool integer = p[0] == V_ASN1_INTEGER;
    if (!integer && p[0] != V_ASN1_OCTET_STRING) {
        *why = line("Unrecognized private key value format\n");
        return false;
    }
    bool leading_zero = integer && content_len == n + 1 && content[0] == 0;
    if (content_len > n && !leading_zero) {
        *why = line("create_private_key: private key value of %u bytes, longer than the key (%u)\n",
                     content_len, n);
        return false;
    }
    std::memset(out, 0, n);
    if (integer) {
        // The last bytes, most significant first, reversed into place.
        unsigned int k = content_len < n ? content_len : n;
        const unsigned char *last = content + content_len - k;
        for (unsigned int i = 0; i < k; ++i)
            out[i] = last[k - 1 - i];
    } else {
        std::memcpy(out, content, content_len);
    }
    return true;
}
