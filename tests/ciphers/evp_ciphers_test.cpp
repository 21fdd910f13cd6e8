// The engine's GOST 28147-89 ciphers through EVP: the core's output for every
// registered parameter set and any cut of the message, the engine's default
// set, the controls, and the AlgorithmIdentifier parameters written and read.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include <gtest/gtest.h>

#include <openssl/engine.h>
#include <openssl/objects.h>

#include <cstring>
#include <string>

#include "evp_test_support.h"
#include "gost_objects.h"
#include "zkc_gost28147.h"

namespace {

const Bytes kKey = hex_bytes("8182838485868788898a8b8c8d8e8f80d1d2d3d4d5d6d7d8d9dadbdcdddedfd0");
const Bytes kIv = hex_bytes("0102030405060708");

const EVP_CIPHER *gost89() { return EVP_get_cipherbynid(gost_nid(GostObj::gost89)); }
const EVP_CIPHER *gost89_cnt() { return EVP_get_cipherbynid(gost_nid(GostObj::gost89_cnt)); }

// A context keyed for cipher c; param_nid (when not 0) chosen between the
// key-less and the keyed init, as OpenSSL's parameter reading does.
CipherCtxPtr keyed(const EVP_CIPHER *c, bool encrypt, int param_nid = 0, const Bytes &iv = kIv) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!EVP_CipherInit_ex(ctx.get(), c, nullptr, nullptr, nullptr, encrypt))
        return nullptr;
    if (param_nid && EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_SET_PARAMSET, param_nid, nullptr) != 1)
        return nullptr;
    if (!EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, kKey.data(), iv.data(), encrypt))
        return nullptr;
    return ctx;
}

Bytes run(EVP_CIPHER_CTX *ctx, const Bytes &in, const std::vector<size_t> &cuts) {
    Bytes out(in.size() + 8);
    size_t pos = 0, written = 0;
    for (size_t n : cuts) {
        int len = 0;
        if (!EVP_CipherUpdate(ctx, out.data() + written, &len, in.data() + pos, int(n)))
            return {};
        pos += n;
        written += size_t(len);
    }
    int len = 0;
    if (!EVP_CipherFinal_ex(ctx, out.data() + written, &len))
        return {};
    out.resize(written + size_t(len));
    return out;
}

struct CipherCase {
    const char *name;
    const EVP_CIPHER *(*cipher)();
    int core_mode;
    bool encrypt;
};

const CipherCase kCiphers[] = {
    {"gost89 encrypt", gost89, GOST28147_89_MODE_CFB, true},
    {"gost89 decrypt", gost89, GOST28147_89_MODE_CFB, false},
    {"gost89-cnt encrypt", gost89_cnt, GOST28147_89_MODE_CNT, true},
    {"gost89-cnt decrypt", gost89_cnt, GOST28147_89_MODE_CNT, false},
};

class EvpCiphers : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(token_engine(), nullptr); }
    // The engine's default set, restored after each test.
    void TearDown() override { set_engine_default("id-tc26-gost-28147-param-Z"); }
    static void set_engine_default(const char *name) {
        ASSERT_EQ(ENGINE_ctrl_cmd_string(token_engine(), "PARAMS_GOST28147", name, 0), 1);
    }
};

}  // namespace

TEST_F(EvpCiphers, EveryRegisteredSetGivesTheCoresOutputForAnyPieces) {
    std::mt19937 gen(11);
    for (const ParamSet &set : registered_sets()) {
        for (const CipherCase &c : kCiphers) {
            for (size_t i = 1; i < kLengthCount; ++i) {
                const Bytes in = test_bytes(kLengths[i], uint32_t(i));
                const std::string expected = hex_of(core_cipher(set.param, c.core_mode, c.encrypt, kKey, kIv, in));
                ASSERT_FALSE(expected.empty());
                for (int round = 0; round < 3; ++round) {
                    CipherCtxPtr ctx = keyed(c.cipher(), c.encrypt, set.nid);
                    ASSERT_TRUE(ctx) << set.name() << " " << c.name;
                    const auto cuts = round == 0 ? std::vector<size_t>{in.size()} : random_cuts(in.size(), gen);
                    EXPECT_EQ(hex_of(run(ctx.get(), in, cuts)), expected)
                        << set.name() << " " << c.name << " " << in.size() << " round " << round;
                }
            }
        }
    }
}

