// The provider's digests, ciphers and MAC give the engine's results on the
// same inputs, for every parameter set and any cut of the message; its
// AlgorithmIdentifier parameters are the engine's bytes, and malformed ones
// are refused with the provider's reason.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE: the engine is the reference
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include "evp_test_support.h"
#include "gost_objects.h"
#include "provider.h"
#include "zkc_gost28147.h"

namespace {

// The provider in a library context of its own beside the default provider
// (HMAC, PBKDF2). Its algorithms are fetched before the engine is loaded and
// kept: OpenSSL 3.0 would otherwise give them the engine's NIDs and hand
// their work to the engine.
struct Provided {
    OSSL_LIB_CTX *lib = OSSL_LIB_CTX_new();
    std::map<std::string, EVP_MD *> md;
    std::map<std::string, EVP_CIPHER *> cipher;
    EVP_MAC *mac = nullptr;
};
Provided &provided() { static Provided p; return p; }
struct ProviderEnvironment : testing::Environment {
    void SetUp() override {
        Provided &p = provided();
        ASSERT_TRUE(OSSL_PROVIDER_set_default_search_path(p.lib, TOKENCERT_BINARY_DIR "/providers"));
        ASSERT_TRUE(OSSL_PROVIDER_load(p.lib, ZK_PROVIDER_NAME) && OSSL_PROVIDER_load(p.lib, "default"));
        for (const char *name : {"md_gost94", "md_gost12_256", "md_gost12_512"})
            ASSERT_TRUE(p.md[name] = EVP_MD_fetch(p.lib, name, "provider=" ZK_PROVIDER_NAME)) << name;
        for (const char *name : {"gost89", "gost89-cnt"})
            ASSERT_TRUE(p.cipher[name] = EVP_CIPHER_fetch(p.lib, name, nullptr)) << name;
        ASSERT_TRUE(p.mac = EVP_MAC_fetch(p.lib, "gost-mac", nullptr));
        ASSERT_NE(token_engine(), nullptr);
    }
};
const auto *const kEnvironment = testing::AddGlobalTestEnvironment(new ProviderEnvironment);

const Bytes kKey = hex_bytes("546d203368656c6c6f2c20776f726c64212c20476f737420323031352121f00d");

// The engine's digest and the provider's names, the first the one fetched above.
struct DigestCase { GostObj obj; std::vector<const char *> names; };
const DigestCase kDigests[] = {
    {GostObj::md_gost94, {"md_gost94", "GOST R 34.11-94", "1.2.643.2.2.9"}},
    {GostObj::gost3411_2012_256,
     {"md_gost12_256", "gost3411-2012-256", "GOST R 34.11-2012 with 256 bit hash", "1.2.643.7.1.1.2.2"}},
    {GostObj::gost3411_2012_512,
     {"md_gost12_512", "gost3411-2012-512", "GOST R 34.11-2012 with 512 bit hash", "1.2.643.7.1.1.2.3"}},
};

// The pieces through any digest context; copied to a second context halfway,
// which must end the same.
Bytes digest(const EVP_MD *md, const Bytes &m, const std::vector<size_t> &cuts) {
    MdCtxPtr a(EVP_MD_CTX_new()), b(EVP_MD_CTX_new());
    EXPECT_TRUE(EVP_DigestInit_ex(a.get(), md, nullptr));
    size_t pos = 0;
    for (size_t i = 0; i < cuts.size(); pos += cuts[i++]) {
        EXPECT_TRUE(i != cuts.size() / 2 || EVP_MD_CTX_copy_ex(b.get(), a.get()));
        EXPECT_TRUE(EVP_DigestUpdate(a.get(), m.data() + pos, cuts[i]));
        EXPECT_TRUE(i < cuts.size() / 2 || EVP_DigestUpdate(b.get(), m.data() + pos, cuts[i]));
    }
    Bytes out(EVP_MAX_MD_SIZE), copy(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    EXPECT_TRUE(EVP_DigestFinal_ex(a.get(), out.data(), &len));
    EXPECT_TRUE(cuts.empty() || (EVP_DigestFinal_ex(b.get(), copy.data(), &len) && copy == out));
    out.resize(len);
    return out;
}

// OpenSSL's error reason of the last failure, when it is the provider's.
std::string last_reason() {
    unsigned long e = ERR_peek_last_error();
    const char *lib = ERR_lib_error_string(e), *reason = ERR_reason_error_string(e);
    ERR_clear_error();
    return lib && std::string(lib) == ZK_PROVIDER_NAME && reason ? reason : "(not the provider's)";
}

OSSL_PARAM paramset(const std::string &name) {
    return OSSL_PARAM_construct_utf8_string(ZK_PARAM_PARAMSET, const_cast<char *>(name.c_str()), 0);
}

CipherCtxPtr provider_cipher_ctx(const char *cipher, const std::string &set, const Bytes *key, const Bytes &iv, int enc) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    OSSL_PARAM params[] = {paramset(set), OSSL_PARAM_END};
    if (!EVP_CipherInit_ex2(ctx.get(), provided().cipher[cipher], key ? key->data() : nullptr, iv.data(), enc, params))
        return nullptr;
    // The work is the provider's, not handed to the engine.
    EXPECT_NE(EVP_CIPHER_get0_provider(EVP_CIPHER_CTX_get0_cipher(ctx.get())), nullptr);
    return ctx;
}

Bytes run_cipher(EVP_CIPHER_CTX *ctx, const Bytes &m, const std::vector<size_t> &cuts) {
    Bytes out(m.size() + 8);
    int len = 0, total = 0;
    size_t pos = 0;
    for (size_t n : cuts) {
        EXPECT_TRUE(EVP_CipherUpdate(ctx, out.data() + total, &len, m.data() + pos, int(n)));
        pos += n;
        total += len;
    }
    EXPECT_TRUE(EVP_CipherFinal_ex(ctx, out.data() + total, &len));
    out.resize(size_t(total + len));
    return out;
}

// The engine's cipher on the set with that NID.
CipherCtxPtr engine_cipher_ctx(GostObj obj, int set_nid, const Bytes &iv, int enc) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    EXPECT_TRUE(EVP_CipherInit_ex(ctx.get(), EVP_get_cipherbynid(gost_nid(obj)), nullptr, nullptr, iv.data(), enc));
    EXPECT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_SET_PARAMSET, set_nid, nullptr), 1);
    return ctx;
}

