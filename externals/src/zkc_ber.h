// A small BER codec for the GOST key-transport structure
// (GostR3410-KeyTransport, RFC 4490):
//
//   SEQUENCE {                                   -- GostR3410-KeyTransport
//     SEQUENCE { OCTET STRING encryptedKey,      -- Gost28147-89-EncryptedKey
//                OCTET STRING macKey }
//     [0] {                                      -- transportParameters
//       OBJECT IDENTIFIER encryptionParamSet,
//       [0] {                                    -- ephemeralPublicKey, optional
//         SEQUENCE { OBJECT IDENTIFIER algorithm,
//                    SEQUENCE { OID paramSet, OID digestParamSet } },
//         BIT STRING { 00, OCTET STRING publicKey } },
//       OCTET STRING ukm } }
//
// It works on plain byte buffers and knows nothing of tokens or OpenSSL.
// Every function returns 1 on success and 0 on failure, after one line on
// stderr. Encoders take a size-only flag first: when it is set they only
// store the total encoded length (the output buffer may be null and nothing
// is allocated); otherwise they allocate the result with malloc and hand it
// to the caller, who frees it with free(). Lengths from 0 to 16777215 are
// written in the shortest of the forms L, 81 L, 82 L L, 83 L L L.
//
// Decoders are given the number of bytes available and never read past
// them. They accept the short length form and the long forms 81, 82, 83;
// the indefinite form and longer forms are refused. An element decoder
// checks its tag and that the whole element lies within the available
// bytes; it outputs a pointer to the content, the content length and the
// element's total length.
#ifndef ZKC_BER_H
#define ZKC_BER_H

#include <cstddef>

// Largest content length any encoder writes (three length bytes).
constexpr std::size_t kBerMaxContentLen = 0xFFFFFF;

// ---- Element encoders ------------------------------------------------------

// 04 | length | content.
int ber_encode_OCTET_STRING(int size_only, unsigned char **out, std::size_t *out_len, const unsigned char *content,
                            std::size_t content_len);
// 03 | length | unused-bits byte | data: the content is data_len + 1 bytes.
int ber_encode_BIT_STRING(int size_only, unsigned char **out, std::size_t *out_len, unsigned char unused_bits,
                          const unsigned char *data, std::size_t data_len);
// 30 | length | content (already encoded elements).
int ber_encode_SEQUENCE(int size_only, unsigned char **out, std::size_t *out_len, const unsigned char *content,
                        std::size_t content_len);
// A0 (context-specific, constructed, 0) | length | content.
int ber_encode_CONTEXT_SPECIFIC(int size_only, unsigned char **out, std::size_t *out_len,
                                const unsigned char *content, std::size_t content_len);

// ---- Element decoders ------------------------------------------------------

int ber_decode_OCTET_STRING(const unsigned char *in, std::size_t in_len, const unsigned char **content,
                            std::size_t *content_len, std::size_t *total_len);
// The content pointer skips the unused-bits byte (its value is not checked)
// and the content length is the encoded length minus 1; an encoded length
// of 0 is refused.
int ber_decode_BIT_STRING(const unsigned char *in, std::size_t in_len, const unsigned char **content,
                          std::size_t *content_len, std::size_t *total_len);
int ber_decode_SEQUENCE(const unsigned char *in, std::size_t in_len, const unsigned char **content,
                        std::size_t *content_len, std::size_t *total_len);
int ber_decode_CONTEXT_SPECIFIC(const unsigned char *in, std::size_t in_len, const unsigned char **content,
                                std::size_t *content_len, std::size_t *total_len);

// ---- Structure encoders ----------------------------------------------------
// Arguments named *_oid are complete OBJECT IDENTIFIER elements (06, one
// length byte below 0x80, content); anything else is refused.

// SEQUENCE { OCTET STRING encrypted_key, OCTET STRING mac }.
int ber_encode_Gost28147_89_EncryptedKey(int size_only, unsigned char **out, std::size_t *out_len,
                                         const unsigned char *encrypted_key, std::size_t encrypted_key_len,
                                         const unsigned char *mac, std::size_t mac_len);
// [0] { SEQUENCE { alg_oid, SEQUENCE { param_oid, digest_oid } },
//       BIT STRING { 00, OCTET STRING pub_key } }.
int ber_encode_GostR3410_EphemeralPublicKey(int size_only, unsigned char **out, std::size_t *out_len,
                                            const unsigned char *alg_oid, std::size_t alg_oid_len,
                                            const unsigned char *param_oid, std::size_t param_oid_len,
                                            const unsigned char *digest_oid, std::size_t digest_oid_len,
                                            const unsigned char *pub_key, std::size_t pub_key_len);
// [0] { cipher_oid, ephemeral key element (left out when its length is 0),
//       OCTET STRING ukm }.
int ber_encode_GostR3410_TransportParameters(int size_only, unsigned char **out, std::size_t *out_len,
                                             const unsigned char *cipher_oid, std::size_t cipher_oid_len,
                                             const unsigned char *ephemeral_key, std::size_t ephemeral_key_len,
                                             const unsigned char *ukm, std::size_t ukm_len);
// SEQUENCE { encrypted-key element, transport-parameters element }; both are
// taken as they are.
int ber_encode_GostR3410_KeyTransport(int size_only, unsigned char **out, std::size_t *out_len,
                                      const unsigned char *encrypted_key_elem, std::size_t encrypted_key_elem_len,
                                      const unsigned char *transport_params_elem,
                                      std::size_t transport_params_elem_len);

// ---- Structure decoder -----------------------------------------------------

// Splits a whole key transport (exactly in_len bytes) into pointers into
// `in`: the contents of encryptedKey, macKey, the ephemeral public key and
// the UKM, and the complete OID elements (tag included) of the
// encryptionParamSet and of the ephemeral key's algorithm, parameter set and
// digest parameter set. Without an ephemeral key its four pairs are null and
// zero. Every element must fill its enclosing element exactly. Nothing is
// copied or allocated; on failure every output is null and zero.
int ber_decode_GostR3410_KeyTransport(const unsigned char *in, std::size_t in_len,
                                      const unsigned char **encrypted_key, std::size_t *encrypted_key_len,
                                      const unsigned char **mac, std::size_t *mac_len,
                                      const unsigned char **cipher_oid, std::size_t *cipher_oid_len,
                                      const unsigned char **alg_oid, std::size_t *alg_oid_len,
                                      const unsigned char **param_oid, std::size_t *param_oid_len,
                                      const unsigned char **digest_oid, std::size_t *digest_oid_len,
                                      const unsigned char **pub_key, std::size_t *pub_key_len,
                                      const unsigned char **ukm, std::size_t *ukm_len);

#endif
