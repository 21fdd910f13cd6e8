// Key agreement and key transport through the token engine on our software
// token: round trips on every curve, symmetric agreement, refusals with
// their lines, and nothing left on the token after any call.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/engine.h>
#include <openssl/evp.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../ameth/gost_test_keys.h"
#include "gost_objects.h"
#include "module_token.h"
#include "gost_params.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"
#include "pkcs11_keyx.h"
#include "zkc_ber.h"

namespace {

using Bytes = std::vector<unsigned char>;


ENGINE *token_engine()
{
    static ENGINE *e = [] {
        ENGINE_load_zk_p11_core();
        return ENGINE_by_id(ZK_P11_ENGINE_ID);
    }();
    return e;
}

struct CtxFree {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

// A key pair on the token and the EVP_PKEY the engine makes of it.
struct TokenKey {
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    Bytes value;
    PkeyPtr key;
};

struct Curve {
    GostObj alg;
    const GostParamSet *set;
    std::string name() const { return std::string(gost_obj_sn(alg)) + " " + set->oid; }
};

std::vector<Curve> every_curve()
{
    std::vector<Curve> out;
    for (GostObj a : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512})
        for (const GostParamSet &set : gost_paramsets(*gost_key_alg(nid(a))))
            out.push_back({a, &set});
    return out;
}

const Bytes kCek = pattern_bytes(32, 7);

// The lines a call wrote to stderr, with the "file:line " of the lines that
// carry one left out.
std::string without_places(const std::string &text)
{
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos + 1);
        std::size_t colon = line.find(".cpp:");
        if (colon != std::string::npos && line.rfind('/', colon) != std::string::npos)
            line = line.substr(line.find(' ', colon) + 1);
        out += line;
        pos = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

class KeyTransport : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(token_engine(), nullptr);
        token_ = make_module_token(ModuleKind::softtoken);
        ASSERT_TRUE(token_->ok()) << token_->error();
        f_ = token_->functions();
        s_ = token_->open_session(true);
        ASSERT_NE(s_, 0u);
        P11_ENGINE_CTX *ctx = p11_engine_ctx(token_engine());
        ctx->function_list = f_;
        ctx->slot_id = token_->slot();
    }
    void TearDown() override
    {
        p11_engine_ctx(token_engine())->function_list = nullptr;
        token_.reset();
    }

    // A key pair on the token (CKA_ID from its value), as the tool's key
    // generation leaves it.
    TokenKey generate(const Curve &c)
    {
        const GostKeyAlg *alg = gost_key_alg(nid(c.alg));
        CK_MECHANISM mech{alg->keygen_mechanism, nullptr, 0};
        Bytes curve(c.set->der, c.set->der + c.set->der_len), hash = oid_der(nid(alg->hash_params));
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE pub_tmpl[] = {{CKA_TOKEN, &yes, 1},
                                   {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
                                   {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()}};
        CK_ATTRIBUTE priv_tmpl[] = {{CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_DERIVE, &yes, 1}};
        TokenKey k;
        EXPECT_EQ(f_->C_GenerateKeyPair(s_, &mech, pub_tmpl, 3, priv_tmpl, 3, &k.pub, &k.priv), CKR_OK);
        k.value.resize(alg->pub_key_len);
        CK_ATTRIBUTE get{CKA_VALUE, k.value.data(), k.value.size()};
        EXPECT_EQ(f_->C_GetAttributeValue(s_, k.pub, &get, 1), CKR_OK);
        unsigned char id[20];
        pkcs11_id_gen(k.value.data(), alg->pub_key_len, id);
        CK_ATTRIBUTE set_id{CKA_ID, id, sizeof id};
        EXPECT_EQ(f_->C_SetAttributeValue(s_, k.pub, &set_id, 1), CKR_OK);
        EXPECT_EQ(f_->C_SetAttributeValue(s_, k.priv, &set_id, 1), CKR_OK);
        k.key = gost_key_from_values(nid(c.alg), c.set->nid(), k.value);
        return k;
    }

    // Every object the test's session sees (token and session objects).
    std::size_t objects()
    {
        EXPECT_EQ(f_->C_FindObjectsInit(s_, nullptr, 0), CKR_OK);
        CK_OBJECT_HANDLE h[64];
        CK_ULONG n = 0;
        EXPECT_EQ(f_->C_FindObjects(s_, h, 64, &n), CKR_OK);
        EXPECT_EQ(f_->C_FindObjectsFinal(s_), CKR_OK);
        return n;
    }

    // EVP_PKEY_encrypt of the content key for `to`, optionally from `from`.
    Bytes wrap(EVP_PKEY *to, EVP_PKEY *from, const Bytes &cek, std::string *err = nullptr, const Bytes &ukm = {})
    {
        CtxPtr ctx(EVP_PKEY_CTX_new(to, nullptr));
        EXPECT_EQ(EVP_PKEY_encrypt_init(ctx.get()), 1);
        if (from != nullptr) {
            EXPECT_EQ(EVP_PKEY_derive_set_peer(ctx.get(), from), 1);
        }
        if (!ukm.empty()) {
            EXPECT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_SET_IV, static_cast<int>(ukm.size()),
                                        const_cast<unsigned char *>(ukm.data())),
                      1);
        }
        testing::internal::CaptureStderr();
        std::size_t len = 0;
        Bytes out;
        if (EVP_PKEY_encrypt(ctx.get(), nullptr, &len, cek.data(), cek.size()) == 1) {
            out.resize(len);
            if (EVP_PKEY_encrypt(ctx.get(), out.data(), &len, cek.data(), cek.size()) == 1)
                out.resize(len);
            else
                out.clear();
        }
        std::string text = testing::internal::GetCapturedStderr();
        if (err != nullptr)
            *err = without_places(text);
        return out;
    }

    // EVP_PKEY_decrypt with `own`, optionally naming the sender; the output
    // buffer starts filled with 0xAA.
    int unwrap(EVP_PKEY *own, EVP_PKEY *from, const Bytes &transport, Bytes &out, std::string *err = nullptr)
    {
        CtxPtr ctx(EVP_PKEY_CTX_new(own, nullptr));
        EXPECT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
        if (from != nullptr) {
            EXPECT_EQ(EVP_PKEY_derive_set_peer(ctx.get(), from), 1);
        }
        out.assign(32, 0xAA);
        std::size_t len = out.size();
        testing::internal::CaptureStderr();
        int rc = EVP_PKEY_decrypt(ctx.get(), out.data(), &len, transport.data(), transport.size());
        std::string text = testing::internal::GetCapturedStderr();
        if (err != nullptr)
            *err = without_places(text);
        if (rc == 1)
            out.resize(len);
        return rc;
    }

    CK_FUNCTION_LIST *f_ = nullptr;
    CK_SESSION_HANDLE s_ = 0;
    std::unique_ptr<ModuleToken> token_;
};