TEST_F(EvpCiphers, InPlaceEncryptionAndDecryptionRoundTrip) {
    const Bytes plain = test_bytes(3000, 5);
    for (const CipherCase &c : kCiphers) {
        if (!c.encrypt)
            continue;
        Bytes buf = plain;
        int len = 0;
        CipherCtxPtr enc = keyed(c.cipher(), true);
        ASSERT_TRUE(EVP_CipherUpdate(enc.get(), buf.data(), &len, buf.data(), int(buf.size())));
        EXPECT_EQ(hex_of(buf), hex_of(core_cipher(set_z().param, c.core_mode, true, kKey, kIv, plain))) << c.name;
        CipherCtxPtr dec = keyed(c.cipher(), false);
        ASSERT_TRUE(EVP_CipherUpdate(dec.get(), buf.data(), &len, buf.data(), int(buf.size())));
        EXPECT_EQ(hex_of(buf), hex_of(plain)) << c.name;
    }
}

TEST_F(EvpCiphers, WithoutParametersTheEngineDefaultSetApplies) {
    const Bytes in = test_bytes(2048, 1);
    // Set Z with key meshing: past 1024 bytes a context without meshing
    // would differ.
    ASSERT_EQ(set_z().param->key_meshing, 1);
    CipherCtxPtr ctx = keyed(gost89(), true);
    const Bytes out = run(ctx.get(), in, {in.size()});
    EXPECT_EQ(hex_of(out), hex_of(core_cipher(set_z().param, GOST28147_89_MODE_CFB, true, kKey, kIv, in)));

    // The engine's control moves the default for the contexts that follow.
    const ParamSet &a = set_by_oid("1.2.643.2.2.31.1");
    set_engine_default("id-Gost28147-89-CryptoPro-A-ParamSet");
    for (const CipherCase &c : kCiphers) {
        CipherCtxPtr ctx_a = keyed(c.cipher(), c.encrypt);
        EXPECT_EQ(hex_of(run(ctx_a.get(), in, {in.size()})),
                  hex_of(core_cipher(a.param, c.core_mode, c.encrypt, kKey, kIv, in)))
            << c.name;
    }
}

TEST_F(EvpCiphers, TheParameterSetControlReinitialisesAKeyedContext) {
    const ParamSet &b = set_by_oid("1.2.643.2.2.31.2");
    const Bytes in = test_bytes(100, 2);
    for (const CipherCase &c : kCiphers) {
        CipherCtxPtr ctx = keyed(c.cipher(), c.encrypt);
        Bytes first = run(ctx.get(), in, {in.size()});
        // The stream restarts from the IV, on set B.
        ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_SET_PARAMSET, b.nid, nullptr), 1);
        EXPECT_EQ(hex_of(run(ctx.get(), in, {in.size()})),
                  hex_of(core_cipher(b.param, c.core_mode, c.encrypt, kKey, kIv, in)))
            << c.name;
        EXPECT_NE(hex_of(first), hex_of(core_cipher(b.param, c.core_mode, c.encrypt, kKey, kIv, in)));
    }
}

