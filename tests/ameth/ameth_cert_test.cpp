// Certificates with GOST public keys on every curve, built with OpenSSL
// through our encoder and read back through our decoder.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>

#include "gost_objects.h"
#include "gost_params.h"
#include "gost_test_engine.h"
#include "oid_der.h"
#include "pkcs11_ameth.h"

namespace {

// A SubjectPublicKeyInfo: algorithm OID, parameters DER (empty: none) and the
// subjectPublicKey bit string's contents.
std::vector<unsigned char> spki(const std::vector<unsigned char> &alg_oid_der, const std::vector<unsigned char> &params,
                                const std::vector<unsigned char> &key_bits)
{
    auto tlv = [](unsigned char tag, const std::vector<unsigned char> &body) {
        std::vector<unsigned char> out{tag};
        if (body.size() < 128) {
            out.push_back(static_cast<unsigned char>(body.size()));
        } else if (body.size() < 256) {
            out.push_back(0x81);
            out.push_back(static_cast<unsigned char>(body.size()));
        } else {
            out.push_back(0x82);
            out.push_back(static_cast<unsigned char>(body.size() >> 8));
            out.push_back(static_cast<unsigned char>(body.size() & 0xFF));
        }
        return concat(out, body);
    };
    std::vector<unsigned char> alg = tlv(0x30, concat(alg_oid_der, params));
    std::vector<unsigned char> bits = tlv(0x03, concat({0x00}, key_bits));
    return tlv(0x30, concat(alg, bits));
}

PkeyPtr decode_spki(const std::vector<unsigned char> &der, std::string *err)
{
    gost_test_engine();
    testing::internal::CaptureStderr();
    const unsigned char *p = der.data();
    EVP_PKEY *k = d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
    *err = testing::internal::GetCapturedStderr();
    return PkeyPtr(k);
}

const std::vector<unsigned char> kOid512 = hex("06 08 2A 85 03 07 01 01 01 02");
const std::vector<unsigned char> kOid256 = hex("06 08 2A 85 03 07 01 01 01 01");

}  // namespace

TEST(GostCertificates, EveryCurveOfEveryAlgorithmSurvivesARoundTrip)
{
    const GostObj algs[] = {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512};
    unsigned seed = 0;
    for (GostObj alg : algs) {
        const GostKeyAlg *props = gost_key_alg(nid(alg));
        ASSERT_NE(props, nullptr);
        for (const GostParamSet &set : gost_paramsets(*props)) {
            SCOPED_TRACE(std::string(gost_obj_sn(alg)) + " " + set.oid);
            std::vector<unsigned char> pub = pattern_bytes(props->pub_key_len, ++seed);
            PkeyPtr key = make_gost_key(nid(alg), set.nid(), pub);
            ASSERT_TRUE(key);
            std::vector<unsigned char> der = certificate_der(key.get());
            ASSERT_FALSE(der.empty());
            X509Ptr cert = parse_certificate(der);
            ASSERT_TRUE(cert);

            EVP_PKEY *got = X509_get0_pubkey(cert.get());
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(EVP_PKEY_get_base_id(got), nid(alg));
            const p11_gost2012_key *rec = record(got);
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ(rec->alg_nid, nid(alg));
            EXPECT_EQ(rec->param_nid, set.nid());
            EXPECT_EQ(rec->pub_key_len, props->pub_key_len);
            EXPECT_EQ(rec->priv_key_len, props->priv_key_len);
            EXPECT_EQ(std::vector<unsigned char>(rec->pub_key, rec->pub_key + rec->pub_key_len), pub);
            EXPECT_EQ(rec->priv_key_loaded, 0);

            // The CKA_ID is SHA-1 over the subjectPublicKey contents.
            const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(cert.get());
            std::vector<unsigned char> contents(ASN1_STRING_get0_data(bits),
                                                ASN1_STRING_get0_data(bits) + ASN1_STRING_length(bits));
            EXPECT_EQ(std::vector<unsigned char>(rec->key_id, rec->key_id + 20), sha1(contents));

            // The algorithm parameters name the curve and the digest set.
            const X509_ALGOR *palg = nullptr;
            X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, const_cast<X509_ALGOR **>(&palg),
                                   X509_get_X509_PUBKEY(cert.get()));
            const void *pval = nullptr;
            int ptype = 0;
            X509_ALGOR_get0(nullptr, &ptype, &pval, palg);
            ASSERT_EQ(ptype, V_ASN1_SEQUENCE);
            const ASN1_STRING *params = static_cast<const ASN1_STRING *>(pval);
            std::vector<unsigned char> hash_der(2 + 127);
            hash_der.resize(oid_der_from_nid(gost_nid(props->hash_params), hash_der.data(), hash_der.size()));
            std::vector<unsigned char> want = concat(std::vector<unsigned char>(set.der, set.der + set.der_len), hash_der);
            want.insert(want.begin(), {0x30, static_cast<unsigned char>(want.size())});
            EXPECT_EQ(std::vector<unsigned char>(ASN1_STRING_get0_data(params),
                                                 ASN1_STRING_get0_data(params) + ASN1_STRING_length(params)),
                      want);

            // The printed certificate shows the key through our printer, under
            // OpenSSL's own name of the algorithm: every byte of the value,
            // eight to a line, then our name of the curve.
            std::string text = printed_certificate(cert.get());
            std::string block = std::string("        Subject Public Key Info:\n") +
                                "            Public Key Algorithm: " + OBJ_nid2ln(nid(alg)) + "\n" +
                                "                Public key: \n";
            for (std::size_t i = 0; i < pub.size(); ++i) {
                char item[8];
                std::snprintf(item, sizeof item, "0x%.2x, ", pub[i]);
                block += (i % 8 == 0 ? "                " : "") + std::string(item) + (i % 8 == 7 ? "\n" : "");
            }
            block += std::string("                \n") + "                Parameter set: " + gost_nid2ln(set.nid()) +
                     "\n    Signature Algorithm: ";
            EXPECT_NE(text.find(block), std::string::npos) << text;

            // And the decoded key equals the one the certificate was made from.
            EXPECT_EQ(EVP_PKEY_eq(got, key.get()), 1);
            EXPECT_EQ(X509_check_private_key(cert.get(), key.get()), 1);
        }
    }
}