// The parts of a transport (ber_decode_GostR3410_KeyTransport's order).
struct Parts {
    const unsigned char *p[8] = {};
    std::size_t n[8] = {};
    Bytes at(int i) const { return p[i] ? Bytes(p[i], p[i] + n[i]) : Bytes{}; }
};
bool split(const Bytes &t, Parts &o)
{
    return ber_decode_GostR3410_KeyTransport(t.data(), t.size(), &o.p[0], &o.n[0], &o.p[1], &o.n[1], &o.p[2], &o.n[2],
                                             &o.p[3], &o.n[3], &o.p[4], &o.n[4], &o.p[5], &o.n[5], &o.p[6], &o.n[6],
                                             &o.p[7], &o.n[7]) == 1;
}

// The transport again, with its encrypted key and MAC replaced.
Bytes rebuilt(const Parts &o, const Bytes &enc_key, const Bytes &mac)
{
    auto take = [](unsigned char *raw, std::size_t len) {
        Bytes b(raw, raw + len);
        std::free(raw);
        return b;
    };
    unsigned char *raw = nullptr;
    std::size_t len = 0;
    ber_encode_Gost28147_89_EncryptedKey(0, &raw, &len, enc_key.data(), enc_key.size(), mac.data(), mac.size());
    Bytes sek = take(raw, len), eph;
    if (o.p[3] != nullptr) {
        ber_encode_GostR3410_EphemeralPublicKey(0, &raw, &len, o.p[3], o.n[3], o.p[4], o.n[4], o.p[5], o.n[5], o.p[6],
                                                o.n[6]);
        eph = take(raw, len);
    }
    ber_encode_GostR3410_TransportParameters(0, &raw, &len, o.p[2], o.n[2], eph.data(), eph.size(), o.p[7], o.n[7]);
    Bytes tp = take(raw, len);
    ber_encode_GostR3410_KeyTransport(0, &raw, &len, sek.data(), sek.size(), tp.data(), tp.size());
    return take(raw, len);
}

