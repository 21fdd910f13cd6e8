// The provider's GOST R 34.10 keys against the engine on the same inputs:
// published key pairs decode to their public values and encode to the
// engine's bytes; signatures made by either verify with the other and VKO
// agrees with the engine's on our software token, on every curve; bad
// input fails with the provider's reason. Provider keys live in a library
// context of their own, so the engine loaded beside them never gets their
// work.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE: the engine is the reference
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/provider.h>

#include <functional>

#include "gost_params.h"
#include "gost_test_keys.h"
#include "module_token.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"
#include "pkcs11_core_eng.h"
#include "provider.h"
#include "zkc_ber.h"

namespace {

using Bytes = std::vector<unsigned char>;
struct CtxFree { void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); } };
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

OSSL_LIB_CTX *lib() {
    static OSSL_LIB_CTX *l = [] {
        OSSL_LIB_CTX *c = OSSL_LIB_CTX_new();
        OSSL_PROVIDER_set_default_search_path(c, TOKENCERT_BINARY_DIR "/providers");
        EXPECT_TRUE(OSSL_PROVIDER_load(c, ZK_PROVIDER_NAME) && OSSL_PROVIDER_load(c, "default"));
        return c;
    }();
    return l;
}
ENGINE *engine() {
    static ENGINE *e = [] { ENGINE_load_zk_p11_core(); return ENGINE_by_id(ZK_P11_ENGINE_ID); }();
    return e;
}

Bytes le_number(const std::string &hex_digits, std::size_t n) {
    Bytes be = hex(std::string(2 * n - hex_digits.size(), '0') + hex_digits);
    return Bytes(be.rbegin(), be.rend());
}

// The provider's reason of the last failure, or what else failed.
std::string last_reason() {
    unsigned long e = ERR_peek_last_error();
    const char *lib_name = ERR_lib_error_string(e), *reason = ERR_reason_error_string(e);
    ERR_clear_error();
    return lib_name && std::string(lib_name) == ZK_PROVIDER_NAME && reason ? reason : "(not the provider's)";
}

PkeyPtr provider_decode(const Bytes &der, const char *structure, int selection) {
    EVP_PKEY *key = nullptr;
    std::unique_ptr<OSSL_DECODER_CTX, void (*)(OSSL_DECODER_CTX *)> d(
        OSSL_DECODER_CTX_new_for_pkey(&key, "DER", structure, nullptr, selection, lib(), nullptr), OSSL_DECODER_CTX_free);
    const unsigned char *p = der.data();
    std::size_t len = der.size();
    return PkeyPtr(d && OSSL_DECODER_from_data(d.get(), &p, &len) ? key : nullptr);
}
Bytes provider_encode(const EVP_PKEY *key, const char *structure, int selection) {
    std::unique_ptr<OSSL_ENCODER_CTX, void (*)(OSSL_ENCODER_CTX *)> e(
        OSSL_ENCODER_CTX_new_for_pkey(key, selection, "DER", structure, nullptr), OSSL_ENCODER_CTX_free);
    unsigned char *out = nullptr;
    std::size_t len = 0;
    Bytes der;
    if (e && OSSL_ENCODER_to_data(e.get(), &out, &len))
        der.assign(out, out + len);
    OPENSSL_free(out);
    return der;
}
Bytes octets(const EVP_PKEY *key, const char *name) {
    Bytes out(128);
    std::size_t len = 0;
    EXPECT_TRUE(EVP_PKEY_get_octet_string_param(key, name, out.data(), out.size(), &len)) << name;
    out.resize(len);
    return out;
}
Bytes engine_spki(EVP_PKEY *key) {
    unsigned char *der = nullptr;
    int len = i2d_PUBKEY(key, &der);
    Bytes out(der, der + std::max(len, 0));
    OPENSSL_free(der);
    return out;
}