TEST_F(EvpCiphers, TheModeControlChoosesAndReportsTheCoresModes) {
    struct {
        int number;
        int core_mode;
    } modes[] = {{ZKC_CIPHER_MODE_ECB, GOST28147_89_MODE_ECB},
                 {ZKC_CIPHER_MODE_CBC, GOST28147_89_MODE_CBC},
                 {ZKC_CIPHER_MODE_CFB, GOST28147_89_MODE_CFB},
                 {ZKC_CIPHER_MODE_CNT, GOST28147_89_MODE_CNT}};
    const Bytes in = test_bytes(1040, 4);  // whole blocks, past a meshing point
    for (bool encrypt : {true, false}) {
        CipherCtxPtr ctx = keyed(gost89(), encrypt);
        int mode = 0;
        ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_GET_MODE, 0, &mode), 1);
        EXPECT_EQ(mode, ZKC_CIPHER_MODE_CFB);
        for (const auto &m : modes) {
            ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_SET_MODE, m.number, nullptr), 1);
            ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_GET_MODE, 0, &mode), 1);
            EXPECT_EQ(mode, m.number);
            EXPECT_EQ(hex_of(run(ctx.get(), in, {in.size()})),
                      hex_of(core_cipher(set_z().param, m.core_mode, encrypt, kKey, kIv, in)))
                << "mode " << m.number << " encrypt " << encrypt;
        }
        // A new init goes back to CFB.
        ASSERT_TRUE(EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, kKey.data(), kIv.data(), encrypt));
        ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_GET_MODE, 0, &mode), 1);
        EXPECT_EQ(mode, ZKC_CIPHER_MODE_CFB);
    }

    CipherCtxPtr ctx = keyed(gost89(), true);
    testing::internal::CaptureStderr();
    EXPECT_LE(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_SET_MODE, 5, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "zkc_cipher_ctl: Unsupported cipher mode 5\n");
}

TEST_F(EvpCiphers, BlockModesHoldTailsAndRefuseTooLittleOutputRoom) {
    CipherCtxPtr ctx = keyed(gost89(), true);
    ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_SET_MODE, ZKC_CIPHER_MODE_ECB, nullptr), 1);
    const Bytes in = test_bytes(16, 8);
    Bytes out(32);
    int len = 0;
    // 5 bytes are held; 4 more make a block that needs 8 bytes of room for 4
    // bytes of input.
    ASSERT_TRUE(EVP_CipherUpdate(ctx.get(), out.data(), &len, in.data(), 5));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(EVP_CipherUpdate(ctx.get(), out.data(), &len, in.data() + 5, 4));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "GOST28147_89_Update failed, rc = 0xfffffffc\n");
}

TEST_F(EvpCiphers, ContextsWithoutAKeyKeepControlsForTheirKeyedInit) {
    // Nothing is encrypted under a key that was never given. The set chosen
    // before the key applies once it comes; the mode does not (every init of
    // "gost89" starts in CFB).
    const ParamSet &c_set = set_by_oid("1.2.643.2.2.31.3");
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    ASSERT_TRUE(EVP_EncryptInit_ex(ctx.get(), gost89(), nullptr, nullptr, nullptr));
    ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_SET_MODE, ZKC_CIPHER_MODE_CBC, nullptr), 1);
    ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_SET_PARAMSET, c_set.nid, nullptr), 1);
    Bytes out(16);
    int len = 0;
    const Bytes in = test_bytes(16, 3);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(EVP_EncryptUpdate(ctx.get(), out.data(), &len, in.data(), 16));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "GOST28147_89_Update failed, rc = 0xffffff68\n");
    ASSERT_TRUE(EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, kKey.data(), kIv.data()));
    ASSERT_TRUE(EVP_EncryptUpdate(ctx.get(), out.data(), &len, in.data(), 16));
    EXPECT_EQ(hex_of(out), hex_of(core_cipher(c_set.param, GOST28147_89_MODE_CFB, true, kKey, kIv, in)));
    int mode = 0;
    ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), ZKC_CIPHER_CTRL_GET_MODE, 0, &mode), 1);
    EXPECT_EQ(mode, ZKC_CIPHER_MODE_CFB);
}