// The module's function list with C_GenerateKeyPair watched: the CKA_TOKEN
// values of every template it is given.
struct GenerateSpy {
    static CK_FUNCTION_LIST *real;
    static std::vector<std::string> token_flags;  // "true", "false" or "absent", per template
    static CK_RV generate(CK_SESSION_HANDLE s, CK_MECHANISM_PTR m, CK_ATTRIBUTE_PTR pub, CK_ULONG npub,
                          CK_ATTRIBUTE_PTR priv, CK_ULONG npriv, CK_OBJECT_HANDLE_PTR hpub, CK_OBJECT_HANDLE_PTR hpriv)
    {
        for (auto [t, n] : {std::make_pair(pub, npub), std::make_pair(priv, npriv)}) {
            std::string flag = "absent";
            for (CK_ULONG i = 0; i < n; ++i)
                if (t[i].type == CKA_TOKEN)
                    flag = *static_cast<CK_BBOOL *>(t[i].pValue) ? "true" : "false";
            token_flags.push_back(flag);
        }
        return real->C_GenerateKeyPair(s, m, pub, npub, priv, npriv, hpub, hpriv);
    }
    // The agreement fails as for a peer value off the curve (which the
    // token no longer lets anyone store).
    static bool fail_derive;
    static CK_RV derive(CK_SESSION_HANDLE s, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE base, CK_ATTRIBUTE_PTR t,
                        CK_ULONG n, CK_OBJECT_HANDLE_PTR out)
    {
        return fail_derive ? CKR_MECHANISM_PARAM_INVALID : real->C_DeriveKey(s, m, base, t, n, out);
    }
    static CK_FUNCTION_LIST *watch(CK_FUNCTION_LIST *f)
    {
        static CK_FUNCTION_LIST list;
        real = f;
        list = *f;
        list.C_GenerateKeyPair = generate;
        list.C_DeriveKey = derive;
        token_flags.clear();
        return &list;
    }
};
CK_FUNCTION_LIST *GenerateSpy::real = nullptr;
std::vector<std::string> GenerateSpy::token_flags;
bool GenerateSpy::fail_derive = false;

}  // namespace

TEST_F(KeyTransport, WrapUnwrapRoundTripsOnEveryCurveWithAndWithoutSenderKey)
{
    for (const Curve &c : every_curve()) {
        const GostKeyAlg *alg = gost_key_alg(nid(c.alg));
        TokenKey recipient = generate(c), sender = generate(c);
        for (bool with_sender : {false, true}) {
            SCOPED_TRACE(c.name() + (with_sender ? " with sender key" : " ephemeral"));
            std::size_t before = objects();
            EVP_PKEY *from = with_sender ? sender.key.get() : nullptr;
            std::string err;
            Bytes t = wrap(recipient.key.get(), from, kCek, &err);
            ASSERT_FALSE(t.empty()) << err;
            EXPECT_EQ(err, "");
            Parts parts;
            ASSERT_TRUE(split(t, parts));
            EXPECT_EQ(parts.n[0], 32u);
            EXPECT_EQ(parts.n[1], 4u);
            EXPECT_EQ(parts.n[7], alg->pub_key_len / 8);
            EXPECT_EQ(parts.n[6], with_sender ? 0u : alg->pub_key_len);
            EXPECT_NE(parts.at(0), kCek);
            Bytes out;
            ASSERT_EQ(unwrap(recipient.key.get(), from, t, out, &err), 1) << err;
            EXPECT_EQ(out, kCek);
            EXPECT_EQ(objects(), before);
        }
    }
}