// A signature of m, and whether one verifies: through the provider with
// the key's own digest (md null), or through the engine with md.
Bytes sign(EVP_PKEY *key, const EVP_MD *md, const Bytes &m) {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> c(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    Bytes sig(128);
    std::size_t len = sig.size();
    bool init = md ? EVP_DigestSignInit(c.get(), nullptr, md, nullptr, key) == 1
                   : EVP_DigestSignInit_ex(c.get(), nullptr, nullptr, lib(), nullptr, key, nullptr) == 1;
    if (!init || EVP_DigestSign(c.get(), sig.data(), &len, m.data(), m.size()) != 1)
        return {};
    sig.resize(len);
    return sig;
}
bool verify(EVP_PKEY *key, const EVP_MD *md, const Bytes &m, const Bytes &sig) {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> c(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool init = md ? EVP_DigestVerifyInit(c.get(), nullptr, md, nullptr, key) == 1
                   : EVP_DigestVerifyInit_ex(c.get(), nullptr, nullptr, lib(), nullptr, key, nullptr) == 1;
    return init && EVP_DigestVerify(c.get(), sig.data(), sig.size(), m.data(), m.size()) == 1;
}

// VKO of own with peer under the UKM: the provider's (key exchange with
// "ukm") or the engine's (derive with the UKM control).
Bytes vko(EVP_PKEY *own, EVP_PKEY *peer, const Bytes &ukm, bool provider) {
    CtxPtr c(provider ? EVP_PKEY_CTX_new_from_pkey(lib(), own, nullptr) : EVP_PKEY_CTX_new(own, nullptr));
    OSSL_PARAM params[] = {OSSL_PARAM_construct_octet_string(ZK_EXCHANGE_PARAM_UKM, const_cast<unsigned char *>(ukm.data()), ukm.size()),
                           OSSL_PARAM_END};
    Bytes out(32);
    std::size_t len = out.size();
    bool ok = c && EVP_PKEY_derive_init(c.get()) == 1 &&
              (provider ? EVP_PKEY_CTX_set_params(c.get(), params) == 1
                        : EVP_PKEY_CTX_ctrl(c.get(), -1, -1, EVP_PKEY_CTRL_SET_IV, int(ukm.size()), const_cast<unsigned char *>(ukm.data())) == 1) &&
              EVP_PKEY_derive_set_peer(c.get(), peer) == 1 && EVP_PKEY_derive(c.get(), out.data(), &len) == 1;
    out.resize(ok ? len : 0);
    return out;
}

// A key transport of cek to key, or the content key of a transport with
// key: through the provider or the engine, by the key's own context.
Bytes transport(EVP_PKEY *key, const Bytes &in, bool encrypt, bool provider) {
    CtxPtr c(provider ? EVP_PKEY_CTX_new_from_pkey(lib(), key, nullptr) : EVP_PKEY_CTX_new(key, nullptr));
    Bytes out(512);
    std::size_t len = out.size();
    bool ok = c && (encrypt ? EVP_PKEY_encrypt_init(c.get()) == 1 && EVP_PKEY_encrypt(c.get(), out.data(), &len, in.data(), in.size()) == 1
                            : EVP_PKEY_decrypt_init(c.get()) == 1 && EVP_PKEY_decrypt(c.get(), out.data(), &len, in.data(), in.size()) == 1);
    out.resize(ok ? len : 0);
    return out;
}

PkeyPtr provider_keygen(const char *alg, const char *paramset) {
    CtxPtr c(EVP_PKEY_CTX_new_from_name(lib(), alg, nullptr));
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(ZK_PARAM_PARAMSET, const_cast<char *>(paramset), 0), OSSL_PARAM_END};
    EVP_PKEY *key = nullptr;
    bool ok = c && EVP_PKEY_keygen_init(c.get()) == 1 && EVP_PKEY_CTX_set_params(c.get(), params) == 1 &&
              EVP_PKEY_generate(c.get(), &key) == 1;
    return PkeyPtr(ok ? key : nullptr);
}

// A key imported from a parameter set and one value ("priv" or "pub").
PkeyPtr provider_fromdata(const char *alg, const char *group, const char *name, Bytes value) {
    CtxPtr c(EVP_PKEY_CTX_new_from_name(lib(), alg, nullptr));
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char *>(group), 0),
                           OSSL_PARAM_construct_octet_string(name, value.data(), value.size()), OSSL_PARAM_END};
    EVP_PKEY *key = nullptr;
    bool ok = c && EVP_PKEY_fromdata_init(c.get()) == 1 && EVP_PKEY_fromdata(c.get(), &key, EVP_PKEY_KEYPAIR, params) == 1;
    return PkeyPtr(ok ? key : nullptr);
}