Bytes engine_cipher(GostObj obj, int set_nid, int enc, const Bytes &iv, const Bytes &m) {
    CipherCtxPtr ctx = engine_cipher_ctx(obj, set_nid, iv, enc);
    EXPECT_TRUE(EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, kKey.data(), nullptr, enc));
    return run_cipher(ctx.get(), m, {m.size()});
}

Bytes provider_mac(const std::string &set, const Bytes &key, const Bytes &iv, const Bytes &m,
                   const std::vector<size_t> &cuts) {
    std::unique_ptr<EVP_MAC_CTX, void (*)(EVP_MAC_CTX *)> ctx(EVP_MAC_CTX_new(provided().mac), EVP_MAC_CTX_free);
    OSSL_PARAM params[] = {paramset(set), OSSL_PARAM_END, OSSL_PARAM_END};
    if (!iv.empty())
        params[1] = OSSL_PARAM_construct_octet_string(OSSL_MAC_PARAM_IV, const_cast<unsigned char *>(iv.data()), iv.size());
    if (!EVP_MAC_init(ctx.get(), key.data(), key.size(), params))
        return {};
    size_t pos = 0, len = 0;
    bool ok = true;
    for (size_t n : cuts)
        ok = ok && EVP_MAC_update(ctx.get(), m.data() + pos, n), pos += n;
    Bytes out(8);
    if (!ok || !EVP_MAC_final(ctx.get(), out.data(), &len, out.size()))
        return {};
    out.resize(len);
    return out;
}

