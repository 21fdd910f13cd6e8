// OpenSSL's own password-based encryption and PKCS#12 code on the engine's
// algorithms: PBES2 with GOST 28147-89 and PBKDF2 over HMAC with the GOST
// hashes, written to DER and read back, and PKCS#12 MACs with the GOST hashes.
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include <gtest/gtest.h>

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstring>

#include "evp_test_support.h"
#include "gost_objects.h"
#include "zkc_gost28147.h"

namespace {

const char kPass[] = "Пароль-1";  // UTF-8, as PKCS#12 passwords come
const Bytes kSalt = hex_bytes("a1b2c3d4e5f60718293a4b5c6d7e8f90");

struct AlgorFree {
    void operator()(X509_ALGOR *a) const { X509_ALGOR_free(a); }
};
using AlgorPtr = std::unique_ptr<X509_ALGOR, AlgorFree>;

struct Pbes2Case {
    const char *what;
    int prf_asked;    // -1: the cipher's choice
    int prf_written;  // the PRF the parameters then name
    int md_nid;       // the digest behind that PRF
};

const Pbes2Case kPrfs[] = {
    {"cipher's PRF", -1, NID_id_HMACGostR3411_94, NID_id_GostR3411_94},
    {"HMAC GOST R 34.11-94", NID_id_HMACGostR3411_94, NID_id_HMACGostR3411_94, NID_id_GostR3411_94},
    {"HMAC GOST R 34.11-2012-256", NID_id_tc26_hmac_gost_3411_2012_256, NID_id_tc26_hmac_gost_3411_2012_256,
     NID_id_GostR3411_2012_256},
    {"HMAC GOST R 34.11-2012-512", NID_id_tc26_hmac_gost_3411_2012_512, NID_id_tc26_hmac_gost_3411_2012_512,
     NID_id_GostR3411_2012_512},
};

// The algorithm identifier through DER and back.
AlgorPtr der_round_trip(const X509_ALGOR *alg, Bytes *der_out = nullptr) {
    unsigned char *der = nullptr;
    int len = i2d_X509_ALGOR(alg, &der);
    if (len <= 0)
        return nullptr;
    const unsigned char *p = der;
    AlgorPtr back(d2i_X509_ALGOR(nullptr, &p, len));
    if (der_out)
        der_out->assign(der, der + len);
    OPENSSL_free(der);
    return back;
}

Bytes pbe_crypt(const X509_ALGOR *alg, const Bytes &in, bool encrypt) {
    unsigned char *out = nullptr;
    int out_len = 0;
    if (!PKCS12_pbe_crypt(alg, kPass, int(strlen(kPass)), in.data(), int(in.size()), &out, &out_len, encrypt))
        return {};
    Bytes result(out, out + out_len);
    OPENSSL_clear_free(out, size_t(out_len));
    return result;
}

class Pbes2 : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(token_engine(), nullptr); }
    void TearDown() override { ERR_clear_error(); }
};

}  // namespace

TEST_F(Pbes2, EncryptionWithEveryGostPrfIsWrittenAndReadBack) {
    const EVP_CIPHER *gost89 = EVP_get_cipherbynid(gost_nid(GostObj::gost89));
    ASSERT_NE(gost89, nullptr);
    const Bytes plain = test_bytes(1500, 17);
    const int iter = 2000;
    for (const Pbes2Case &c : kPrfs) {
        SCOPED_TRACE(c.what);
        AlgorPtr alg(PKCS5_pbe2_set_iv(gost89, iter, const_cast<unsigned char *>(kSalt.data()), int(kSalt.size()),
                                       nullptr, c.prf_asked));
        ASSERT_TRUE(alg);
        Bytes der;
        AlgorPtr read = der_round_trip(alg.get(), &der);
        ASSERT_TRUE(read);

        // What the DER says: PBES2, PBKDF2 with our salt, count and PRF, and
        // GOST 28147-89 with an IV and the engine's default set.
        PBE2PARAM *pbe2 = static_cast<PBE2PARAM *>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), read->parameter));
        ASSERT_NE(pbe2, nullptr);
        EXPECT_EQ(OBJ_obj2nid(read->algorithm), NID_pbes2);
        EXPECT_EQ(OBJ_obj2nid(pbe2->encryption->algorithm), gost_nid(GostObj::gost89));
        PBKDF2PARAM *kdf =
            static_cast<PBKDF2PARAM *>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter));
        ASSERT_NE(kdf, nullptr);
        ASSERT_NE(kdf->prf, nullptr);
        EXPECT_EQ(OBJ_obj2nid(kdf->prf->algorithm), c.prf_written);
        EXPECT_EQ(ASN1_INTEGER_get(kdf->iter), iter);
        const ASN1_OCTET_STRING *salt = kdf->salt->value.octet_string;
        EXPECT_EQ(hex_of(Bytes(ASN1_STRING_get0_data(salt), ASN1_STRING_get0_data(salt) + ASN1_STRING_length(salt))),
                  hex_of(kSalt));
        const ASN1_STRING *cp = pbe2->encryption->parameter->value.sequence;
        const unsigned char *p = ASN1_STRING_get0_data(cp);
        ZKC_CIPHER_PARAMS *gp = d2i_ZKC_CIPHER_PARAMS(nullptr, &p, ASN1_STRING_length(cp));
        ASSERT_NE(gp, nullptr);
        ASSERT_EQ(ASN1_STRING_length(gp->iv), 8);
        const Bytes iv(ASN1_STRING_get0_data(gp->iv), ASN1_STRING_get0_data(gp->iv) + 8);
        EXPECT_EQ(OBJ_obj2nid(gp->enc_param_set), set_z().nid);
        ZKC_CIPHER_PARAMS_free(gp);
        PBKDF2PARAM_free(kdf);
        PBE2PARAM_free(pbe2);

        // Encrypted through the parameters read back: the key is PBKDF2 over
        // HMAC with the PRF's hash, the cipher the core's CFB on set Z.
        const Bytes secret = pbe_crypt(read.get(), plain, true);
        ASSERT_EQ(secret.size(), plain.size());
        Bytes key(32);
        ASSERT_TRUE(PKCS5_PBKDF2_HMAC(kPass, int(strlen(kPass)), kSalt.data(), int(kSalt.size()), iter,
                                      EVP_get_digestbynid(c.md_nid), int(key.size()), key.data()));
        EXPECT_EQ(hex_of(secret), hex_of(core_cipher(set_z().param, GOST28147_89_MODE_CFB, true, key, iv, plain)));

        // And decrypted through a second reading.
        AlgorPtr again = der_round_trip(read.get());
        ASSERT_TRUE(again);
        EXPECT_EQ(hex_of(pbe_crypt(again.get(), secret, false)), hex_of(plain));
    }
}

