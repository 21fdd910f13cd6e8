// The GOST key methods on keys made in the test: CKA_ID, printing, sizes,
// control, parameters and comparison.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstring>

#include "gost_objects.h"
#include "gost_test_engine.h"
#include "pkcs11_ameth.h"

namespace {

std::vector<unsigned char> counting(std::size_t n)
{
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>(i);
    return v;
}

}  // namespace

TEST(PkcsIdGen, IsSha1OfTheOctetStringWrappingThePublicValue)
{
    unsigned char id[20];
    std::vector<unsigned char> k64 = pattern_bytes(64, 1);
    ASSERT_EQ(pkcs11_id_gen(k64.data(), 64, id), 1);
    EXPECT_EQ(std::vector<unsigned char>(id, id + 20), sha1(concat(hex("04 40"), k64)));
    std::vector<unsigned char> k128 = pattern_bytes(128, 2);
    ASSERT_EQ(pkcs11_id_gen(k128.data(), 128, id), 1);
    EXPECT_EQ(std::vector<unsigned char>(id, id + 20), sha1(concat(hex("04 81 80"), k128)));
    EXPECT_EQ(pkcs11_id_gen(nullptr, 64, id), 0);
    EXPECT_EQ(pkcs11_id_gen(k128.data(), 256, id), 0);
}

TEST(GostKeyPrinting, PublicKeyPrintsEightItemsALineThenTheParameterSet)
{
    PkeyPtr k = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_cryptopro_a_paramset), counting(64));
    ASSERT_TRUE(k);
    EXPECT_EQ(print_public(k.get(), 4),
              "    Public key: \n"
              "    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, \n"
              "    0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, \n"
              "    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, \n"
              "    0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f, \n"
              "    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, \n"
              "    0x28, 0x29, 0x2a, 0x2b, 0x2c, 0x2d, 0x2e, 0x2f, \n"
              "    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, \n"
              "    0x38, 0x39, 0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f, \n"
              "    \n"  // OpenSSL indents the empty line as well
              "    Parameter set: id-GostR3410-2001-CryptoPro-A-ParamSet\n");
}

TEST(GostKeyPrinting, A512BitKeyPrintsSixteenLinesAndOurParameterSetName)
{
    PkeyPtr k = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_a),
                              pattern_bytes(128, 3));
    std::string text = print_public(k.get(), 0);
    std::size_t items = 0, lines = 0, pos = 0;
    while ((pos = text.find("0x", pos)) != std::string::npos) { ++items; pos += 2; }
    for (std::size_t i = text.find('\n') + 1; i < text.size();) {
        std::size_t nl = text.find('\n', i);
        if (text.compare(i, 2, "0x") == 0) {
            ++lines;
            EXPECT_EQ(nl - i, 8 * 6u);
        }
        i = nl + 1;
    }
    EXPECT_EQ(items, 128u);
    EXPECT_EQ(lines, 16u);
    EXPECT_NE(text.find("\n\nParameter set: id-tc26-gost-3410-2012-512-paramSetA\n"), std::string::npos);
}

TEST(GostKeyPrinting, PrivateKeyPrintsSixteenUpperCaseItemsALine)
{
    PkeyPtr k = make_gost_key(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_cryptopro_b_paramset), counting(64));
    p11_gost2012_key *rec = record(k.get());
    for (int i = 0; i < 32; ++i)
        rec->priv_key[i] = static_cast<unsigned char>(0xA0 + i);
    rec->priv_key_loaded = 1;
    std::string text = print_private(k.get(), 2);
    EXPECT_EQ(text.substr(0, text.find("  Public key:")),
              "  Private key: 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,\n"
              "  0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,\n");
    EXPECT_NE(text.find("  Parameter set: id-GostR3410-2001-CryptoPro-B-ParamSet\n"), std::string::npos);
}

TEST(GostKeyPrinting, ParametersPrintOnlyTheSet)
{
    PkeyPtr k = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_test), {});
    EXPECT_EQ(print_params(k.get(), 1), " Parameter set: id-tc26-gost-3410-2012-512-paramSetTest\n");
}