TEST_F(KeyTransport, VkoAgreementIsSymmetricAndTheAgreedKeysAreDestroyed)
{
    const Bytes ukm = pattern_bytes(16, 3);
    for (const Curve &c : every_curve()) {
        SCOPED_TRACE(c.name());
        TokenKey a = generate(c), b = generate(c);
        auto agree = [&](EVP_PKEY *own, EVP_PKEY *peer, const Bytes &u) {
            CtxPtr ctx(EVP_PKEY_CTX_new(own, nullptr));
            EXPECT_EQ(EVP_PKEY_derive_init(ctx.get()), 1);
            EXPECT_EQ(EVP_PKEY_derive_set_peer(ctx.get(), peer), 1);
            EXPECT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_SET_IV, static_cast<int>(u.size()),
                                        const_cast<unsigned char *>(u.data())),
                      1);
            std::size_t len = 0;
            EXPECT_EQ(EVP_PKEY_derive(ctx.get(), nullptr, &len), 1);
            EXPECT_EQ(len, 32u);
            Bytes key(len);
            EXPECT_EQ(EVP_PKEY_derive(ctx.get(), key.data(), &len), 1);
            return key;
        };
        Bytes ab = agree(a.key.get(), b.key.get(), ukm);
        EXPECT_EQ(ab, agree(b.key.get(), a.key.get(), ukm));
        EXPECT_NE(ab, agree(a.key.get(), b.key.get(), pattern_bytes(16, 4)));

        // The token's agreed-key object does not outlive the call.
        std::size_t before = objects();
        Bytes direct(32);
        std::size_t len = direct.size();
        EXPECT_EQ(pkcs11_vko_derive(static_cast<unsigned int>(b.value.size()), token_engine(), direct.data(), &len,
                                    b.value.data(), s_, a.priv, ukm.data(), b.value.size() / 8),
                  1);
        EXPECT_EQ(direct, ab);
        EXPECT_EQ(objects(), before);
    }
}

TEST_F(KeyTransport, DamagedOrMismatchedTransportsAreRefusedWithTheirLines)
{
    const Curve a256{GostObj::gost3410_2012_256, gost_paramset_find(GostKeySize::bits256, nid(GostObj::gost2001_cryptopro_a_paramset))};
    const Curve b256{GostObj::gost3410_2012_256, gost_paramset_find(GostKeySize::bits256, nid(GostObj::gost2001_cryptopro_b_paramset))};
    const Curve a512{GostObj::gost3410_2012_512, gost_paramset_find(GostKeySize::bits512, nid(GostObj::gost3410_2012_512_paramset_a))};
    TokenKey r256 = generate(a256), other256 = generate(b256), r512 = generate(a512), s256 = generate(a256);
    Bytes t256 = wrap(r256.key.get(), nullptr, kCek), t512 = wrap(r512.key.get(), nullptr, kCek);
    Bytes static256 = wrap(r256.key.get(), s256.key.get(), kCek);
    Parts p256;
    ASSERT_TRUE(split(t256, p256));
    const Bytes key = p256.at(0), mac = p256.at(1);
    Bytes tampered_mac = mac;
    tampered_mac[2] ^= 0x10;
    Bytes tampered_key = key;
    tampered_key[31] ^= 0x01;
    struct Case {
        const char *name;
        TokenKey *own;
        TokenKey *sender;
        Bytes transport;
        std::string lines;
    } cases[] = {
        {"MAC altered", &r256, nullptr, rebuilt(p256, key, tampered_mac),
         "gost3410_kek_dec. Wrong MAC\ngost3410_kek_dec failed, rc = 6"},
        {"encrypted key altered", &r256, nullptr, rebuilt(p256, tampered_key, mac),
         "gost3410_kek_dec. Wrong MAC\ngost3410_kek_dec failed, rc = 6"},
        {"512-bit transport, 256-bit key", &r256, nullptr, t512,
         "Private key type doesn't match to input data\ngost3410_kek_dec failed, rc = 32"},
        {"other parameter set", &other256, nullptr, t256,
         "Private key GOST R3410 param OID doesn't match to input data\ngost3410_kek_dec failed, rc = 32"},
        {"3-byte MAC", &r256, nullptr, rebuilt(p256, key, Bytes(mac.begin(), mac.end() - 1)),
         "gost3410_kek_dec. Invalid MAC length: 3\ngost3410_kek_dec failed, rc = 32"},
        {"empty MAC", &r256, nullptr, rebuilt(p256, key, {}),
         "gost3410_kek_dec. Invalid MAC length: 0\ngost3410_kek_dec failed, rc = 32"},
        {"5-byte MAC", &r256, nullptr, rebuilt(p256, key, concat(mac, {0})),
         "gost3410_kek_dec. Invalid MAC length: 5\ngost3410_kek_dec failed, rc = 32"},
        {"40-byte encrypted key", &r256, nullptr, rebuilt(p256, concat(key, Bytes(8, 0)), mac),
         "gost3410_kek_dec. Invalid encrypted key length: 40\ngost3410_kek_dec failed, rc = 32"},
        {"24-byte encrypted key", &r256, nullptr, rebuilt(p256, Bytes(key.begin(), key.begin() + 24), mac),
         "gost3410_kek_dec. Invalid encrypted key length: 24\ngost3410_kek_dec failed, rc = 32"},
        {"other sender named", &r256, &other256, t256, ""},  // refused by OpenSSL: curves differ
        {"wrong sender named", &r256, &s256, t256,
         "Given sender public key doesn't match to input data\ngost3410_kek_dec failed, rc = 32"},
        {"no ephemeral key and no sender", &r256, nullptr, static256,
         "Sender public key not set\ngost3410_kek_dec failed, rc = 32"},
        {"cut short", &r256, nullptr, Bytes(t256.begin(), t256.end() - 1), ""},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t before = objects();
        Bytes out;
        std::string err;
        if (std::string(c.name) == "other sender named") {
            CtxPtr ctx(EVP_PKEY_CTX_new(c.own->key.get(), nullptr));
            ASSERT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
            EXPECT_NE(EVP_PKEY_derive_set_peer(ctx.get(), c.sender->key.get()), 1);
            continue;
        }
        EXPECT_EQ(unwrap(c.own->key.get(), c.sender ? c.sender->key.get() : nullptr, c.transport, out, &err), 0);
        if (!c.lines.empty())
            EXPECT_EQ(err, c.lines);
        else
            EXPECT_NE(err.find("gost3410_kek_dec. ber_decode_GostR3410_KeyTransport failed: 0x0\n"), std::string::npos)
                << err;
        EXPECT_EQ(out, Bytes(32, 0xAA)) << "the output is not written";
        EXPECT_EQ(objects(), before);
    }
    for (std::size_t at = 0; at < mac.size(); ++at) {
        Bytes changed = mac, out;
        changed[at] ^= 0x01;
        EXPECT_EQ(unwrap(r256.key.get(), nullptr, rebuilt(p256, key, changed), out), 0) << "MAC byte " << at;
    }
}

