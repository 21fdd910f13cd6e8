// The engine's GOST 28147-89 MAC as an EVP digest: the core's MAC for every
// registered parameter set and any cut of the message, its key, IV and
// parameter-set controls, and copies.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include <gtest/gtest.h>

#include <openssl/objects.h>

#include "evp_test_support.h"
#include "gost_objects.h"
#include "pkcs11_pmeth.h"
#include "zkc_gost28147.h"

namespace {

const Bytes kMacKey = hex_bytes("546d203368656c6c6f2c20776f726c64212c20476f737420323031352121f00d");

const EVP_MD *mac() { return EVP_get_digestbyname("gost-mac"); }

// A MAC context keyed with kMacKey, on param_nid when not 0.
MdCtxPtr keyed_mac(int param_nid = 0) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!EVP_DigestInit_ex(ctx.get(), mac(), nullptr))
        return nullptr;
    if (EVP_MD_CTX_ctrl(ctx.get(), ZKC_MAC_CTRL_SET_KEY, int(kMacKey.size()), const_cast<unsigned char *>(kMacKey.data())) != 1)
        return nullptr;
    if (param_nid && EVP_MD_CTX_ctrl(ctx.get(), ZKC_MAC_CTRL_SET_PARAMSET, param_nid, nullptr) != 1)
        return nullptr;
    return ctx;
}

Bytes finish(EVP_MD_CTX *ctx, const Bytes &m, const std::vector<size_t> &cuts) {
    size_t pos = 0;
    for (size_t n : cuts) {
        if (!EVP_DigestUpdate(ctx, m.data() + pos, n))
            return {};
        pos += n;
    }
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    if (!EVP_DigestFinal_ex(ctx, out.data(), &len))
        return {};
    out.resize(len);
    return out;
}

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

class EvpMac : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(token_engine(), nullptr); }
};

}  // namespace

TEST_F(EvpMac, EveryRegisteredSetGivesTheCoresMacForAnyPieces) {
    std::mt19937 gen(13);
    for (const ParamSet &set : registered_sets()) {
        for (size_t i = 1; i < kLengthCount; ++i) {
            const Bytes m = test_bytes(kLengths[i], uint32_t(i) + 100);
            const std::string expected = hex_of(core_mac(set.param, kMacKey, nullptr, m));
            ASSERT_EQ(expected.size(), 8u);
            for (int round = 0; round < 3; ++round) {
                MdCtxPtr ctx = keyed_mac(set.nid);
                ASSERT_TRUE(ctx);
                const auto cuts = round == 0 ? std::vector<size_t>{m.size()} : random_cuts(m.size(), gen);
                EXPECT_EQ(hex_of(finish(ctx.get(), m, cuts)), expected)
                    << set.name() << " " << m.size() << " round " << round;
            }
        }
    }
}

TEST_F(EvpMac, WithoutASetTheEngineDefaultApplies) {
    const Bytes m = test_bytes(2000, 4);
    MdCtxPtr ctx = keyed_mac();
    EXPECT_EQ(hex_of(finish(ctx.get(), m, {m.size()})), hex_of(core_mac(set_z().param, kMacKey, nullptr, m)));
    EXPECT_EQ(EVP_MD_get_size(mac()), 4);
    EXPECT_EQ(EVP_MD_get_block_size(mac()), 8);
}

TEST_F(EvpMac, KeyControlsTakeOnly32Bytes) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    ASSERT_TRUE(EVP_DigestInit_ex(ctx.get(), mac(), nullptr));
    int len = 0;
    ASSERT_EQ(EVP_MD_CTX_ctrl(ctx.get(), ZKC_MAC_CTRL_KEY_LEN, 0, &len), 1);
    EXPECT_EQ(len, 32);
    testing::internal::CaptureStderr();
    EXPECT_EQ(EVP_MD_CTX_ctrl(ctx.get(), ZKC_MAC_CTRL_SET_KEY, 16, const_cast<unsigned char *>(kMacKey.data())), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "zkc_imit_ctrl: Invalid key length 16\n");
    EXPECT_EQ(EVP_MD_CTX_ctrl(ctx.get(), EVP_MD_CTRL_ALG_CTRL + 9, 0, nullptr), 0);
}

TEST_F(EvpMac, AMessageOfNoBytesHasNoMac) {
    MdCtxPtr ctx = keyed_mac();
    unsigned char out[4];
    unsigned len = 0;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(EVP_DigestFinal_ex(ctx.get(), out, &len));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "GOST28147_89_Final failed, rc = 0xffffff67\n");
}