TEST(GostCertificates, DecodingAlwaysGivesAFreshRecordWithItsOwnId)
{
    std::vector<unsigned char> pub = pattern_bytes(64, 77);
    PkeyPtr key = make_gost_key(nid(GostObj::gost3410_2012_256), nid(GostObj::gost2001_cryptopro_a_paramset), pub);
    std::memset(record(key.get())->key_id, 0xEE, 20);  // an ID that does not follow from the value
    X509Ptr cert = parse_certificate(certificate_der(key.get()));
    ASSERT_TRUE(cert);
    const p11_gost2012_key *rec = record(X509_get0_pubkey(cert.get()));
    ASSERT_NE(rec, nullptr);
    EXPECT_NE(rec, record(key.get()));
    EXPECT_EQ(std::vector<unsigned char>(rec->key_id, rec->key_id + 20), sha1(concat(hex("04 40"), pub)));
}

TEST(GostCertificates, A512BitKeyWithoutDigestParametersIsRead)
{
    // The current X.509 profile for GOST R 34.10-2012 writes only the curve.
    std::vector<unsigned char> pub = pattern_bytes(128, 9);
    std::string err;
    PkeyPtr k = decode_spki(spki(kOid512, hex("30 0B 06 09 2A 85 03 07 01 02 01 02 01"), concat(hex("04 81 80"), pub)), &err);
    ASSERT_TRUE(k) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(record(k.get())->param_nid, nid(GostObj::gost3410_2012_512_paramset_a));
    EXPECT_EQ(std::vector<unsigned char>(record(k.get())->pub_key, record(k.get())->pub_key + 128), pub);
}

TEST(GostCertificates, PublicValuesOfTheWrongLengthAreRefused)
{
    std::string err;
    PkeyPtr k = decode_spki(spki(kOid256, hex("30 09 06 07 2A 85 03 02 02 23 01"), concat(hex("04 41"), pattern_bytes(65, 1))),
                            &err);
    EXPECT_FALSE(k);
    EXPECT_NE(err.find("pub_decode_gost2012: public key of 65 bytes, expected 64\n"), std::string::npos) << err;

    // 512-bit algorithm, 256-byte value: nothing may go past the 128-byte field.
    k = decode_spki(spki(kOid512, hex("30 0B 06 09 2A 85 03 07 01 02 01 02 01"),
                         concat(hex("04 82 01 00"), pattern_bytes(256, 2))),
                    &err);
    EXPECT_FALSE(k);
    EXPECT_NE(err.find("pub_decode_gost2012: public key of 256 bytes, expected 128\n"), std::string::npos) << err;

    // A zero value is what a key record holds before the token gives it: a
    // certificate carrying it must not pass for a token key.
    k = decode_spki(spki(kOid256, hex("30 09 06 07 2A 85 03 02 02 23 01"), concat(hex("04 40"), std::vector<unsigned char>(64))),
                    &err);
    EXPECT_FALSE(k);
    EXPECT_NE(err.find("pub_decode_gost2012: public key value is zero\n"), std::string::npos) << err;
}