TEST_F(KeyTransport, RefusedWrapsAndDerivationsSayWhyAndLeaveNothing)
{
    const Curve a256{GostObj::gost2001, gost_paramset_find(GostKeySize::bits256, nid(GostObj::gost2001_cryptopro_a_paramset))};
    const Curve a512{GostObj::gost3410_2012_512, gost_paramset_find(GostKeySize::bits512, nid(GostObj::gost3410_2012_512_paramset_a))};
    TokenKey r = generate(a256), big = generate(a512), big2 = generate(a512);
    PkeyPtr stranger = gost_key_from_values(nid(a256.alg), a256.set->nid(), pattern_bytes(64, 1));  // not on the token
    std::size_t before = objects();
    std::string err;
    EXPECT_TRUE(wrap(r.key.get(), nullptr, pattern_bytes(16, 1), &err).empty());
    EXPECT_EQ(err, "gost3410_kek_enc. Invalid input key data length: 16\ngost3410_kek_enc failed, rc = 0x6\n");
    EXPECT_TRUE(wrap(r.key.get(), nullptr, kCek, &err, Bytes(8, 0)).empty());
    EXPECT_EQ(err, "pkey_pkcs11_encrypt: zero UKM is deprecated\n");
    EXPECT_TRUE(wrap(big.key.get(), nullptr, kCek, &err, pattern_bytes(8, 1)).empty());
    EXPECT_EQ(err, "pkey_pkcs11_encrypt: UKM of 8 bytes, 16 needed\n");
    Bytes with_ukm = wrap(big.key.get(), nullptr, kCek, &err, pattern_bytes(20, 1));
    Parts parts;
    ASSERT_TRUE(split(with_ukm, parts));
    EXPECT_EQ(parts.at(7), pattern_bytes(16, 1));

    struct Derive {
        const char *name;
        EVP_PKEY *own, *peer;
        Bytes ukm;
        std::string lines;
    } derives[] = {
        {"no peer", r.key.get(), nullptr, pattern_bytes(8, 1), "pkey_pkcs11_derive: peer key not set\n"},
        {"zero UKM", big.key.get(), big2.key.get(), concat(pattern_bytes(8, 1), Bytes(8, 0)), ""},
        {"all-zero UKM", big.key.get(), big2.key.get(), Bytes(16, 0), "pkey_pkcs11_derive: zero UKM is deprecated\n"},
        {"short UKM", big.key.get(), big2.key.get(), pattern_bytes(8, 1), "pkey_pkcs11_derive: UKM of 8 bytes, 16 needed\n"},
        {"no UKM", big.key.get(), big2.key.get(), {}, "pkey_pkcs11_derive: UKM not set\n"},
        {"key not on the token", stranger.get(), r.key.get(), pattern_bytes(8, 1),
         "Token private key not found\npkey_pkcs11_derive: Private key not found\n"},
    };
    for (const Derive &d : derives) {
        SCOPED_TRACE(d.name);
        CtxPtr ctx(EVP_PKEY_CTX_new(d.own, nullptr));
        ASSERT_EQ(EVP_PKEY_derive_init(ctx.get()), 1);
        if (d.peer != nullptr) {
            ASSERT_EQ(EVP_PKEY_derive_set_peer(ctx.get(), d.peer), 1);
        }
        if (!d.ukm.empty())
            EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_SET_IV, static_cast<int>(d.ukm.size()),
                              const_cast<unsigned char *>(d.ukm.data()));
        Bytes key(32);
        std::size_t len = key.size();
        testing::internal::CaptureStderr();
        int rc = EVP_PKEY_derive(ctx.get(), key.data(), &len);
        err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc == 1, d.lines.empty()) << err;  // only the high half of the UKM is zero
        EXPECT_EQ(err, d.lines);
    }
    EXPECT_EQ(objects(), before);
}