TEST(GostKeySizes, SignatureSizeAndBitsFollowTheAlgorithm)
{
    PkeyPtr k2001 = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_test_paramset), {});
    PkeyPtr k256 = make_gost_key(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_test_paramset), {});
    PkeyPtr k512 = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_b), {});
    EXPECT_EQ(EVP_PKEY_get_size(k2001.get()), 64);
    EXPECT_EQ(EVP_PKEY_get_bits(k256.get()), 256);
    EXPECT_EQ(EVP_PKEY_get_size(k512.get()), 128);
    EXPECT_EQ(EVP_PKEY_get_bits(k512.get()), 512);
}

TEST(GostKeyControl, DefaultDigestFollowsTheAlgorithm)
{
    int md = 0;
    PkeyPtr k2001 = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_test_paramset), {});
    EXPECT_EQ(EVP_PKEY_get_default_digest_nid(k2001.get(), &md), 2);
    EXPECT_EQ(md, nid(GostObj::md_gost94));
    PkeyPtr k256 = make_gost_key(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_test_paramset), {});
    EXPECT_EQ(EVP_PKEY_get_default_digest_nid(k256.get(), &md), 2);
    EXPECT_EQ(md, nid(GostObj::gost3411_2012_256));
    PkeyPtr k512 = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_b), {});
    EXPECT_EQ(EVP_PKEY_get_default_digest_nid(k512.get(), &md), 2);
    EXPECT_EQ(md, nid(GostObj::gost3411_2012_512));
}

TEST(GostKeyControl, MacKeyAnswersItsOwnDigestAndWipesItsKey)
{
    gost_test_engine();
    PkeyPtr mac(EVP_PKEY_new());
    void *key = OPENSSL_zalloc(kGostMacKeyLen);
    ASSERT_EQ(EVP_PKEY_assign(mac.get(), nid(GostObj::gost_mac), key), 1);
    int md = 0;
    EXPECT_EQ(EVP_PKEY_get_default_digest_nid(mac.get(), &md), 2);
    EXPECT_EQ(md, nid(GostObj::gost_mac));
}

TEST(GostKeyControl, Pkcs7SignerGetsTheKeyAndDigestAlgorithmsWithNullParameters)
{
    PkeyPtr k = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_a),
                              pattern_bytes(128, 5));
    PKCS7_SIGNER_INFO *si = PKCS7_SIGNER_INFO_new();
    X509_ALGOR *digest = nullptr, *sig = nullptr;
    // PKCS7_SIGNER_INFO_set hands the signer to the key's control slot.
    X509 *cert = X509_new();
    X509_set_pubkey(cert, k.get());
    ASSERT_EQ(PKCS7_SIGNER_INFO_set(si, cert, k.get(), EVP_get_digestbynid(NID_sha256)), 1);
    PKCS7_SIGNER_INFO_get0_algs(si, nullptr, &digest, &sig);
    const ASN1_OBJECT *obj = nullptr;
    int ptype = 0;
    X509_ALGOR_get0(&obj, &ptype, nullptr, digest);
    EXPECT_EQ(OBJ_obj2nid(obj), nid(GostObj::gost3411_2012_512));
    EXPECT_EQ(ptype, V_ASN1_NULL);
    X509_ALGOR_get0(&obj, &ptype, nullptr, sig);
    EXPECT_EQ(OBJ_obj2nid(obj), nid(GostObj::gost3410_2012_512));
    EXPECT_EQ(ptype, V_ASN1_NULL);
    X509_free(cert);
    PKCS7_SIGNER_INFO_free(si);
}

TEST(GostKeyControl, Pkcs7RecipientGetsTheKeyAlgorithmWithItsParameters)
{
    PkeyPtr k = make_gost_key(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_cryptopro_xcha_paramset),
                              pattern_bytes(64, 4));
    X509 *cert = X509_new();
    ASSERT_EQ(X509_set_pubkey(cert, k.get()), 1);
    PKCS7_RECIP_INFO *ri = PKCS7_RECIP_INFO_new();
    ASSERT_EQ(PKCS7_RECIP_INFO_set(ri, cert), 1);
    X509_ALGOR *alg = nullptr;
    PKCS7_RECIP_INFO_get0_alg(ri, &alg);
    const ASN1_OBJECT *obj = nullptr;
    int ptype = 0;
    const void *pval = nullptr;
    X509_ALGOR_get0(&obj, &ptype, &pval, alg);
    EXPECT_EQ(OBJ_obj2nid(obj), nid(GostObj::gost3410_2012_256));
    ASSERT_EQ(ptype, V_ASN1_SEQUENCE);
    const ASN1_STRING *params = static_cast<const ASN1_STRING *>(pval);
    EXPECT_EQ(std::vector<unsigned char>(ASN1_STRING_get0_data(params), ASN1_STRING_get0_data(params) + ASN1_STRING_length(params)),
              hex("30 13 06 07 2A 85 03 02 02 24 00 06 08 2A 85 03 07 01 01 02 02"));
    PKCS7_RECIP_INFO_free(ri);
    X509_free(cert);
}