TEST(GostCertificates, MalformedAlgorithmParametersAreRefusedWithTheirLines)
{
    std::vector<unsigned char> key = concat(hex("04 40"), pattern_bytes(64, 3));
    std::string err;
    EXPECT_FALSE(decode_spki(spki(kOid256, {}, key), &err));
    EXPECT_NE(err.find("p11: decode_gost2001_algor_params err 1\n"), std::string::npos) << err;
    EXPECT_FALSE(decode_spki(spki(kOid256, hex("05 00"), key), &err));
    EXPECT_NE(err.find("p11: decode_gost2001_algor_params err 1\n"), std::string::npos) << err;
    EXPECT_FALSE(decode_spki(spki(kOid256, hex("30 03 02 01 01"), key), &err));
    EXPECT_NE(err.find("p11: decode_gost2001_algor_params err 2\n"), std::string::npos) << err;
    // A 512-bit curve under a 256-bit algorithm.
    EXPECT_FALSE(decode_spki(spki(kOid256, hex("30 0B 06 09 2A 85 03 07 01 02 01 02 01"), key), &err));
    EXPECT_NE(err.find("fill_GOST2012_params: unsupported parameter set\ndecode_gost2012_algor_params err 3\n"),
              std::string::npos)
        << err;
    // The key bits are not an OCTET STRING.
    EXPECT_FALSE(decode_spki(spki(kOid256, hex("30 09 06 07 2A 85 03 02 02 23 01"), hex("02 01 01")), &err));
    EXPECT_NE(err.find("pub_decode_gost2012: d2i_ASN1_OCTET_STRING failure\n"), std::string::npos) << err;
    // Bytes after the OCTET STRING: its CKA_ID could not be the SHA-1 of the key bits.
    EXPECT_FALSE(decode_spki(spki(kOid256, hex("30 09 06 07 2A 85 03 02 02 23 01"), concat(key, hex("00"))), &err));
    EXPECT_NE(err.find("pub_decode_gost2012: d2i_ASN1_OCTET_STRING failure\n"), std::string::npos) << err;
}

namespace {
// An algorithm identifier with a SEQUENCE parameter (DER of the SEQUENCE).
X509_ALGOR *algor(int alg_nid, const std::vector<unsigned char> &seq)
{
    X509_ALGOR *a = X509_ALGOR_new();
    ASN1_STRING *s = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_STRING_set(s, seq.data(), static_cast<int>(seq.size()));
    X509_ALGOR_set0(a, OBJ_nid2obj(alg_nid), V_ASN1_SEQUENCE, s);
    return a;
}
}  // namespace

TEST(GostAlgorithmParameters, DecodingReplacesTheKeysRecordAndLeavesOtherAlgorithmsBare)
{
    PkeyPtr key = make_gost_key(nid(GostObj::gost2001), nid(GostObj::gost2001_cryptopro_a_paramset), pattern_bytes(64, 5));
    X509_ALGOR *a = algor(nid(GostObj::gost3410_2012_512), hex("30 0B 06 09 2A 85 03 07 01 02 01 02 02"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(decode_gost2012_algor_params(a, key.get()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), nid(GostObj::gost3410_2012_512));
    const p11_gost2012_key *rec = record(key.get());
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->alg_nid, nid(GostObj::gost3410_2012_512));
    EXPECT_EQ(rec->param_nid, nid(GostObj::gost3410_2012_512_paramset_b));
    EXPECT_EQ(rec->pub_key_len, 128u);
    EXPECT_EQ(rec->pub_key[0], 0);  // a fresh record: the old value is gone
    X509_ALGOR_free(a);

    // Not a GOST key algorithm: the type is set, no record is made.
    PkeyPtr other(EVP_PKEY_new());
    a = algor(NID_rsaEncryption, hex("30 09 06 07 2A 85 03 02 02 23 01"));
    EXPECT_EQ(decode_gost2012_algor_params(a, other.get()), 1);
    EXPECT_EQ(EVP_PKEY_get_base_id(other.get()), NID_rsaEncryption);
    EXPECT_EQ(EVP_PKEY_get0(other.get()), nullptr);
    X509_ALGOR_free(a);

    testing::internal::CaptureStderr();
    EXPECT_EQ(decode_gost2012_algor_params(nullptr, other.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "p11: decode_gost2001_algor_params err 1\n");
}