Bytes engine_mac(int set_nid, const Bytes &m) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    EXPECT_TRUE(EVP_DigestInit_ex(ctx.get(), EVP_get_digestbynid(gost_nid(GostObj::gost_mac)), nullptr));
    EXPECT_EQ(EVP_MD_CTX_ctrl(ctx.get(), ZKC_MAC_CTRL_SET_KEY, 32, const_cast<unsigned char *>(kKey.data())), 1);
    EXPECT_EQ(EVP_MD_CTX_ctrl(ctx.get(), ZKC_MAC_CTRL_SET_PARAMSET, set_nid, nullptr), 1);
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    EXPECT_TRUE(EVP_DigestUpdate(ctx.get(), m.data(), m.size()) && EVP_DigestFinal_ex(ctx.get(), out.data(), &len));
    out.resize(len);
    return out;
}

// The same for a set by its core name and by its dotted OID, alternately.
std::string set_name(const ParamSet &set, size_t i) { return i % 2 ? set.name() : set.param->oid; }

}  // namespace

TEST(ProviderDigests, EveryNameGivesTheEnginesDigestForAnyPieces) {
    std::mt19937 gen(5);
    for (const DigestCase &d : kDigests) {
        for (const char *name : d.names) {
            std::unique_ptr<EVP_MD, void (*)(EVP_MD *)> md(EVP_MD_fetch(provided().lib, name, nullptr), EVP_MD_free);
            EXPECT_TRUE(md && EVP_MD_is_a(md.get(), d.names[0])) << name;
        }
        for (size_t i = 0; i < kLengthCount; ++i) {
            const Bytes m = test_bytes(kLengths[i], uint32_t(i));
            const Bytes expected = digest(EVP_get_digestbynid(gost_nid(d.obj)), m, {m.size()});
            EXPECT_EQ(hex_of(digest(provided().md[d.names[0]], m, random_cuts(m.size(), gen))), hex_of(expected))
                << d.names[0] << " " << m.size();
        }
    }
}