TEST_F(Pbes2, TheParameterSetInTheParametersIsTheOneUsed) {
    // Parameters written by a context on set A decrypt only on set A.
    const EVP_CIPHER *gost89 = EVP_get_cipherbynid(gost_nid(GostObj::gost89));
    ASSERT_EQ(ENGINE_ctrl_cmd_string(token_engine(), "PARAMS_GOST28147", "id-Gost28147-89-CryptoPro-A-ParamSet", 0), 1);
    AlgorPtr alg(PKCS5_pbe2_set_iv(gost89, 1000, const_cast<unsigned char *>(kSalt.data()), int(kSalt.size()),
                                   nullptr, -1));
    ASSERT_EQ(ENGINE_ctrl_cmd_string(token_engine(), "PARAMS_GOST28147", "id-tc26-gost-28147-param-Z", 0), 1);
    ASSERT_TRUE(alg);
    const Bytes plain = test_bytes(200, 3);
    AlgorPtr read = der_round_trip(alg.get());
    const Bytes secret = pbe_crypt(read.get(), plain, true);
    ASSERT_FALSE(secret.empty());
    // The engine default is Z again: decryption follows the parameters.
    EXPECT_EQ(hex_of(pbe_crypt(read.get(), secret, false)), hex_of(plain));
}

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
struct P12Free {
    void operator()(PKCS12 *p) const { PKCS12_free(p); }
};
using P12Ptr = std::unique_ptr<PKCS12, P12Free>;

// A PKCS#12 container holding an EC key shrouded with PBES2 / GOST 28147-89,
// MACed with the digest md, through DER and back.
P12Ptr gost_pkcs12(EVP_PKEY *key, const EVP_MD *md) {
    P12Ptr p12(PKCS12_create(kPass, "gost", key, nullptr, nullptr, gost_nid(GostObj::gost89), -1, 2048, -1, 0));
    if (!p12 || !PKCS12_set_mac(p12.get(), kPass, -1, nullptr, 0, 2048, md))
        return nullptr;
    unsigned char *der = nullptr;
    int len = i2d_PKCS12(p12.get(), &der);
    if (len <= 0)
        return nullptr;
    const unsigned char *p = der;
    P12Ptr back(d2i_PKCS12(nullptr, &p, len));
    OPENSSL_free(der);
    return back;
}

}  // namespace

TEST_F(Pbes2, Pkcs12ContainersWithGostMacsAndGostShroudedKeysOpen) {
    PkeyPtr key(EVP_EC_gen("P-256"));
    ASSERT_TRUE(key);
    for (GostObj md_obj : {GostObj::md_gost94, GostObj::gost3411_2012_512, GostObj::gost3411_2012_256}) {
        SCOPED_TRACE(gost_obj_sn(md_obj));
        P12Ptr p12 = gost_pkcs12(key.get(), EVP_get_digestbynid(gost_nid(md_obj)));
        ASSERT_TRUE(p12);
        const X509_ALGOR *mac_alg = nullptr;
        PKCS12_get0_mac(nullptr, &mac_alg, nullptr, nullptr, p12.get());
        ASSERT_NE(mac_alg, nullptr);
        const ASN1_OBJECT *mac_oid = nullptr;
        X509_ALGOR_get0(&mac_oid, nullptr, nullptr, mac_alg);
        EXPECT_EQ(OBJ_obj2nid(mac_oid), gost_nid(md_obj));

        EXPECT_EQ(PKCS12_verify_mac(p12.get(), kPass, -1), 1);
        EXPECT_EQ(PKCS12_verify_mac(p12.get(), "wrong", -1), 0);
        EVP_PKEY *opened = nullptr;
        X509 *cert = nullptr;
        ASSERT_EQ(PKCS12_parse(p12.get(), kPass, &opened, &cert, nullptr), 1);
        PkeyPtr opened_key(opened);
        EXPECT_EQ(cert, nullptr);
        EXPECT_EQ(EVP_PKEY_eq(opened, key.get()), 1);
        ERR_clear_error();
    }
}
