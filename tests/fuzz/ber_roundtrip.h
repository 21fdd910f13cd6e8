// The property the key-transport decoder is held to on any input: it never
// reads outside the input; what it splits lies within the input; and the
// parts it returns encode back into a structure that decodes to the same
// parts, byte for byte equal to the input when the input used the shortest
// length forms. Returns false when the property is broken.
#ifndef BER_ROUNDTRIP_H
#define BER_ROUNDTRIP_H

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "zkc_ber.h"

namespace ber_check {

struct Parts {
    const unsigned char *p[8] = {};
    std::size_t n[8] = {};
};

inline int decode(const unsigned char *in, std::size_t len, Parts &o)
{
    return ber_decode_GostR3410_KeyTransport(in, len, &o.p[0], &o.n[0], &o.p[1], &o.n[1], &o.p[2], &o.n[2], &o.p[3],
                                             &o.n[3], &o.p[4], &o.n[4], &o.p[5], &o.n[5], &o.p[6], &o.n[6], &o.p[7],
                                             &o.n[7]);
}

// Encodes the parts as the key transport does; the caller frees *out.
inline int encode(const Parts &o, unsigned char **out, std::size_t *out_len)
{
    unsigned char *sek = nullptr, *eph = nullptr, *tp = nullptr;
    std::size_t sek_len = 0, eph_len = 0, tp_len = 0;
    int ok = ber_encode_Gost28147_89_EncryptedKey(0, &sek, &sek_len, o.p[0], o.n[0], o.p[1], o.n[1]);
    if (ok && o.p[3] != nullptr)
        ok = ber_encode_GostR3410_EphemeralPublicKey(0, &eph, &eph_len, o.p[3], o.n[3], o.p[4], o.n[4], o.p[5],
                                                     o.n[5], o.p[6], o.n[6]);
    if (ok)
        ok = ber_encode_GostR3410_TransportParameters(0, &tp, &tp_len, o.p[2], o.n[2], eph, eph_len, o.p[7], o.n[7]);
    if (ok)
        ok = ber_encode_GostR3410_KeyTransport(0, out, out_len, sek, sek_len, tp, tp_len);
    std::free(sek);
    std::free(eph);
    std::free(tp);
    return ok;
}

inline bool same_parts(const Parts &a, const Parts &b)
{
    for (int i = 0; i < 8; ++i)
        if (a.n[i] != b.n[i] || (a.p[i] == nullptr) != (b.p[i] == nullptr) ||
            (a.n[i] != 0 && std::memcmp(a.p[i], b.p[i], a.n[i]) != 0))
            return false;
    return true;
}

inline bool holds(const unsigned char *in, std::size_t len)
{
    Parts parts;
    if (!decode(in, len, parts)) {
        for (int i = 0; i < 8; ++i)
            if (parts.p[i] != nullptr || parts.n[i] != 0)
                return false;  // a failure hands out nothing
        return true;
    }
    for (int i = 0; i < 8; ++i)
        if (parts.p[i] != nullptr && (parts.p[i] < in || parts.n[i] > len || parts.p[i] + parts.n[i] > in + len))
            return false;
    unsigned char *again = nullptr;
    std::size_t again_len = 0;
    if (!encode(parts, &again, &again_len))
        return false;
    Parts reparsed;
    bool ok = decode(again, again_len, reparsed) && same_parts(parts, reparsed) && again_len <= len;
    if (ok && again_len == len) {
        // Only the BIT STRING's unused-bits byte (always written as 0) may differ.
        std::size_t unused_at = len;
        if (parts.p[6] != nullptr) {
            std::size_t n = parts.n[6];
            std::size_t header = n < 0x80 ? 2 : n <= 0xFF ? 3 : n <= 0xFFFF ? 4 : 5;
            unused_at = static_cast<std::size_t>(parts.p[6] - in) - header - 1;
        }
        for (std::size_t i = 0; ok && i < len; ++i)
            ok = i == unused_at ? again[i] == 0 : again[i] == in[i];
    }
    std::free(again);
    return ok;
}

}  // namespace ber_check

#endif