// Our software token, attached to the engine for the test.
class ProviderKeys : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(lib(), nullptr);
        ASSERT_NE(engine(), nullptr);
        token_ = make_module_token(ModuleKind::softtoken);
        ASSERT_TRUE(token_->ok()) << token_->error();
        s_ = token_->open_session(true);
        ASSERT_NE(s_, 0u);
        P11_ENGINE_CTX *ctx = p11_engine_ctx(engine());
        ctx->function_list = token_->functions();
        ctx->slot_id = token_->slot();
    }
    void TearDown() override {
        p11_engine_ctx(engine())->function_list = nullptr;
        token_.reset();
    }
    // The engine's key for a provider key: its private value on the token
    // under the CKA_ID of its public value.
    PkeyPtr engine_key(int alg_nid, const GostParamSet &set, EVP_PKEY *provider_key) {
        const GostKeyAlg *alg = gost_key_alg(alg_nid);
        Bytes priv = octets(provider_key, OSSL_PKEY_PARAM_PRIV_KEY), pub = octets(provider_key, OSSL_PKEY_PARAM_PUB_KEY);
        Bytes curve(set.der, set.der + set.der_len), hash = oid_der(gost_nid(alg->hash_params)), id(20);
        pkcs11_id_gen(pub.data(), unsigned(pub.size()), id.data());
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_KEY_TYPE type = alg->key_type;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_KEY_TYPE, &type, sizeof type}, {CKA_TOKEN, &yes, 1},
                            {CKA_PRIVATE, &yes, 1}, {CKA_SIGN, &yes, 1}, {CKA_DERIVE, &yes, 1},
                            {CKA_VALUE, priv.data(), priv.size()}, {CKA_ID, id.data(), id.size()},
                            {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()}, {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()}};
        CK_OBJECT_HANDLE h = 0;
        EXPECT_EQ(token_->functions()->C_CreateObject(s_, t, sizeof t / sizeof t[0], &h), CKR_OK);
        return gost_key_from_values(alg_nid, set.nid(), pub);
    }
    std::unique_ptr<ModuleToken> token_;
    CK_SESSION_HANDLE s_ = 0;
};

// RFC 5832 / RFC 7091 (256-bit test curve) and RFC 9215 appendix D.3
// (512-bit test curve): d, then the x and y of d*P.
const std::string d256 = "7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28",
                  x256 = "7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B",
                  y256 = "26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA",
                  d512 = "0BA6048AADAE241BA40936D47756D7C93091A0E8514669700EE7508E508B102072E8123B2200A0563322DAD2827E2714A2636B7BFD18AADFC62967821FA18DD4",
                  x512 = "115DC5BC96760C7B48598D8AB9E740D4C4A85A65BE33C1815B5C320C854621DD5A515856D13314AF69BC5B924C8B4DDFF75C45415C1D9DD9DD33612CD530EFE1",
                  y512 = "37C7C90CD40B0F5621DC3AC1B751CFA0E2634FA0503B3D52639F5D7FB72AFD61EA199441D943FFE7F0C70A2759A3CDB84C114E1F9339FDF27F35ECA93677BEEC";
struct Published { GostObj alg, set; const std::string &d, &x, &y; };
const Published kPublished[] = {
    {GostObj::gost2001, GostObj::gost2001_test_paramset, d256, x256, y256},
    {GostObj::gost3410_2012_256, GostObj::gost2001_test_paramset, d256, x256, y256},
    {GostObj::gost3410_2012_512, GostObj::gost3410_2012_512_paramset_test, d512, x512, y512},
};

const GostObj kAlgs[] = {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512};

}  // namespace

TEST(ProviderKeyEncoding, PublishedPairsGiveTheirPublicValueAndTheEnginesBytes) {
    ASSERT_NE(lib(), nullptr);
    ASSERT_NE(engine(), nullptr);
    for (const Published &c : kPublished)
        for (bool integer : {false, true}) {
            SCOPED_TRACE(std::string(gost_obj_sn(c.alg)) + (integer ? " INTEGER" : " OCTET STRING"));
            std::size_t n = gost_key_alg(nid(c.alg))->priv_key_len;
            Bytes priv = le_number(c.d, n), pkcs8 = gost_pkcs8_der(nid(c.alg), nid(c.set), integer ? integer_element(priv) : octet_string_element(priv));
            PkeyPtr ours = provider_decode(pkcs8, "PrivateKeyInfo", EVP_PKEY_KEYPAIR), theirs = key_from_pkcs8(pkcs8);
            ASSERT_TRUE(ours && theirs);
            EXPECT_EQ(octets(ours.get(), OSSL_PKEY_PARAM_PUB_KEY), concat(le_number(c.x, n), le_number(c.y, n)));
            EXPECT_EQ(octets(ours.get(), OSSL_PKEY_PARAM_PRIV_KEY), priv);
            EXPECT_EQ(provider_encode(ours.get(), "PrivateKeyInfo", EVP_PKEY_KEYPAIR), pkcs8_of(theirs.get()));
            Bytes spki = engine_spki(theirs.get());
            EXPECT_EQ(provider_encode(ours.get(), "SubjectPublicKeyInfo", EVP_PKEY_PUBLIC_KEY), spki);
            PkeyPtr pub = provider_decode(spki, "SubjectPublicKeyInfo", EVP_PKEY_PUBLIC_KEY),
                    imported = provider_fromdata(gost_obj_oid(c.alg), gost_obj_oid(c.set), OSSL_PKEY_PARAM_PRIV_KEY, priv);
            ASSERT_TRUE(pub && imported);
            EXPECT_EQ(EVP_PKEY_eq(pub.get(), ours.get()), 1);
            EXPECT_EQ(EVP_PKEY_eq(imported.get(), ours.get()), 1);
        }
}