TEST(GostKeyParameters, CopyFillsAnEmptyKeyAndRefusesAnotherSet)
{
    PkeyPtr a = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_cryptopro_a_paramset), pattern_bytes(64, 6));
    // b's value is not known yet, so OpenSSL asks our slot to copy into it.
    PkeyPtr b = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_cryptopro_b_paramset), {});
    testing::internal::CaptureStderr();
    EXPECT_EQ(EVP_PKEY_copy_parameters(b.get(), a.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "param_copy_gost2012: incompatible keys\n");

    PkeyPtr empty(EVP_PKEY_new());
    ASSERT_EQ(EVP_PKEY_set_type(empty.get(), nid(GostObj::gost2001)), 1);
    EXPECT_EQ(EVP_PKEY_missing_parameters(empty.get()), 1);
    ASSERT_EQ(EVP_PKEY_copy_parameters(empty.get(), a.get()), 1);
    EXPECT_EQ(record(empty.get())->param_nid, nid(GostObj::gost2001_cryptopro_a_paramset));
    EXPECT_EQ(record(empty.get())->pub_key_len, 64u);
    EXPECT_EQ(EVP_PKEY_parameters_eq(empty.get(), a.get()), 1);
    EXPECT_EQ(EVP_PKEY_parameters_eq(b.get(), a.get()), 0);
}

TEST(GostKeyParameters, CopyFromAKeyWithoutASetIsRefused)
{
    PkeyPtr a = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_cryptopro_a_paramset), pattern_bytes(64, 6));
    PkeyPtr b = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_cryptopro_a_paramset), pattern_bytes(64, 6));
    record(b.get())->param_nid = NID_undef;
    testing::internal::CaptureStderr();
    // OpenSSL asks param_missing first; the slot itself refuses as well.
    EXPECT_EQ(EVP_PKEY_copy_parameters(a.get(), b.get()), 0);
    EXPECT_EQ(EVP_PKEY_get0_asn1(a.get()) != nullptr, true);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err.empty() || err == "param_copy_gost2012: undefined source NID\n") << err;
}

TEST(GostKeyParameters, ParameterBlocksAreReadAsGost2001Sets)
{
    PkeyPtr k = make_gost_key(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_cryptopro_xcha_paramset), {});
    unsigned char *der = nullptr;
    int len = i2d_KeyParams(k.get(), &der);
    ASSERT_GT(len, 0);
    EXPECT_EQ(std::vector<unsigned char>(der, der + len), hex("06 07 2A 85 03 02 02 24 00"));
    const unsigned char *p = der;
    EVP_PKEY *back = d2i_KeyParams(nid(GostObj::gost2001), nullptr, &p, len);
    OPENSSL_free(der);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(EVP_PKEY_get_base_id(back), nid(GostObj::gost2001));
    EXPECT_EQ(record(back)->alg_nid, nid(GostObj::gost2001));
    EXPECT_EQ(record(back)->param_nid, nid(GostObj::gost2001_cryptopro_xcha_paramset));
    EXPECT_EQ(record(back)->pub_key_len, 64u);
    EVP_PKEY_free(back);

    std::vector<unsigned char> set512 = hex("06 09 2A 85 03 07 01 02 01 02 01");
    p = set512.data();
    testing::internal::CaptureStderr();
    EXPECT_EQ(d2i_KeyParams(nid(GostObj::gost2001), nullptr, &p, static_cast<long>(set512.size())), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "fill_GOST2012_params: unsupported parameter set\n");
}

