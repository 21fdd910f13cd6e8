// The MAC key method: EVP_DigestSign with a GOST 28147-89 MAC key made from
// its "key" or "hexkey" string gives what the MAC digest keyed directly
// gives.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "keyops_fixture.h"
#include "pkcs11_pmeth.h"
#include "test_digests.h"

namespace {

PkeyPtr mac_key(const char *name, const char *value)
{
    PkeyCtxPtr c(EVP_PKEY_CTX_new_id(nid(GostObj::gost_mac), nullptr));
    if (!c || EVP_PKEY_keygen_init(c.get()) != 1 || EVP_PKEY_CTX_ctrl_str(c.get(), name, value) != 1)
        return nullptr;
    EVP_PKEY *k = nullptr;
    if (EVP_PKEY_keygen(c.get(), &k) != 1)
        return nullptr;
    return PkeyPtr(k);
}

// The MAC digest keyed with `key` through its set-key control.
Bytes direct_mac(const unsigned char *key, const Bytes &data)
{
    MdCtxPtr c(EVP_MD_CTX_new());
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    if (EVP_DigestInit_ex(c.get(), gost_digest(GostObj::gost_mac), nullptr) != 1 ||
        EVP_MD_CTX_ctrl(c.get(), EVP_MD_CTRL_GOST_SET_KEY, 32, const_cast<unsigned char *>(key)) != 1 ||
        EVP_DigestUpdate(c.get(), data.data(), data.size()) != 1 || EVP_DigestFinal_ex(c.get(), out, &len) != 1)
        return {};
    return Bytes(out, out + len);
}

// EVP_DigestSign with the key (md null: the key's default digest); *room is
// the buffer size handed over.
Bytes signed_mac(EVP_PKEY *key, const EVP_MD *md, const Bytes &data, std::size_t room = 4, int *rc = nullptr)
{
    MdCtxPtr c(EVP_MD_CTX_new());
    if (EVP_DigestSignInit(c.get(), nullptr, md, nullptr, key) != 1)
        return {};
    return into_buffer(room, rc, [&](unsigned char *out, std::size_t *len) {
        return EVP_DigestSign(c.get(), out, len, data.data(), data.size());
    });
}

TEST(MacKey, MacsAreTheMacDigestsOfTheKeysFromTheirStrings)
{
    ASSERT_NE(token_engine(), nullptr);
    const std::string text = "0123456789abcdef0123456789ABCDEF";
    const std::string hexkey = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
    Bytes hex_bytes = hex_to_bytes(hexkey);
    struct Case {
        const char *name;
        std::string value;
        const unsigned char *key;
    };
    const Case cases[] = {
        {"key", text, reinterpret_cast<const unsigned char *>(text.data())},
        {"hexkey", hexkey, hex_bytes.data()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PkeyPtr key = mac_key(c.name, c.value.c_str());
        ASSERT_TRUE(key);
        // A MAC over no data at all has no value: signing fails.
        EXPECT_TRUE(signed_mac(key.get(), gost_digest(GostObj::gost_mac), Bytes{}).empty());
        for (std::size_t size : {1, 7, 8, 9, 1000}) {
            Bytes data = pattern_bytes(size, static_cast<unsigned>(size) + 1);
            Bytes want = direct_mac(c.key, data);
            ASSERT_EQ(want.size(), 4u);
            EXPECT_EQ(signed_mac(key.get(), gost_digest(GostObj::gost_mac), data), want) << size;
            // The key's default digest is the MAC digest.
            EXPECT_EQ(signed_mac(key.get(), nullptr, data), want) << size;
        }
    }
    // Another key gives another MAC.
    PkeyPtr a = mac_key("key", text.c_str()), b = mac_key("hexkey", hexkey.c_str());
    Bytes data = pattern_bytes(100, 9);
    EXPECT_NE(signed_mac(a.get(), nullptr, data), signed_mac(b.get(), nullptr, data));
}

TEST(MacKey, TheLengthIsAnnouncedAndABufferTooSmallIsRefused)
{
    ASSERT_NE(token_engine(), nullptr);
    PkeyPtr key = mac_key("key", "0123456789abcdef0123456789abcdef");
    ASSERT_TRUE(key);
    MdCtxPtr c(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_DigestSignInit(c.get(), nullptr, nullptr, nullptr, key.get()), 1);
    std::size_t len = 0;
    EXPECT_EQ(EVP_DigestSign(c.get(), nullptr, &len, nullptr, 0), 1);
    EXPECT_EQ(len, kGostMacLen);

    Stderr captured;
    int rc = 1;
    EXPECT_EQ(signed_mac(key.get(), nullptr, pattern_bytes(16, 1), 3, &rc), Bytes());
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(captured.text(), "pkey_pkcs11_mac_signctx: MAC buffer of 3 bytes, 4 needed\n");
}

TEST(MacKey, AMacKeyWithoutItsKeyIsRefused)
{
    ASSERT_NE(token_engine(), nullptr);
    PkeyPtr empty(EVP_PKEY_new());
    EVP_PKEY_assign(empty.get(), nid(GostObj::gost_mac), nullptr);  // the type, no key
    ASSERT_EQ(EVP_PKEY_get_base_id(empty.get()), nid(GostObj::gost_mac));
    MdCtxPtr c(EVP_MD_CTX_new());
    Stderr captured;
    EXPECT_NE(EVP_DigestSignInit(c.get(), nullptr, gost_digest(GostObj::gost_mac), nullptr, empty.get()), 1);
    EXPECT_EQ(captured.text(), "pkey_pkcs11_mac_ctrl: EVP_PKEY_CTRL_DIGESTINIT MAC key not set\n");
}

TEST(MacKey, OnlyTheMacDigestIsTaken)
{
    ASSERT_NE(token_engine(), nullptr);
    PkeyPtr key = mac_key("key", "0123456789abcdef0123456789abcdef");
    MdCtxPtr c(EVP_MD_CTX_new());
    Stderr captured;
    EXPECT_NE(EVP_DigestSignInit(c.get(), nullptr, gost_digest(GostObj::gost3411_2012_256), nullptr, key.get()), 1);
    EXPECT_EQ(captured.text(), "pkey_pkcs11_mac_ctrl: EVP_PKEY_CTRL_MD invalid digest type\n");
}

}  // namespace