TEST_F(ProviderKeys, SignaturesVerifyEitherWayAndVkoIsTheEnginesOnEveryCurve) {
    const Bytes m = pattern_bytes(100, 3), ukm = pattern_bytes(16, 5);
    for (GostObj a : kAlgs)
        for (const GostParamSet &set : gost_paramsets(*gost_key_alg(nid(a)))) {
            SCOPED_TRACE(std::string(gost_obj_sn(a)) + " " + set.oid);
            const GostKeyAlg *alg = gost_key_alg(nid(a));
            PkeyPtr ours = provider_keygen(gost_obj_oid(a), set.oid), peer = provider_keygen(gost_obj_oid(a), set.letter ? set.letter : set.oid);
            ASSERT_TRUE(ours && peer);
            PkeyPtr theirs = engine_key(nid(a), set, ours.get());
            PkeyPtr their_peer = gost_key_from_values(nid(a), set.nid(), octets(peer.get(), OSSL_PKEY_PARAM_PUB_KEY));
            const EVP_MD *md = EVP_get_digestbynid(gost_nid(alg->default_digest));
            Bytes by_provider = sign(ours.get(), nullptr, m), by_engine = sign(theirs.get(), md, m);
            EXPECT_EQ(by_provider.size(), alg->sig_len);
            EXPECT_TRUE(verify(theirs.get(), md, m, by_provider));
            EXPECT_TRUE(verify(ours.get(), nullptr, m, by_engine));
            by_engine[alg->sig_len - 1] ^= 1;
            EXPECT_FALSE(verify(ours.get(), nullptr, m, by_engine));
            Bytes agreed = vko(ours.get(), peer.get(), Bytes(ukm.begin(), ukm.begin() + alg->pub_key_len / 8), true);
            EXPECT_EQ(agreed.size(), 32u);
            EXPECT_EQ(agreed, vko(peer.get(), ours.get(), Bytes(ukm.begin(), ukm.begin() + alg->pub_key_len / 8), true));
            EXPECT_EQ(agreed, vko(theirs.get(), their_peer.get(), ukm, false));
        }
}

TEST_F(ProviderKeys, KeyTransportsOfEitherUnwrapWithTheOtherOnEveryCurveAndAlteredOnesAreRefused) {
    const Bytes cek = pattern_bytes(32, 9);
    for (GostObj a : kAlgs)
        for (const GostParamSet &set : gost_paramsets(*gost_key_alg(nid(a)))) {
            SCOPED_TRACE(std::string(gost_obj_sn(a)) + " " + set.oid);
            PkeyPtr ours = provider_keygen(gost_obj_oid(a), set.oid);
            ASSERT_TRUE(ours);
            PkeyPtr theirs = engine_key(nid(a), set, ours.get());
            Bytes by_provider = transport(ours.get(), cek, true, true), by_engine = transport(theirs.get(), cek, true, false);
            EXPECT_EQ(transport(theirs.get(), by_provider, false, false), cek);
            EXPECT_EQ(transport(ours.get(), by_engine, false, true), cek);
            EXPECT_NE(by_provider, transport(ours.get(), cek, true, true));
            const unsigned char *field[9] = {};
            std::size_t len[9] = {};
            ASSERT_EQ(ber_decode_GostR3410_KeyTransport(by_provider.data(), by_provider.size(), &field[0], &len[0], &field[1], &len[1],
                                                        &field[2], &len[2], &field[3], &len[3], &field[4], &len[4], &field[5], &len[5],
                                                        &field[6], &len[6], &field[7], &len[7]), 1);
            EXPECT_EQ(Bytes(field[3], field[3] + len[3]), oid_der(nid(a)));  // the ephemeral key's algorithm
            EXPECT_EQ(len[7], 8u);                                            // UKM
            for (int which : {0, 1, 6}) {  // encrypted key, MAC, ephemeral key
                Bytes altered = by_provider;
                altered[field[which] - by_provider.data() + len[which] - 1] ^= 1;
                ERR_clear_error();
                EXPECT_TRUE(transport(ours.get(), altered, false, true).empty()) << which;
                EXPECT_EQ(last_reason(), which == 6 ? "invalid GOST R 34.10 key" : "key transport MAC mismatch") << which;
            }
        }
}