TEST_F(EvpCiphers, ControlsBothCiphersAnswer) {
    for (const EVP_CIPHER *c : {gost89(), gost89_cnt()}) {
        SCOPED_TRACE(EVP_CIPHER_get0_name(c));
        CipherCtxPtr ctx = keyed(c, true);
        int prf = 0;
        ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_PBE_PRF_NID, 0, &prf), 1);
        EXPECT_EQ(prf, NID_id_HMACGostR3411_94);
        EXPECT_LE(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_PBE_PRF_NID, 0, nullptr), 0);
        Bytes k1(32), k2(32);
        ASSERT_EQ(EVP_CIPHER_CTX_rand_key(ctx.get(), k1.data()), 1);
        ASSERT_EQ(EVP_CIPHER_CTX_rand_key(ctx.get(), k2.data()), 1);
        EXPECT_NE(hex_of(k1), hex_of(k2));
        EXPECT_EQ(EVP_CIPHER_get_block_size(c), 1);
        EXPECT_EQ(EVP_CIPHER_get_key_length(c), 32);
        EXPECT_EQ(EVP_CIPHER_get_iv_length(c), 8);
    }
    EXPECT_EQ(EVP_CIPHER_get_flags(gost89()), 0x333UL);
    EXPECT_EQ(EVP_CIPHER_get_flags(gost89_cnt()), 0x334UL);

    struct {
        const EVP_CIPHER *cipher;
        int type;
        const char *line;
    } refused[] = {
        {gost89(), EVP_CTRL_GCM_SET_IVLEN, "zkc_cipher_ctl: Unsupported command 9\n"},
        {gost89_cnt(), ZKC_CIPHER_CTRL_SET_MODE, "zkc_cipher_ctl_cnt: Unsupported command 4098\n"},
        {gost89_cnt(), ZKC_CIPHER_CTRL_GET_MODE, "zkc_cipher_ctl_cnt: Unsupported command 4099\n"},
    };
    for (const auto &r : refused) {
        CipherCtxPtr ctx = keyed(r.cipher, true);
        int value = 0;
        testing::internal::CaptureStderr();
        EXPECT_LE(EVP_CIPHER_CTX_ctrl(ctx.get(), r.type, ZKC_CIPHER_MODE_ECB, &value), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), r.line);
    }
}

namespace {

// The parameters a context writes, decoded.
struct WrittenParams {
    Bytes iv;
    int param_nid = NID_undef;
};

WrittenParams written(EVP_CIPHER_CTX *ctx) {
    WrittenParams w;
    ASN1_TYPE *t = ASN1_TYPE_new();
    if (EVP_CIPHER_param_to_asn1(ctx, t) == 1 && ASN1_TYPE_get(t) == V_ASN1_SEQUENCE) {
        const unsigned char *p = ASN1_STRING_get0_data(t->value.sequence);
        ZKC_CIPHER_PARAMS *gp = d2i_ZKC_CIPHER_PARAMS(nullptr, &p, ASN1_STRING_length(t->value.sequence));
        if (gp) {
            w.iv.assign(ASN1_STRING_get0_data(gp->iv), ASN1_STRING_get0_data(gp->iv) + ASN1_STRING_length(gp->iv));
            w.param_nid = OBJ_obj2nid(gp->enc_param_set);
        }
        ZKC_CIPHER_PARAMS_free(gp);
    }
    ASN1_TYPE_free(t);
    return w;
}

// An ASN1_TYPE holding a SEQUENCE with the given DER content bytes.
ASN1_TYPE *sequence_of(const Bytes &der) {
    ASN1_STRING *s = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_STRING_set(s, der.data(), int(der.size()));
    ASN1_TYPE *t = ASN1_TYPE_new();
    ASN1_TYPE_set(t, V_ASN1_SEQUENCE, s);
    return t;
}

// Gost28147-89-Parameters with an IV of n bytes and the given OID DER.
Bytes params_der(size_t n, const Bytes &oid_der) {
    const Bytes iv = test_bytes(n, 77);
    Bytes der = {0x30, uint8_t(2 + n + oid_der.size()), 0x04, uint8_t(n)};
    for (unsigned char b : iv)
        der.push_back(b);
    for (unsigned char b : oid_der)
        der.push_back(b);
    return der;
}

// Reads parameters into a fresh context after its key-less init; the result
// of the read.
int read_into(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *c, ASN1_TYPE *t) {
    EVP_CipherInit_ex(ctx, c, nullptr, nullptr, nullptr, 1);
    int rc = EVP_CIPHER_asn1_to_param(ctx, t);
    ASN1_TYPE_free(t);
    return rc;
}

}  // namespace

