// BER codec of the GOST key-transport structure.
#include "zkc_ber.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace {

constexpr unsigned char kTagOctetString = 0x04;
constexpr unsigned char kTagBitString = 0x03;
constexpr unsigned char kTagOid = 0x06;
constexpr unsigned char kTagSequence = 0x30;
constexpr unsigned char kTagContext0 = 0xA0;

#define BER_FUNCTION_FAILED(name) std::fprintf(stderr, "%s:%d %s Function Failed\n", __FILE__, __LINE__, name)
#define BER_LINE(text) std::fprintf(stderr, "%s:%d " text "\n", __FILE__, __LINE__)

// Number of length bytes for a content length; 0 when it is too long.
std::size_t length_bytes(std::size_t len)
{
    if (len < 0x80)
        return 1;
    if (len <= 0xFF)
        return 2;
    if (len <= 0xFFFF)
        return 3;
    if (len <= kBerMaxContentLen)
        return 4;
    return 0;
}

// Writes tag and length at p; returns the position after them.
unsigned char *put_header(unsigned char *p, unsigned char tag, std::size_t len)
{
    *p++ = tag;
    std::size_t n = length_bytes(len);
    if (n == 1) {
        *p++ = static_cast<unsigned char>(len);
        return p;
    }
    *p++ = static_cast<unsigned char>(0x80 + n - 1);
    for (std::size_t i = n - 1; i > 0; --i)
        *p++ = static_cast<unsigned char>(len >> (8 * (i - 1)));
    return p;
}

unsigned char *put_bytes(unsigned char *p, const unsigned char *bytes, std::size_t len)
{
    if (len != 0)
        std::memcpy(p, bytes, len);
    return p + len;
}

// Total size of an element with a content of len bytes; 0 when too long.
std::size_t element_size(std::size_t len)
{
    std::size_t n = length_bytes(len);
    return n == 0 ? 0 : 1 + n + len;
}

unsigned char *allocate(std::size_t len)
{
    auto *buf = static_cast<unsigned char *>(std::malloc(len));
    if (buf == nullptr)
        BER_LINE("Not Enough Memory in Context");
    return buf;
}

// One element whose content is an optional prefix byte and a byte string.
int encode_element(const char *name, unsigned char tag, int size_only, unsigned char **out, std::size_t *out_len,
                   const unsigned char *prefix, const unsigned char *content, std::size_t content_len)
{
    std::size_t prefix_len = prefix != nullptr ? 1 : 0;
    if (out_len == nullptr || content_len > kBerMaxContentLen - prefix_len ||
        (!size_only && (out == nullptr || (content == nullptr && content_len != 0)))) {
        BER_FUNCTION_FAILED(name);
        return 0;
    }
    std::size_t total = element_size(prefix_len + content_len);
    if (size_only) {
        *out_len = total;
        return 1;
    }
    unsigned char *buf = allocate(total);
    if (buf == nullptr)
        return 0;
    unsigned char *p = put_header(buf, tag, prefix_len + content_len);
    p = put_bytes(p, prefix, prefix_len);
    put_bytes(p, content, content_len);
    *out = buf;
    *out_len = total;
    return 1;
}

// Reads the tag and length of an element at in (avail bytes): the content
// must lie within them.
int decode_element(const char *name, unsigned char tag, const unsigned char *in, std::size_t avail,
                   const unsigned char **content, std::size_t *content_len, std::size_t *total_len)
{
    if (in == nullptr || content == nullptr || content_len == nullptr || total_len == nullptr || avail < 2 ||
        in[0] != tag) {
        BER_FUNCTION_FAILED(name);
        return 0;
    }
    std::size_t header = 2;
    std::size_t len = in[1];
    if (len >= 0x80) {
        std::size_t n = len - 0x80;
        if (n < 1 || n > 3 || avail < 2 + n) {
            BER_FUNCTION_FAILED(name);
            return 0;
        }
        len = 0;
        for (std::size_t i = 0; i < n; ++i)
            len = (len << 8) | in[2 + i];
        header += n;
    }
    if (len > avail - header) {
        BER_FUNCTION_FAILED(name);
        return 0;
    }
    *content = in + header;
    *content_len = len;
    *total_len = header + len;
    return 1;
}

// A complete OBJECT IDENTIFIER element: tag 06, one short length byte, at
// least one content byte.
bool is_oid_element(const unsigned char *oid, std::size_t len)
{
    return oid != nullptr && len >= 3 && oid[0] == kTagOid && oid[1] < 0x80 && len == 2u + oid[1];
}