TEST_F(EvpMac, TheIvLivesInTheGostKeyOperationContext) {
    const Bytes iv = hex_bytes("67bed654a4f2b2e1");
    const Bytes m = test_bytes(77, 21);
    const std::string expected = hex_of(core_mac(set_z().param, kMacKey, iv.data(), m));
    for (GostObj alg : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512}) {
        SCOPED_TRACE(gost_obj_sn(alg));
        PkeyCtxPtr pctx(EVP_PKEY_CTX_new_id(gost_nid(alg), nullptr));
        ASSERT_TRUE(pctx);
        auto *op = static_cast<p11_gost_pkey_ctx *>(EVP_PKEY_CTX_get_data(pctx.get()));
        ASSERT_NE(op, nullptr);
        MdCtxPtr ctx = keyed_mac();
        EVP_MD_CTX_set_pkey_ctx(ctx.get(), pctx.get());
        // The IV control puts the IV into the key operation's UKM and restarts.
        ASSERT_EQ(EVP_MD_CTX_ctrl(ctx.get(), ZKC_MAC_CTRL_SET_IV, 8, const_cast<unsigned char *>(iv.data())), 1);
        ASSERT_EQ(op->ukm_len, 8u);
        EXPECT_EQ(hex_of(Bytes(op->ukm, op->ukm + 8)), hex_of(iv));
        EXPECT_EQ(hex_of(finish(ctx.get(), m, {5, 72})), expected);

        // A re-initialisation (here by the set control) takes the IV from the UKM.
        MdCtxPtr again = keyed_mac();
        EVP_MD_CTX_set_pkey_ctx(again.get(), pctx.get());
        ASSERT_EQ(EVP_MD_CTX_ctrl(again.get(), ZKC_MAC_CTRL_SET_PARAMSET, set_z().nid, nullptr), 1);
        EXPECT_EQ(hex_of(finish(again.get(), m, {m.size()})), expected);
        EVP_MD_CTX_set_pkey_ctx(ctx.get(), nullptr);
        EVP_MD_CTX_set_pkey_ctx(again.get(), nullptr);

        // A UKM shorter than a block is not read past.
        OPENSSL_free(op->ukm);
        op->ukm = static_cast<unsigned char *>(OPENSSL_zalloc(4));
        op->ukm_len = 4;
        MdCtxPtr shortiv = keyed_mac();
        EVP_MD_CTX_set_pkey_ctx(shortiv.get(), pctx.get());
        testing::internal::CaptureStderr();
        EXPECT_EQ(EVP_MD_CTX_ctrl(shortiv.get(), ZKC_MAC_CTRL_SET_PARAMSET, set_z().nid, nullptr), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "zkc_imit_init_modify: IV shorter than 8 bytes\nzkc_imit_init_modify failed\n");
        EVP_MD_CTX_set_pkey_ctx(shortiv.get(), nullptr);
    }
}

TEST_F(EvpMac, TheMacKeysOwnContextHasNoIv) {
    PkeyCtxPtr pctx(EVP_PKEY_CTX_new_id(gost_nid(GostObj::gost_mac), nullptr));
    ASSERT_TRUE(pctx);
    MdCtxPtr ctx = keyed_mac();
    EVP_MD_CTX_set_pkey_ctx(ctx.get(), pctx.get());
    const Bytes iv(8, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(EVP_MD_CTX_ctrl(ctx.get(), ZKC_MAC_CTRL_SET_IV, 8, const_cast<unsigned char *>(iv.data())), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "zkc_imit_ctrl: the MAC IV needs the context of a GOST key\n");
    // Without IV the MAC goes on as before.
    const Bytes m = test_bytes(30, 2);
    EXPECT_EQ(hex_of(finish(ctx.get(), m, {m.size()})), hex_of(core_mac(set_z().param, kMacKey, nullptr, m)));
    EVP_MD_CTX_set_pkey_ctx(ctx.get(), nullptr);
}

TEST_F(EvpMac, ACopiedContextContinuesLikeTheOriginal) {
    const Bytes m = test_bytes(1500, 8);
    MdCtxPtr a = keyed_mac(set_by_oid("1.2.643.2.2.31.4").nid);
    ASSERT_TRUE(EVP_DigestUpdate(a.get(), m.data(), 1029));
    MdCtxPtr b(EVP_MD_CTX_new());
    ASSERT_TRUE(EVP_MD_CTX_copy_ex(b.get(), a.get()));
    const Bytes rest(m.begin() + 1029, m.end());
    const std::string expected = hex_of(core_mac(set_by_oid("1.2.643.2.2.31.4").param, kMacKey, nullptr, m));
    EXPECT_EQ(hex_of(finish(b.get(), rest, {rest.size()})), expected);
    EXPECT_EQ(hex_of(finish(a.get(), rest, {rest.size()})), expected);
}