TEST_F(KeyTransport, EphemeralKeysAreSessionObjectsDestroyedOnEveryPath)
{
    const Curve a{GostObj::gost3410_2012_256, gost_paramset_find(GostKeySize::bits256, nid(GostObj::gost2001_cryptopro_a_paramset))};
    const Curve b{GostObj::gost3410_2012_256, gost_paramset_find(GostKeySize::bits256, nid(GostObj::gost2001_cryptopro_b_paramset))};
    TokenKey r = generate(a), sender_elsewhere = generate(b);
    Bytes z = oid_der(nid(GostObj::gost28147_param_z));
    // The agreement fails after the ephemeral pair was made.
    struct Case {
        const char *name;
        CK_OBJECT_HANDLE recipient, sender;
        CK_RV rv;
        const char *line;
        bool fail_derive;
    } cases[] = {
        {"ephemeral pair", r.pub, 0, CKR_OK, "", false},
        {"sender on another curve", r.pub, sender_elsewhere.priv, CKR_OK, "", false},
        {"agreement fails", r.pub, 0, CKR_MECHANISM_PARAM_INVALID, "gost3410_kek_enc. C_DeriveKey failed, rc = 0x71\n",
         true},
        {"sender key handle invalid", r.pub, 0x7777, CKR_OBJECT_HANDLE_INVALID,
         "gost3410_kek_enc. C_GetAttributeValue failed, rc = 0x82\n", false},
    };
    Bytes ukm = pattern_bytes(8, 9);
    CK_FUNCTION_LIST *watched = GenerateSpy::watch(f_);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t before = objects();
        Bytes out(400);
        std::size_t len = out.size();
        testing::internal::CaptureStderr();
        GenerateSpy::fail_derive = c.fail_derive;
        CK_RV rv = gost3410_kek_enc(watched, s_, c.recipient, c.sender, z.data(), z.size(), ukm.data(), ukm.size(),
                                    kCek.data(), kCek.size(), out.data(), &len);
        GenerateSpy::fail_derive = false;
        std::string err = without_places(testing::internal::GetCapturedStderr());
        EXPECT_EQ(rv, c.rv);
        EXPECT_EQ(err, c.line);
        EXPECT_EQ(objects(), before) << "no object is left behind";
        if (rv == CKR_OK) {  // the sender on another curve made way for an ephemeral key
            Parts parts;
            ASSERT_TRUE(split(Bytes(out.begin(), out.begin() + len), parts));
            EXPECT_EQ(parts.n[6], 64u);
        }
    }
    // Private key material is never made a token object, not even for a moment.
    EXPECT_EQ(GenerateSpy::token_flags, std::vector<std::string>(6, "false"));

    // A short output buffer is told the size it needs.
    std::size_t len = 10;
    Bytes small(10);
    testing::internal::CaptureStderr();
    EXPECT_EQ(gost3410_kek_enc(f_, s_, r.pub, 0, z.data(), z.size(), ukm.data(), 8, kCek.data(), 32, small.data(), &len),
              CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "gost3410_kek_enc. Output buffer too small\n");
    EXPECT_EQ(len, 172u);
}