// The OID element at the start of p (avail bytes): its length, or 0.
std::size_t oid_element_at(const unsigned char *p, std::size_t avail)
{
    if (avail < 3 || p[0] != kTagOid || p[1] == 0 || p[1] >= 0x80 || 2u + p[1] > avail)
        return 0;
    return 2u + p[1];
}

// A piece of a structure being written: a byte string, or the header of an
// element whose content follows as further pieces.
struct Piece {
    const unsigned char *bytes;
    std::size_t len;    // bytes: their number; header: the content length
    unsigned char tag;  // 0 for bytes
};

unsigned char *write_pieces(unsigned char *p, std::initializer_list<Piece> pieces)
{
    for (const Piece &piece : pieces)
        p = piece.tag != 0 ? put_header(p, piece.tag, piece.len) : put_bytes(p, piece.bytes, piece.len);
    return p;
}

Piece header(unsigned char tag, std::size_t content_len) { return {nullptr, content_len, tag}; }
Piece bytes(const unsigned char *b, std::size_t len) { return {b, len, 0}; }

// Allocates `total` bytes and writes the pieces into them.
int emit(unsigned char **out, std::size_t *out_len, std::size_t total, std::initializer_list<Piece> pieces)
{
    unsigned char *buf = allocate(total);
    if (buf == nullptr)
        return 0;
    write_pieces(buf, pieces);
    *out = buf;
    *out_len = total;
    return 1;
}

// Size of an element of `content_len` bytes through its element encoder in
// size-only mode; prints the structure's line when the encoder fails.
using SizeOnlyEncoder = int (*)(int, unsigned char **, std::size_t *, const unsigned char *, std::size_t);
bool sized(SizeOnlyEncoder encoder, const char *what, std::size_t content_len, std::size_t *size)
{
    if (encoder(1, nullptr, size, nullptr, content_len))
        return true;
    std::fprintf(stderr, "%s:%d Encode %s Failed\n", __FILE__, __LINE__, what);
    return false;
}

bool structure_args_ok(const char *name, int size_only, unsigned char **out, std::size_t *out_len,
                       std::initializer_list<std::pair<const unsigned char *, std::size_t>> inputs)
{
    bool ok = out_len != nullptr && (size_only || out != nullptr);
    for (const auto &[data, len] : inputs)
        ok = ok && (size_only || data != nullptr || len == 0);
    if (!ok)
        BER_FUNCTION_FAILED(name);
    return ok;
}

bool oid_args_ok(const char *name, std::initializer_list<std::pair<const unsigned char *, std::size_t>> oids)
{
    for (const auto &[oid, len] : oids)
        if (!is_oid_element(oid, len)) {
            BER_FUNCTION_FAILED(name);
            return false;
        }
    return true;
}

// The pointer-and-length outputs of the structure decoder.
struct TransportOutputs {
    const unsigned char **ptr[8];
    std::size_t *len[8];
    bool all_given() const
    {
        for (int i = 0; i < 8; ++i)
            if (ptr[i] == nullptr || len[i] == nullptr)
                return false;
        return true;
    }
    void clear() const
    {
        for (int i = 0; i < 8; ++i) {
            *ptr[i] = nullptr;
            *len[i] = 0;
        }
    }
};

}  // namespace

int ber_encode_OCTET_STRING(int size_only, unsigned char **out, std::size_t *out_len, const unsigned char *content,
                            std::size_t content_len)
{
    return encode_element("ber_encode_OCTET_STRING", kTagOctetString, size_only, out, out_len, nullptr, content,
                          content_len);
}

int ber_encode_BIT_STRING(int size_only, unsigned char **out, std::size_t *out_len, unsigned char unused_bits,
                          const unsigned char *data, std::size_t data_len)
{
    return encode_element("ber_encode_BIT_STRING", kTagBitString, size_only, out, out_len, &unused_bits, data,
                          data_len);
}

int ber_encode_SEQUENCE(int size_only, unsigned char **out, std::size_t *out_len, const unsigned char *content,
                        std::size_t content_len)
{
    return encode_element("ber_encode_SEQUENCE", kTagSequence, size_only, out, out_len, nullptr, content,
                          content_len);
}

int ber_encode_CONTEXT_SPECIFIC(int size_only, unsigned char **out, std::size_t *out_len,
                                const unsigned char *content, std::size_t content_len)
{
    return encode_element("ber_encode_CONTEXT_SPECIFIC", kTagContext0, size_only, out, out_len, nullptr, content,
                          content_len);
}

