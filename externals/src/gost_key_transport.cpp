// The CryptoPro key wrap and the assembly of a key transport.
#include "gost_key_transport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "secret_string.h"
#include "zkc_ber.h"

namespace {

// A cipher context holds the key: wiped when done.
struct CipherCtx {
    GOST28147_89_CTX ctx{};
    CipherCtx() = default;
    CipherCtx(const CipherCtx &) = delete;
    CipherCtx &operator=(const CipherCtx &) = delete;
    ~CipherCtx() { secure_wipe(&ctx, sizeof ctx); }
};

bool cipher_step(int rc, const char *who, const char *step)
{
    if (rc != 0 && who != nullptr)
        std::fprintf(stderr, "%s. GOST28147_89_%s failed\n", who, step);
    return rc == 0;
}

// The 4-byte MAC of the 32-byte key under `key`, with the UKM as IV.
bool key_mac(const GOST28147_89_PARAM &par, const unsigned char *key, const unsigned char *ukm,
             const unsigned char *data, unsigned char *mac, const char *who)
{
    CipherCtx c;
    GOST_DATA_BLOB in{static_cast<uint32_t>(kKeyxKeyLen), const_cast<unsigned char *>(data)};
    if (!cipher_step(GOST28147_89_Init(&c.ctx, 1, par.table, GOST28147_89_MODE_MAC, 0, par.key_meshing, 0, ukm, key),
                     who, "Init") ||
        !cipher_step(GOST28147_89_Update(&c.ctx, &in, nullptr), who, "Update") ||
        !cipher_step(GOST28147_89_Final(&c.ctx), who, "Final"))
        return false;
    std::memcpy(mac, c.ctx.mac, kKeyxMacLen);
    return true;
}

// ECB encryption or decryption of the 32-byte key under `key`.
bool key_ecb(const GOST28147_89_PARAM &par, const unsigned char *key, int encrypt, const unsigned char *data,
             unsigned char *out, const char *who)
{
    CipherCtx c;
    GOST_DATA_BLOB in{static_cast<uint32_t>(kKeyxKeyLen), const_cast<unsigned char *>(data)};
    GOST_DATA_BLOB res{static_cast<uint32_t>(kKeyxKeyLen), out};
    return cipher_step(GOST28147_89_Init(&c.ctx, encrypt, par.table, GOST28147_89_MODE_ECB, 0, par.key_meshing, 0,
                                         nullptr, key),
                       who, "Init") &&
           cipher_step(GOST28147_89_Update(&c.ctx, &in, &res), who, "Update") &&
           (res.cbData == kKeyxKeyLen || cipher_step(-1, who, "Update"));
}

bool diversify(const GOST28147_89_PARAM &par, const unsigned char *kek, const unsigned char *ukm, unsigned char *out,
               const char *who)
{
    return cipher_step(GOST28147_89_KDF(par.table, kek, ukm, out), who, "KDF");
}

struct FreeBer {
    void operator()(unsigned char *p) const { std::free(p); }
};
using BerBuf = std::unique_ptr<unsigned char, FreeBer>;

}  // namespace

bool gost_key_wrap(const GOST28147_89_PARAM &par, const unsigned char *kek, const unsigned char *ukm,
                   const unsigned char *cek, unsigned char *enc_key, unsigned char *mac, const char *who)
{
    SecretBytes<kKeyxKeyLen> kek_ukm;
    return diversify(par, kek, ukm, kek_ukm.data, who) && key_mac(par, kek_ukm.data, ukm, cek, mac, who) &&
           key_ecb(par, kek_ukm.data, 1, cek, enc_key, who);
}

bool gost_key_unwrap(const GOST28147_89_PARAM &par, const unsigned char *kek, const unsigned char *ukm,
                     const unsigned char *enc_key, unsigned char *cek, unsigned char *mac, const char *who)
{
    SecretBytes<kKeyxKeyLen> kek_ukm;
    return diversify(par, kek, ukm, kek_ukm.data, who) && key_ecb(par, kek_ukm.data, 0, enc_key, cek, who) &&
           key_mac(par, kek_ukm.data, ukm, cek, mac, who);
}

bool encode_transport(const TransportParts &t, std::vector<unsigned char> *out, std::size_t *size)
{
    int size_only = out == nullptr;
    unsigned char *raw = nullptr;
    std::size_t sek_len = 0, eph_len = 0, tp_len = 0;
    if (!ber_encode_Gost28147_89_EncryptedKey(size_only, &raw, &sek_len, t.enc_key, kKeyxKeyLen, t.mac, kKeyxMacLen))
        return false;
    BerBuf sek(raw);
    raw = nullptr;
    if (t.alg_oid != nullptr &&
        !ber_encode_GostR3410_EphemeralPublicKey(size_only, &raw, &eph_len, t.alg_oid->data(), t.alg_oid->size(),
                                                 t.param_oid, t.param_oid_len, t.digest_oid, t.digest_oid_len, t.pub,
                                                 t.pub_len))
        return false;
    BerBuf eph(raw);
    raw = nullptr;
    if (size_only) {
        // The element encoders' size-only mode needs no content: a stand-in
        // of the right length sizes the enclosing elements.
        std::vector<unsigned char> stand_in(eph_len + sek_len);
        if (!ber_encode_GostR3410_TransportParameters(1, nullptr, &tp_len, t.cipher_oid, t.cipher_oid_len,
                                                      stand_in.data(), eph_len, t.ukm, t.ukm_len) ||
            !ber_encode_GostR3410_KeyTransport(1, nullptr, size, stand_in.data(), sek_len, stand_in.data(), tp_len))
            return false;
        return true;
    }
    if (!ber_encode_GostR3410_TransportParameters(0, &raw, &tp_len, t.cipher_oid, t.cipher_oid_len, eph.get(),
                                                  eph_len, t.ukm, t.ukm_len))
        return false;
    BerBuf tp(raw);
    raw = nullptr;
    std::size_t total = 0;
    if (!ber_encode_GostR3410_KeyTransport(0, &raw, &total, sek.get(), sek_len, tp.get(), tp_len))
        return false;
    BerBuf whole(raw);
    out->assign(whole.get(), whole.get() + total);
    *size = total;
    return true;
}