TEST(GostKeyComparison, KeysAreEqualWhenSetAndValueAre)
{
    int a2012 = nid(GostObj::gost3410_2012_256), set_a = nid(GostObj::gost2001_cryptopro_a_paramset);
    PkeyPtr k1 = make_gost_key(a2012, set_a, pattern_bytes(64, 8));
    PkeyPtr k2 = make_gost_key(a2012, set_a, pattern_bytes(64, 8));
    PkeyPtr k3 = make_gost_key(a2012, set_a, pattern_bytes(64, 9));
    PkeyPtr k4 = make_gost_key(a2012, nid(GostObj::gost2001_cryptopro_c_paramset), pattern_bytes(64, 8));
    PkeyPtr k5 = make_gost_key(nid(GostObj::gost2001), set_a, pattern_bytes(64, 8));
    EXPECT_EQ(EVP_PKEY_eq(k1.get(), k2.get()), 1);
    EXPECT_EQ(EVP_PKEY_eq(k1.get(), k3.get()), 0);
    EXPECT_EQ(EVP_PKEY_eq(k1.get(), k4.get()), 0);
    EXPECT_EQ(EVP_PKEY_eq(k1.get(), k5.get()), -1);  // different key types
}

TEST(GostKeyParameters, EncodingWithoutARecordOrSetIsRefused)
{
    gost_test_engine();
    PkeyPtr bare(EVP_PKEY_new());
    ASSERT_EQ(EVP_PKEY_set_type(bare.get(), nid(GostObj::gost3410_2012_512)), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(encode_gost2012_algor_params(bare.get()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "encode_gost2012_algor_params  - 2.5 -\n");

    // A record whose curve is not known yet would give an empty OID.
    PkeyPtr unset = make_gost_key(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_cryptopro_a_paramset), {});
    record(unset.get())->param_nid = NID_undef;
    testing::internal::CaptureStderr();
    EXPECT_EQ(encode_gost2012_algor_params(unset.get()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "encode_gost2012_algor_params: parameter set not set\n");

    PkeyPtr k = make_gost_key(nid(GostObj::gost3410_2012_512), nid(GostObj::gost3410_2012_512_paramset_a), {});
    ASN1_STRING *params = encode_gost2012_algor_params(k.get());
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(ASN1_STRING_type(params), V_ASN1_SEQUENCE);
    EXPECT_EQ(std::vector<unsigned char>(ASN1_STRING_get0_data(params), ASN1_STRING_get0_data(params) + ASN1_STRING_length(params)),
              hex("30 15 06 09 2A 85 03 07 01 02 01 02 01 06 08 2A 85 03 07 01 01 02 03"));
    ASN1_STRING_free(params);

    PkeyPtr k2001 = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_cryptopro_a_paramset), {});
    params = encode_gost2012_algor_params(k2001.get());
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(ASN1_STRING_get0_data(params), ASN1_STRING_get0_data(params) + ASN1_STRING_length(params)),
              hex("30 12 06 07 2A 85 03 02 02 23 01 06 07 2A 85 03 02 02 1E 01"));
    ASN1_STRING_free(params);
}

TEST(GostKeyMethods, EachAlgorithmGetsItsNamesAndNullSignatureParameters)
{
    const struct {
        int nid;
        const char *pem;
        const char *info;
    } cases[] = {
        {nid(GostObj::gost2001), "GOST2001", "GOST R 34.10-2001"},
        {nid(GostObj::gost3410_2012_256), "GOST3410-2012-256", "GOST R 34.10-2012-256"},
        {nid(GostObj::gost3410_2012_512), "GOST3410-2012-512", "GOST R 34.10-2012-512"},
        {nid(GostObj::gost_mac), "GOST-MAC", "GOST 28147-89 MAC"},
        {NID_sha256, "OTHER", "no slots"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pem);
        EVP_PKEY_ASN1_METHOD *m = nullptr;
        ASSERT_EQ(register_ameth_pkcs11(c.nid, &m, c.pem, c.info), 1);
        ASSERT_NE(m, nullptr);
        int id = 0, base = 0, flags = 0;
        const char *info = nullptr, *pem = nullptr;
        ASSERT_EQ(EVP_PKEY_asn1_get0_info(&id, &base, &flags, &info, &pem, m), 1);
        EXPECT_EQ(id, c.nid);
        EXPECT_EQ(base, c.nid);
        EXPECT_NE(flags & ASN1_PKEY_SIGPARAM_NULL, 0);
        EXPECT_STREQ(pem, c.pem);
        EXPECT_STREQ(info, c.info);
        EVP_PKEY_asn1_free(m);
    }
    EVP_PKEY_ASN1_METHOD *m = nullptr;
    EXPECT_EQ(register_ameth_pkcs11(NID_undef, &m, "X", "Y"), 0);
    EXPECT_EQ(m, nullptr);
}