int ber_decode_OCTET_STRING(const unsigned char *in, std::size_t in_len, const unsigned char **content,
                            std::size_t *content_len, std::size_t *total_len)
{
    return decode_element("ber_decode_OCTET_STRING", kTagOctetString, in, in_len, content, content_len, total_len);
}

int ber_decode_BIT_STRING(const unsigned char *in, std::size_t in_len, const unsigned char **content,
                          std::size_t *content_len, std::size_t *total_len)
{
    const unsigned char *c = nullptr;
    std::size_t clen = 0, total = 0;
    if (!decode_element("ber_decode_BIT_STRING", kTagBitString, in, in_len, &c, &clen, &total))
        return 0;
    if (clen == 0) {
        BER_FUNCTION_FAILED("ber_decode_BIT_STRING");
        return 0;
    }
    *content = c + 1;
    *content_len = clen - 1;
    *total_len = total;
    return 1;
}

int ber_decode_SEQUENCE(const unsigned char *in, std::size_t in_len, const unsigned char **content,
                        std::size_t *content_len, std::size_t *total_len)
{
    return decode_element("ber_decode_SEQUENCE", kTagSequence, in, in_len, content, content_len, total_len);
}

int ber_decode_CONTEXT_SPECIFIC(const unsigned char *in, std::size_t in_len, const unsigned char **content,
                                std::size_t *content_len, std::size_t *total_len)
{
    return decode_element("ber_decode_CONTEXT_SPECIFIC", kTagContext0, in, in_len, content, content_len, total_len);
}

int ber_encode_Gost28147_89_EncryptedKey(int size_only, unsigned char **out, std::size_t *out_len,
                                         const unsigned char *encrypted_key, std::size_t encrypted_key_len,
                                         const unsigned char *mac, std::size_t mac_len)
{
    if (!structure_args_ok("ber_encode_Gost28147_89_EncryptedKey", size_only, out, out_len,
                           {{encrypted_key, encrypted_key_len}, {mac, mac_len}}))
        return 0;
    std::size_t key_size = 0, mac_size = 0, total = 0;
    if (!sized(ber_encode_OCTET_STRING, "Octet String", encrypted_key_len, &key_size) ||
        !sized(ber_encode_OCTET_STRING, "Octet String", mac_len, &mac_size) ||
        !sized(ber_encode_SEQUENCE, "Sequence", key_size + mac_size, &total))
        return 0;
    if (size_only) {
        *out_len = total;
        return 1;
    }
    return emit(out, out_len, total,
                {header(kTagSequence, key_size + mac_size), header(kTagOctetString, encrypted_key_len),
                 bytes(encrypted_key, encrypted_key_len), header(kTagOctetString, mac_len), bytes(mac, mac_len)});
}

int ber_encode_GostR3410_EphemeralPublicKey(int size_only, unsigned char **out, std::size_t *out_len,
                                            const unsigned char *alg_oid, std::size_t alg_oid_len,
                                            const unsigned char *param_oid, std::size_t param_oid_len,
                                            const unsigned char *digest_oid, std::size_t digest_oid_len,
                                            const unsigned char *pub_key, std::size_t pub_key_len)
{
    const char *name = "ber_encode_GostR3410_EphemeralPublicKey";
    if (!structure_args_ok(name, size_only, out, out_len, {{pub_key, pub_key_len}}) ||
        !oid_args_ok(name, {{alg_oid, alg_oid_len}, {param_oid, param_oid_len}, {digest_oid, digest_oid_len}}))
        return 0;
    std::size_t params_size = 0, alg_size = 0, key_size = 0, bits_size = 0, total = 0;
    auto bit_string = [](int, unsigned char **o, std::size_t *l, const unsigned char *, std::size_t n) {
        return ber_encode_BIT_STRING(1, o, l, 0, nullptr, n);
    };
    if (!sized(ber_encode_SEQUENCE, "Sequence", param_oid_len + digest_oid_len, &params_size) ||
        !sized(ber_encode_SEQUENCE, "Sequence", alg_oid_len + params_size, &alg_size) ||
        !sized(ber_encode_OCTET_STRING, "Octet String", pub_key_len, &key_size) ||
        !sized(bit_string, "Bit String", key_size, &bits_size) ||
        !sized(ber_encode_CONTEXT_SPECIFIC, "Context Specific", alg_size + bits_size, &total))
        return 0;
    if (size_only) {
        *out_len = total;
        return 1;
    }
    const unsigned char unused_bits = 0;
    return emit(out, out_len, total,
                {header(kTagContext0, alg_size + bits_size), header(kTagSequence, alg_oid_len + params_size),
                 bytes(alg_oid, alg_oid_len), header(kTagSequence, param_oid_len + digest_oid_len),
                 bytes(param_oid, param_oid_len), bytes(digest_oid, digest_oid_len),
                 header(kTagBitString, key_size + 1), bytes(&unused_bits, 1), header(kTagOctetString, pub_key_len),
                 bytes(pub_key, pub_key_len)});
}

