// The engine's GOST hash digests through EVP: the core's digest for any
// message cut into any pieces, the published examples, HMAC (which needs the
// copy function), context copies, and the algorithms found by every name.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE, EVP_MD_meth_get_*
#include <gtest/gtest.h>

#include <openssl/engine.h>
#include <openssl/hmac.h>
#include <openssl/objects.h>

#include <functional>

#include "evp_test_support.h"
#include "gost_objects.h"
#include "gost_r3411_94.h"
#include "hash_low/gost_r3411_2012.h"
#include "pkcs11_methods.h"

namespace {

Bytes core_94(const Bytes &m) {
    GOSTR3411_94_CTX c;
    Bytes out(32);
    const GOSTR3411_94_PARAM *set = GOSTR3411_94_DefaultParam();
    GOSTR3411_94_Init_ex(&c, set->table);
    if (!m.empty())
        GOSTR3411_94_Update(&c, m.data(), m.size());
    GOSTR3411_94_Final(&c, out.data());
    return out;
}

template <int Size>
Bytes core_2012(const Bytes &m) {
    GOSTR3411_2012_CTX c;
    Bytes out(Size);
    if (Size == 32)
        GOSTR3411_2012_256_Init(&c);
    else
        GOSTR3411_2012_512_Init(&c);
    GOSTR3411_2012_Update(&c, m.data(), m.size());
    GOSTR3411_2012_Final(&c, out.data());
    return out;
}

struct DigestCase {
    GostObj obj;
    const char *openssl_sn;  // OpenSSL's short name for the same OID
    int size;
    int block;
    Bytes (*core)(const Bytes &);
};

const DigestCase kDigests[] = {
    {GostObj::md_gost94, SN_id_GostR3411_94, 32, 32, core_94},
    {GostObj::gost3411_2012_256, SN_id_GostR3411_2012_256, 32, 64, core_2012<32>},
    {GostObj::gost3411_2012_512, SN_id_GostR3411_2012_512, 64, 64, core_2012<64>},
};

const EVP_MD *md_of(GostObj obj) { return EVP_get_digestbynid(gost_nid(obj)); }

Bytes evp_digest(const EVP_MD *md, const Bytes &m, const std::vector<size_t> &cuts) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    if (!EVP_DigestInit_ex(ctx.get(), md, nullptr))
        return {};
    size_t pos = 0;
    for (size_t n : cuts) {
        if (!EVP_DigestUpdate(ctx.get(), m.data() + pos, n))
            return {};
        pos += n;
    }
    if (!EVP_DigestFinal_ex(ctx.get(), out.data(), &len))
        return {};
    out.resize(len);
    return out;
}

class EvpDigests : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(token_engine(), nullptr); }
};

}  // namespace

TEST_F(EvpDigests, EveryDigestGivesTheCoresResultForAnyPieces) {
    std::mt19937 gen(7);
    for (const DigestCase &d : kDigests) {
        const EVP_MD *md = md_of(d.obj);
        ASSERT_NE(md, nullptr) << gost_obj_sn(d.obj);
        for (size_t i = 0; i < kLengthCount; ++i) {
            const Bytes m = test_bytes(kLengths[i], uint32_t(i));
            const std::string expected = hex_of(d.core(m));
            EXPECT_EQ(hex_of(evp_digest(md, m, {m.size()})), expected) << gost_obj_sn(d.obj) << " " << m.size();
            for (int round = 0; round < 4; ++round)
                EXPECT_EQ(hex_of(evp_digest(md, m, random_cuts(m.size(), gen))), expected)
                    << gost_obj_sn(d.obj) << " " << m.size() << " round " << round;
        }
    }
}