TEST_F(EvpCiphers, ParametersWrittenAreReadBackWithTheirSetAndIv) {
    const Bytes iv = hex_bytes("f1e2d3c4b5a69788");
    const Bytes in = test_bytes(1500, 6);
    for (const ParamSet &set : registered_sets()) {
        for (const CipherCase &c : kCiphers) {
            SCOPED_TRACE(set.name() + " " + c.name);
            CipherCtxPtr writer = keyed(c.cipher(), c.encrypt, set.nid, iv);
            const WrittenParams w = written(writer.get());
            EXPECT_EQ(hex_of(w.iv), hex_of(iv));
            EXPECT_EQ(w.param_nid, set.nid);

            // A reader with another IV and the engine default takes both from
            // the parameters and computes what the writer computes.
            CipherCtxPtr reader(EVP_CIPHER_CTX_new());
            ASN1_TYPE *t = ASN1_TYPE_new();
            ASSERT_EQ(EVP_CIPHER_param_to_asn1(writer.get(), t), 1);
            ASSERT_EQ(read_into(reader.get(), c.cipher(), t), 1);
            ASSERT_TRUE(EVP_CipherInit_ex(reader.get(), nullptr, nullptr, kKey.data(), nullptr, c.encrypt));
            EXPECT_EQ(hex_of(run(reader.get(), in, {in.size()})),
                      hex_of(core_cipher(set.param, c.core_mode, c.encrypt, kKey, iv, in)));
        }
    }
}

TEST_F(EvpCiphers, ParametersNamingAnUnknownSetFallBackToTheEngineDefault) {
    // SHA-256's OID names no parameter set.
    const Bytes sha256_oid = hex_bytes("0609608648016503040201");
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    testing::internal::CaptureStderr();
    ASSERT_EQ(read_into(ctx.get(), gost89(), sequence_of(params_der(8, sha256_oid))), 1);
    ASSERT_TRUE(EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, kKey.data(), nullptr, 1));
    const Bytes in = test_bytes(1100, 12);
    const Bytes out = run(ctx.get(), in, {in.size()});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(hex_of(out), hex_of(core_cipher(set_z().param, GOST28147_89_MODE_CFB, true, kKey, test_bytes(8, 77), in)));
}

TEST_F(EvpCiphers, MalformedParametersAreRefused) {
    const Bytes z_oid = hex_bytes("06092a8503070102050101");
    struct {
        const char *what;
        ASN1_TYPE *(*make)(const Bytes &);
        const char *line;
    } cases[] = {
        {"IV of 7 bytes", [](const Bytes &oid) { return sequence_of(params_der(7, oid)); },
         "gost89_get_asn1_parameters: Invalid IV length\n"},
        {"IV of 9 bytes", [](const Bytes &oid) { return sequence_of(params_der(9, oid)); },
         "gost89_get_asn1_parameters: Invalid IV length\n"},
        {"not a SEQUENCE",
         [](const Bytes &) {
             ASN1_TYPE *t = ASN1_TYPE_new();
             ASN1_TYPE_set(t, V_ASN1_NULL, nullptr);
             return t;
         },
         ""},
        {"no OID", [](const Bytes &) { return sequence_of(hex_bytes("30 0a 04 08 0102030405060708")); }, ""},
        {"not DER", [](const Bytes &) { return sequence_of(hex_bytes("30 ff 04")); }, ""},
    };
    for (const auto &c : cases) {
        CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
        testing::internal::CaptureStderr();
        EXPECT_LE(read_into(ctx.get(), gost89(), c.make(z_oid)), 0) << c.what;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line) << c.what;
    }
}