// PBKDF2 over them: the PKCS#8 and PKCS#12 tests.
TEST(ProviderDigests, HmacOfTheDefaultProviderRunsOverThem) {
    const Bytes key = hex_bytes("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const Bytes t = hex_bytes("0126bdb87800af214341456563780100");
    Bytes out(64);
    size_t len = 0;
    ASSERT_TRUE(EVP_Q_mac(provided().lib, "HMAC", nullptr, "md_gost12_256", nullptr, key.data(), key.size(), t.data(),
                          t.size(), out.data(), out.size(), &len));
    out.resize(len);
    EXPECT_EQ(hex_of(out), "a1aa5f7de402d7b3d323f2991c8d4534013137010a83754fd0af6d7cd4922ed9");
}

TEST(ProviderCiphers, BothCiphersGiveTheEnginesResultForEverySetAndPieces) {
    std::mt19937 gen(7);
    const std::pair<const char *, GostObj> ciphers[] = {{"gost89", GostObj::gost89}, {"gost89-cnt", GostObj::gost89_cnt}};
    const Bytes iv = hex_bytes("0102030405060708");
    for (const auto &c : ciphers)
        for (const ParamSet &set : registered_sets())
            for (size_t i = 0; i < kLengthCount; i += 2)
                for (int enc : {1, 0}) {
                    const Bytes m = test_bytes(kLengths[i], uint32_t(i + 50));
                    CipherCtxPtr ctx = provider_cipher_ctx(c.first, set_name(set, i), &kKey, iv, enc);
                    ASSERT_TRUE(ctx) << c.first << " " << set.name();
                    EXPECT_EQ(hex_of(run_cipher(ctx.get(), m, random_cuts(m.size(), gen))),
                              hex_of(engine_cipher(c.second, set.nid, enc, iv, m)))
                        << c.first << " " << set.name() << " " << m.size() << " enc " << enc;
                }
}

TEST(ProviderMac, GivesTheEnginesMacForEverySetAndTheCoresWithAnIv) {
    std::mt19937 gen(9);
    const Bytes iv = hex_bytes("a1a2a3a4a5a6a7a8");
    for (const ParamSet &set : registered_sets())
        for (size_t i = 1; i < kLengthCount; ++i) {
            const Bytes m = test_bytes(kLengths[i], uint32_t(i + 90));
            const std::vector<size_t> cuts = random_cuts(m.size(), gen);
            EXPECT_EQ(hex_of(provider_mac(set_name(set, i), kKey, {}, m, cuts)), hex_of(engine_mac(set.nid, m)))
                << set.name() << " " << m.size();
            EXPECT_EQ(hex_of(provider_mac(set_name(set, i), kKey, iv, m, cuts)),
                      hex_of(core_mac(set.param, kKey, iv.data(), m)))
                << set.name() << " " << m.size();
        }
}

// The bytes OpenSSL writes into an AlgorithmIdentifier for a context.
std::string algorithm_params(EVP_CIPHER_CTX *ctx) {
    std::unique_ptr<ASN1_TYPE, void (*)(ASN1_TYPE *)> t(ASN1_TYPE_new(), ASN1_TYPE_free);
    if (EVP_CIPHER_param_to_asn1(ctx, t.get()) <= 0)
        return "(refused)";
    unsigned char *der = nullptr;
    int len = i2d_ASN1_TYPE(t.get(), &der);
    std::string hex = hex_of(Bytes(der, der + std::max(len, 0)));
    OPENSSL_free(der);
    return hex;
}

TEST(ProviderCiphers, AlgorithmIdentifierParametersAreTheEnginesBothWays) {
    const Bytes m = test_bytes(3000, 77);
    for (const ParamSet &set : registered_sets()) {
        const Bytes iv = test_bytes(8, uint32_t(set.nid));
        CipherCtxPtr engine = engine_cipher_ctx(GostObj::gost89, set.nid, iv, 1);
        CipherCtxPtr ours = provider_cipher_ctx("gost89", set.param->oid, nullptr, iv, 1);
        const std::string written = algorithm_params(engine.get());
        EXPECT_EQ(algorithm_params(ours.get()), written) << set.name();
        // Read into a context on another set and IV, then keyed: the engine's encryption.
        CipherCtxPtr reader = provider_cipher_ctx("gost89", "id-Gost28147-89-TestParamSet", nullptr, Bytes(8), 0);
        const Bytes der = hex_bytes(written);
        const unsigned char *p = der.data();
        std::unique_ptr<ASN1_TYPE, void (*)(ASN1_TYPE *)> t(d2i_ASN1_TYPE(nullptr, &p, long(der.size())), ASN1_TYPE_free);
        ASSERT_GT(EVP_CIPHER_asn1_to_param(reader.get(), t.get()), 0) << set.name();
        ASSERT_TRUE(EVP_CipherInit_ex2(reader.get(), nullptr, kKey.data(), nullptr, 1, nullptr));
        EXPECT_EQ(hex_of(run_cipher(reader.get(), m, {m.size()})), hex_of(engine_cipher(GostObj::gost89, set.nid, 1, iv, m)))
            << set.name();
    }
}

TEST(ProviderCiphers, MalformedAlgorithmParametersAreRefusedAndChangeNothing) {
    const std::string iv8 = "04080102030405060708", z = "06092a8503070102050101";
    const struct {
        const char *what;
        std::string der;
        const char *reason;
    } cases[] = {
        {"not a sequence", iv8, "malformed algorithm parameters"},
        {"empty sequence", "3000", "malformed algorithm parameters"},
        {"cut short", "3015" + iv8 + z.substr(0, 20), "malformed algorithm parameters"},
        {"a byte after it", "3015" + iv8 + z + "00", "malformed algorithm parameters"},
        {"length past the end", "307f" + iv8 + z, "malformed algorithm parameters"},
        {"7-byte IV", "3014040701020304050607" + z, "wrong IV length"},
        {"9-byte IV", "3016040901020304050607080" "9" + z, "wrong IV length"},
        {"unknown set", "3014" + iv8 + "06082a8503020220" "1f63", "unknown GOST 28147-89 parameter set"},
    };
    CipherCtxPtr ctx = provider_cipher_ctx("gost89", "id-tc26-gost-28147-param-Z", nullptr, Bytes(8, 0x55), 1);
    const std::string before = algorithm_params(ctx.get());
    for (const auto &c : cases) {
        Bytes der = hex_bytes(c.der);
        OSSL_PARAM params[] = {OSSL_PARAM_construct_octet_string(OSSL_CIPHER_PARAM_ALGORITHM_ID_PARAMS, der.data(), der.size()),
                               OSSL_PARAM_END};
        EXPECT_FALSE(EVP_CIPHER_CTX_set_params(ctx.get(), params)) << c.what;
        EXPECT_EQ(last_reason(), c.reason) << c.what;
        EXPECT_EQ(algorithm_params(ctx.get()), before) << c.what;
    }
}

TEST(ProviderErrors, BadInputFailsWithTheProvidersReason) {
    const Bytes iv(8), short_key(16), m(10);
    Bytes out(16);
    int len = 0;
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    EXPECT_FALSE(provider_cipher_ctx("gost89", "no-such-set", &kKey, iv, 1));
    EXPECT_EQ(last_reason(), "unknown GOST 28147-89 parameter set");
    ASSERT_TRUE(EVP_CipherInit_ex2(ctx.get(), provided().cipher["gost89-cnt"], nullptr, iv.data(), 1, nullptr));
    EXPECT_FALSE(EVP_CipherUpdate(ctx.get(), out.data(), &len, m.data(), int(m.size())));
    EXPECT_EQ(last_reason(), "no key set");
    EXPECT_TRUE(provider_mac("1.2.643.2.2.31.1", short_key, {}, m, {m.size()}).empty());
    EXPECT_EQ(last_reason(), "wrong key length");
    EXPECT_TRUE(provider_mac("1.2.643.2.2.31.1", kKey, Bytes(7), m, {m.size()}).empty());
    EXPECT_EQ(last_reason(), "wrong IV length");
    EXPECT_TRUE(provider_mac("1.2.643.2.2.31.1", {}, {}, m, {m.size()}).empty());
    EXPECT_EQ(last_reason(), "no key set");
}

// OpenSSL's own PKCS#8 reader (PBES2, PBKDF2 with HMAC GOST R 34.11-94) on
// the provider opens what the engine encrypted.
TEST(ProviderCiphers, OpenSslsPkcs8ReaderOpensWhatTheEngineEncrypted) {
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY *)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, void (*)(PKCS8_PRIV_KEY_INFO *)> p8(EVP_PKEY2PKCS8(key.get()),
                                                                            PKCS8_PRIV_KEY_INFO_free);
    std::unique_ptr<X509_SIG, void (*)(X509_SIG *)> sealed(
        PKCS8_encrypt(-1, EVP_get_cipherbynid(gost_nid(GostObj::gost89)), "pw", 2, nullptr, 0, 1000, p8.get()),
        X509_SIG_free);
    ASSERT_TRUE(sealed);
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, void (*)(PKCS8_PRIV_KEY_INFO *)> opened(
        PKCS8_decrypt_ex(sealed.get(), "pw", 2, provided().lib, nullptr), PKCS8_PRIV_KEY_INFO_free);
    ASSERT_TRUE(opened);
    unsigned char *a = nullptr, *b = nullptr;
    int la = i2d_PKCS8_PRIV_KEY_INFO(p8.get(), &a), lb = i2d_PKCS8_PRIV_KEY_INFO(opened.get(), &b);
    EXPECT_EQ(hex_of(Bytes(a, a + la)), hex_of(Bytes(b, b + lb)));
    OPENSSL_free(a);
    OPENSSL_free(b);
    EXPECT_FALSE(PKCS8_decrypt_ex(sealed.get(), "px", 2, provided().lib, nullptr));
}