int ber_encode_GostR3410_TransportParameters(int size_only, unsigned char **out, std::size_t *out_len,
                                             const unsigned char *cipher_oid, std::size_t cipher_oid_len,
                                             const unsigned char *ephemeral_key, std::size_t ephemeral_key_len,
                                             const unsigned char *ukm, std::size_t ukm_len)
{
    const char *name = "ber_encode_GostR3410_TransportParameters";
    if (!structure_args_ok(name, size_only, out, out_len, {{ephemeral_key, ephemeral_key_len}, {ukm, ukm_len}}) ||
        !oid_args_ok(name, {{cipher_oid, cipher_oid_len}}))
        return 0;
    std::size_t ukm_size = 0, total = 0;
    if (ephemeral_key_len > kBerMaxContentLen) {
        BER_FUNCTION_FAILED("ber_encode_CONTEXT_SPECIFIC");
        BER_LINE("Encode Context Specific Failed");
        return 0;
    }
    if (!sized(ber_encode_OCTET_STRING, "Octet String", ukm_len, &ukm_size) ||
        !sized(ber_encode_CONTEXT_SPECIFIC, "Context Specific", cipher_oid_len + ephemeral_key_len + ukm_size,
               &total))
        return 0;
    if (size_only) {
        *out_len = total;
        return 1;
    }
    return emit(out, out_len, total,
                {header(kTagContext0, cipher_oid_len + ephemeral_key_len + ukm_size), bytes(cipher_oid, cipher_oid_len),
                 bytes(ephemeral_key, ephemeral_key_len), header(kTagOctetString, ukm_len), bytes(ukm, ukm_len)});
}

int ber_encode_GostR3410_KeyTransport(int size_only, unsigned char **out, std::size_t *out_len,
                                      const unsigned char *encrypted_key_elem, std::size_t encrypted_key_elem_len,
                                      const unsigned char *transport_params_elem,
                                      std::size_t transport_params_elem_len)
{
    if (!structure_args_ok("ber_encode_GostR3410_KeyTransport", size_only, out, out_len,
                           {{encrypted_key_elem, encrypted_key_elem_len},
                            {transport_params_elem, transport_params_elem_len}}))
        return 0;
    std::size_t total = 0;
    if (encrypted_key_elem_len > kBerMaxContentLen || transport_params_elem_len > kBerMaxContentLen ||
        !sized(ber_encode_SEQUENCE, "Sequence", encrypted_key_elem_len + transport_params_elem_len, &total))
        return 0;
    if (size_only) {
        *out_len = total;
        return 1;
    }
    return emit(out, out_len, total,
                {header(kTagSequence, encrypted_key_elem_len + transport_params_elem_len),
                 bytes(encrypted_key_elem, encrypted_key_elem_len),
                 bytes(transport_params_elem, transport_params_elem_len)});
}