TEST(ProviderKeyErrors, BadInputFailsWithTheProvidersReason) {
    ASSERT_NE(lib(), nullptr);
    const int k256 = nid(GostObj::gost3410_2012_256), a256 = nid(GostObj::gost2001_cryptopro_a_paramset);
    const Bytes ff(32, 0xFF), zero(32, 0);
    PkeyPtr published = provider_decode(gost_pkcs8_der(k256, nid(GostObj::gost2001_test_paramset), octet_string_element(le_number(d256, 32))),
                                        "PrivateKeyInfo", EVP_PKEY_KEYPAIR);
    ASSERT_TRUE(published);
    Bytes spki = provider_encode(published.get(), "SubjectPublicKeyInfo", EVP_PKEY_PUBLIC_KEY), off_curve = spki;
    off_curve.back() ^= 1;
    auto pkcs8 = [&](int param_nid, const Bytes &element) {
        return [=] { return provider_decode(gost_pkcs8_der(k256, param_nid, element), "PrivateKeyInfo", EVP_PKEY_KEYPAIR) != nullptr; };
    };
    auto exchange = [&](Bytes ukm) { return [&published, ukm] { return vko(published.get(), published.get(), ukm, true).size() == 32; }; };
    struct Case { const char *what; std::function<bool()> run; const char *reason; } cases[] = {
        {"PKCS#8 value longer than the key", pkcs8(a256, octet_string_element(Bytes(33, 1))), "malformed key encoding"},
        {"PKCS#8 value of another type", pkcs8(a256, {0x03, 0x02, 0x00, 0x01}), "malformed key encoding"},
        {"PKCS#8 value truncated", pkcs8(a256, {0x04, 0x20, 0x01}), "malformed key encoding"},
        {"PKCS#8 value zero", pkcs8(a256, octet_string_element(zero)), "invalid GOST R 34.10 key"},
        {"PKCS#8 value above q", pkcs8(a256, octet_string_element(ff)), "invalid GOST R 34.10 key"},
        {"PKCS#8 curve of the other size", pkcs8(nid(GostObj::gost3410_2012_512_paramset_a), octet_string_element(ff)),
         "unknown GOST R 34.10 parameter set"},
        {"SPKI point off the curve", [&] { return provider_decode(off_curve, "SubjectPublicKeyInfo", EVP_PKEY_PUBLIC_KEY) != nullptr; },
         "malformed key encoding"},
        {"SPKI truncated", [&] { return provider_decode(Bytes(spki.begin(), spki.end() - 1), "SubjectPublicKeyInfo", EVP_PKEY_PUBLIC_KEY) != nullptr; },
         "(not the provider's)"},
        {"import of a point off the curve", [&] {
             Bytes pub = octets(published.get(), OSSL_PKEY_PARAM_PUB_KEY);
             pub.back() ^= 1;
             return provider_fromdata("1.2.643.7.1.1.1.1", "1.2.643.2.2.35.0", OSSL_PKEY_PARAM_PUB_KEY, pub) != nullptr;
         }, "invalid GOST R 34.10 key"},
        {"unknown parameter set", [] { return provider_keygen("1.2.643.7.1.1.1.1", "Q") != nullptr; }, "unknown GOST R 34.10 parameter set"},
        {"no parameter set", [] { return provider_keygen("1.2.643.7.1.1.1.1", "") != nullptr; }, "unknown GOST R 34.10 parameter set"},
        {"digest of another size", [&] {
             std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> c(EVP_MD_CTX_new(), EVP_MD_CTX_free);
             return EVP_DigestSignInit_ex(c.get(), nullptr, "md_gost12_512", lib(), nullptr, published.get(), nullptr) == 1;
         }, "digest does not fit the key"},
        {"UKM too short", exchange(Bytes(7, 1)), "invalid parameter value"},
        {"UKM zero", exchange(Bytes(8, 0)), "invalid parameter value"},
    };
    for (const Case &c : cases) {
        ERR_clear_error();
        EXPECT_FALSE(c.run()) << c.what;
        EXPECT_EQ(last_reason(), c.reason) << c.what;
    }
}
