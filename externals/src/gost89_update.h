// One GOST 28147-89 update over any length: the core takes 32-bit lengths,
// OpenSSL hands out up to SIZE_MAX bytes at once. out is null in MAC mode;
// otherwise each piece may write as many bytes as it reads. Returns the
// core's code (0 on success).
#ifndef GOST89_UPDATE_H
#define GOST89_UPDATE_H

#include <cstddef>
#include <cstdint>

#include "gost28147_89.h"

inline int gost89_update(GOST28147_89_CTX *ctx, const unsigned char *in, std::size_t inl, unsigned char *out)
{
    constexpr std::size_t kMaxPiece = std::size_t(1) << 30;
    do {
        std::size_t n = inl < kMaxPiece ? inl : kMaxPiece;
        GOST_DATA_BLOB bin = {static_cast<uint32_t>(n), const_cast<unsigned char *>(in)};
        GOST_DATA_BLOB bout = {static_cast<uint32_t>(n), out};
        int rc = GOST28147_89_Update(ctx, &bin, out ? &bout : nullptr);
        if (rc != 0)
            return rc;
        in += n;
        if (out)
            out += bout.cbData;
        inl -= n;
    } while (inl != 0);
    return 0;
}

#endif