int ber_decode_GostR3410_KeyTransport(const unsigned char *in, std::size_t in_len,
                                      const unsigned char **encrypted_key, std::size_t *encrypted_key_len,
                                      const unsigned char **mac, std::size_t *mac_len,
                                      const unsigned char **cipher_oid, std::size_t *cipher_oid_len,
                                      const unsigned char **alg_oid, std::size_t *alg_oid_len,
                                      const unsigned char **param_oid, std::size_t *param_oid_len,
                                      const unsigned char **digest_oid, std::size_t *digest_oid_len,
                                      const unsigned char **pub_key, std::size_t *pub_key_len,
                                      const unsigned char **ukm, std::size_t *ukm_len)
{
    const char *name = "ber_decode_GostR3410_KeyTransport";
    const TransportOutputs outputs{{encrypted_key, mac, cipher_oid, alg_oid, param_oid, digest_oid, pub_key, ukm},
                                   {encrypted_key_len, mac_len, cipher_oid_len, alg_oid_len, param_oid_len,
                                    digest_oid_len, pub_key_len, ukm_len}};
    if (!outputs.all_given()) {
        BER_FUNCTION_FAILED(name);
        return 0;
    }
    outputs.clear();
    if (in == nullptr || in_len == 0) {
        BER_FUNCTION_FAILED(name);
        return 0;
    }
    auto fail = [&outputs](int line, const char *what) {
        std::fprintf(stderr, "%s:%d Decode %s Failed\n", __FILE__, line, what);
        outputs.clear();
        return 0;
    };

    const unsigned char *outer = nullptr, *sek = nullptr, *tp = nullptr;
    std::size_t outer_len = 0, sek_len = 0, tp_len = 0, total = 0, sek_total = 0, tp_total = 0;
    if (!ber_decode_SEQUENCE(in, in_len, &outer, &outer_len, &total) || total != in_len)
        return fail(__LINE__, "Sequence");
    if (!ber_decode_SEQUENCE(outer, outer_len, &sek, &sek_len, &sek_total))
        return fail(__LINE__, "SEQUENCE");

    // sessionEncryptedKey: encryptedKey then macKey, nothing more.
    std::size_t key_total = 0, mac_total = 0;
    if (!ber_decode_OCTET_STRING(sek, sek_len, encrypted_key, encrypted_key_len, &key_total) ||
        !ber_decode_OCTET_STRING(sek + key_total, sek_len - key_total, mac, mac_len, &mac_total))
        return fail(__LINE__, "OCTET STRING");
    if (key_total + mac_total != sek_len)
        return fail(__LINE__, "SEQUENCE");

    // transportParameters: the rest of the outer SEQUENCE.
    if (!ber_decode_CONTEXT_SPECIFIC(outer + sek_total, outer_len - sek_total, &tp, &tp_len, &tp_total) ||
        sek_total + tp_total != outer_len)
        return fail(__LINE__, "CONTEXT SPECIFIC");
    std::size_t oid_len = oid_element_at(tp, tp_len);
    if (oid_len == 0)
        return fail(__LINE__, "CONTEXT SPECIFIC");
    *cipher_oid = tp;
    *cipher_oid_len = oid_len;
    const unsigned char *rest = tp + oid_len;
    std::size_t rest_len = tp_len - oid_len;

    if (rest_len != 0 && rest[0] == kTagContext0) {
        const unsigned char *eph = nullptr, *alg = nullptr, *params = nullptr, *bits = nullptr, *key = nullptr;
        std::size_t eph_len = 0, eph_total = 0, alg_len = 0, alg_total = 0, params_len = 0, params_total = 0;
        std::size_t bits_len = 0, bits_total = 0, key_len = 0, key_elem_total = 0;
        if (!ber_decode_CONTEXT_SPECIFIC(rest, rest_len, &eph, &eph_len, &eph_total))
            return fail(__LINE__, "CONTEXT SPECIFIC");
        if (!ber_decode_SEQUENCE(eph, eph_len, &alg, &alg_len, &alg_total))
            return fail(__LINE__, "SEQUENCE");
        std::size_t alg_oid_size = oid_element_at(alg, alg_len);
        if (alg_oid_size == 0 ||
            !ber_decode_SEQUENCE(alg + alg_oid_size, alg_len - alg_oid_size, &params, &params_len, &params_total) ||
            alg_oid_size + params_total != alg_len)
            return fail(__LINE__, "SEQUENCE");
        std::size_t param_size = oid_element_at(params, params_len);
        std::size_t digest_size = param_size == 0 ? 0 : oid_element_at(params + param_size, params_len - param_size);
        if (digest_size == 0 || param_size + digest_size != params_len)
            return fail(__LINE__, "SEQUENCE");
        if (!ber_decode_BIT_STRING(eph + alg_total, eph_len - alg_total, &bits, &bits_len, &bits_total))
            return fail(__LINE__, "BIT STRING");
        if (alg_total + bits_total != eph_len)
            return fail(__LINE__, "CONTEXT SPECIFIC");
        if (!ber_decode_OCTET_STRING(bits, bits_len, &key, &key_len, &key_elem_total))
            return fail(__LINE__, "OCTET STRING");
        if (key_elem_total != bits_len)
            return fail(__LINE__, "BIT STRING");
        *alg_oid = alg;
        *alg_oid_len = alg_oid_size;
        *param_oid = params;
        *param_oid_len = param_size;
        *digest_oid = params + param_size;
        *digest_oid_len = digest_size;
        *pub_key = key;
        *pub_key_len = key_len;
        rest += eph_total;
        rest_len -= eph_total;
    }
    std::size_t ukm_total = 0;
    if (!ber_decode_OCTET_STRING(rest, rest_len, ukm, ukm_len, &ukm_total))
        return fail(__LINE__, "OCTET STRING");
    if (ukm_total != rest_len)
        return fail(__LINE__, "CONTEXT SPECIFIC");
    return 1;
}