TEST_F(EvpDigests, StreebogGivesThePublishedExamples) {
    const Bytes m1 = hex_bytes(
        "303132333435363738393031323334353637383930313233343536373839303132333435363738393031323334353637383930313233"
        "343536373839303132");
    EXPECT_EQ(hex_of(evp_digest(md_of(GostObj::gost3411_2012_512), m1, {m1.size()})),
              "1b54d01a4af5b9d5cc3d86d68d285462b19abc2475222f35c085122be4ba1ffa00ad30f8767b3a82384c6574f024c311e2a481332b"
              "08ef7f41797891c1646f48");
    EXPECT_EQ(hex_of(evp_digest(md_of(GostObj::gost3411_2012_256), m1, {1, 62})),
              "9d151eefd8590b89daa6ba6cb74af9275dd051026bb149a452fd84e5e57b5500");
}

// OpenSSL's HMAC copies digest contexts: it works only with a copy function.
TEST_F(EvpDigests, HmacThroughOpenSslGivesThePublishedExamples) {
    const Bytes key = hex_bytes("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const Bytes t = hex_bytes("0126bdb87800af214341456563780100");
    struct {
        GostObj obj;
        const char *expected;
    } cases[] = {
        {GostObj::gost3411_2012_256, "a1aa5f7de402d7b3d323f2991c8d4534013137010a83754fd0af6d7cd4922ed9"},
        {GostObj::gost3411_2012_512,
         "a59bab22ecae19c65fbde6e5f4e9f5d8549d31f037f9df9b905500e171923a773d5f1530f2ed7e964cb2eedc29e9ad2f3afe93b2814f"
         "79f5000ffc0366c251e6"},
    };
    for (const auto &c : cases) {
        Bytes out(EVP_MAX_MD_SIZE);
        unsigned len = 0;
        ASSERT_NE(HMAC(md_of(c.obj), key.data(), int(key.size()), t.data(), t.size(), out.data(), &len), nullptr);
        out.resize(len);
        EXPECT_EQ(hex_of(out), c.expected) << gost_obj_sn(c.obj);
    }
}

TEST_F(EvpDigests, ACopiedContextContinuesLikeTheOriginal) {
    const Bytes m = test_bytes(300, 3);
    for (const DigestCase &d : kDigests) {
        SCOPED_TRACE(gost_obj_sn(d.obj));
        MdCtxPtr a(EVP_MD_CTX_new()), b(EVP_MD_CTX_new());
        ASSERT_TRUE(EVP_DigestInit_ex(a.get(), md_of(d.obj), nullptr));
        ASSERT_TRUE(EVP_DigestUpdate(a.get(), m.data(), 100));
        ASSERT_TRUE(EVP_MD_CTX_copy_ex(b.get(), a.get()));
        // The original goes on with the rest; the copy must not share its state.
        ASSERT_TRUE(EVP_DigestUpdate(a.get(), m.data() + 100, 200));
        ASSERT_TRUE(EVP_DigestUpdate(b.get(), m.data() + 100, 200));
        Bytes da(64), db(64);
        unsigned la = 0, lb = 0;
        ASSERT_TRUE(EVP_DigestFinal_ex(a.get(), da.data(), &la));
        ASSERT_TRUE(EVP_DigestFinal_ex(b.get(), db.data(), &lb));
        da.resize(la);
        db.resize(lb);
        EXPECT_EQ(hex_of(da), hex_of(d.core(m)));
        EXPECT_EQ(hex_of(db), hex_of(da));
    }
}

TEST_F(EvpDigests, RecordCallbacksHandleTheirEdgeCases) {
    for (const DigestCase &d : kDigests) {
        SCOPED_TRACE(gost_obj_sn(d.obj));
        const EVP_MD *md = md_of(d.obj);
        MdCtxPtr ctx(EVP_MD_CTX_new());
        ASSERT_TRUE(EVP_DigestInit_ex(ctx.get(), md, nullptr));
        // Final without an output buffer does nothing; copying onto itself
        // too; an empty update is accepted (the 94 core would refuse it).
        EXPECT_EQ(EVP_MD_meth_get_final(md)(ctx.get(), nullptr), 1);
        EXPECT_EQ(EVP_MD_meth_get_copy(md)(ctx.get(), ctx.get()), 1);
        EXPECT_EQ(EVP_MD_meth_get_update(md)(ctx.get(), "", 0), 1);
        // Cleanup leaves a fresh context: what follows is a new message.
        ASSERT_TRUE(EVP_DigestUpdate(ctx.get(), "abc", 3));
        EXPECT_EQ(EVP_MD_meth_get_cleanup(md)(ctx.get()), 1);
        const Bytes m = test_bytes(40, 9);
        ASSERT_TRUE(EVP_DigestUpdate(ctx.get(), m.data(), m.size()));
        Bytes out(64);
        unsigned len = 0;
        ASSERT_TRUE(EVP_DigestFinal_ex(ctx.get(), out.data(), &len));
        out.resize(len);
        EXPECT_EQ(hex_of(out), hex_of(d.core(m)));
        EXPECT_EQ(EVP_MD_get_size(md), d.size);
        EXPECT_EQ(EVP_MD_get_block_size(md), d.block);
    }
}

TEST_F(EvpDigests, DigestsAndCiphersAreFoundByEveryName) {
    struct Named {
        GostObj obj;
        bool cipher;
    } algs[] = {{GostObj::md_gost94, false},        {GostObj::gost3411_2012_256, false},
                {GostObj::gost3411_2012_512, false}, {GostObj::gost_mac, false},
                {GostObj::gost89, true},              {GostObj::gost89_cnt, true}};
    for (const Named &a : algs) {
        const int nid = gost_nid(a.obj);
        ASSERT_NE(nid, NID_undef);
        for (const char *name : {gost_obj_sn(a.obj), gost_obj_ln(a.obj), OBJ_nid2sn(nid), OBJ_nid2ln(nid)}) {
            SCOPED_TRACE(name);
            if (a.cipher) {
                const EVP_CIPHER *c = EVP_get_cipherbyname(name);
                ASSERT_NE(c, nullptr);
                EXPECT_EQ(EVP_CIPHER_get_nid(c), nid);
                EXPECT_EQ(c, EVP_get_cipherbynid(nid));
            } else {
                const EVP_MD *md = EVP_get_digestbyname(name);
                ASSERT_NE(md, nullptr);
                EXPECT_EQ(EVP_MD_get_type(md), nid);
                EXPECT_EQ(md, EVP_get_digestbynid(nid));
            }
        }
        // The engine serves the algorithm through OpenSSL's tables.
        ENGINE *e = a.cipher ? ENGINE_get_cipher_engine(nid) : ENGINE_get_digest_engine(nid);
        EXPECT_EQ(e, token_engine()) << gost_obj_sn(a.obj);
        if (e)
            ENGINE_finish(e);
    }
    EXPECT_STREQ(OBJ_nid2sn(gost_nid(GostObj::gost3411_2012_512)), SN_id_GostR3411_2012_512);
}

TEST_F(EvpDigests, SelectorsHandOutTheNidsInOrderAndTheirRecords) {
    const int *nids = nullptr;
    ASSERT_EQ(pkcs11_digests(token_engine(), nullptr, &nids, 0), 4);
    const GostObj digests[] = {GostObj::md_gost94, GostObj::gost3411_2012_256, GostObj::gost3411_2012_512,
                               GostObj::gost_mac};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(nids[k], gost_nid(digests[k])) << k;
        const EVP_MD *md = nullptr;
        EXPECT_EQ(pkcs11_digests(token_engine(), &md, nullptr, nids[k]), 1);
        EXPECT_EQ(md, EVP_get_digestbynid(nids[k]));
    }
    ASSERT_EQ(pkcs11_ciphers(token_engine(), nullptr, &nids, 0), 2);
    EXPECT_EQ(nids[0], gost_nid(GostObj::gost89));
    EXPECT_EQ(nids[1], gost_nid(GostObj::gost89_cnt));
    const EVP_MD *md = EVP_sha256();
    EXPECT_EQ(pkcs11_digests(token_engine(), &md, nullptr, NID_sha256), 0);
    EXPECT_EQ(md, nullptr);
    const EVP_CIPHER *c = EVP_aes_128_cbc();
    EXPECT_EQ(pkcs11_ciphers(token_engine(), &c, nullptr, gost_nid(GostObj::md_gost94)), 0);
    EXPECT_EQ(c, nullptr);
}
