// The GOST object table: OpenSSL's NIDs, our names beside OpenSSL's, the DER
// form of OIDs, cross-references and printers OpenSSL brings along.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>
#include <vector>

#include "gost_objects.h"
#include "hex_bytes.h"
#include "oid_der.h"

namespace {

std::vector<GostObj> all_objects()
{
    std::vector<GostObj> v;
    for (std::size_t i = 0; i < kGostObjectCount; ++i)
        v.push_back(static_cast<GostObj>(i));
    return v;
}

std::string oid_text(int nid)
{
    char buf[128];
    ASN1_OBJECT *obj = OBJ_nid2obj(nid);
    if (obj == nullptr)
        return "";
    int n = OBJ_obj2txt(buf, sizeof buf, obj, 1);
    ASN1_OBJECT_free(obj);
    return n > 0 ? std::string(buf) : "";
}

}  // namespace

TEST(GostObjects, EveryObjectHasOpenSslsNidForItsOid)
{
    ASSERT_TRUE(gost_objects_init());
    for (GostObj o : all_objects()) {
        int nid = gost_nid(o);
        SCOPED_TRACE(gost_obj_sn(o));
        ASSERT_NE(nid, NID_undef);
        if (gost_obj_oid(o)[0] != '\0') {
            EXPECT_EQ(oid_text(nid), gost_obj_oid(o));
            EXPECT_EQ(OBJ_txt2nid(gost_obj_oid(o)), nid);
        }
    }
    // Known to OpenSSL under its own names: we use its NIDs, never new ones.
    EXPECT_EQ(gost_nid(GostObj::gost3410_2012_512), NID_id_GostR3410_2012_512);
    EXPECT_EQ(gost_nid(GostObj::gost28147_param_z), NID_id_tc26_gost_28147_param_Z);
    EXPECT_EQ(gost_nid(GostObj::gost89_cnt), NID_gost89_cnt);
    EXPECT_EQ(gost_nid(GostObj::md_gost94), NID_id_GostR3411_94);
}

TEST(GostObjects, MissingObjectsAreCreatedOnceWithOurNames)
{
    int rnsfss = gost_nid(GostObj::rnsfss);
    int kpfss = gost_nid(GostObj::kpfss);
    EXPECT_NE(rnsfss, kpfss);
    EXPECT_STREQ(OBJ_nid2sn(rnsfss), "RNSFSS");
    EXPECT_STREQ(OBJ_nid2ln(rnsfss), "rnsfss");
    EXPECT_STREQ(OBJ_nid2sn(kpfss), "KPFSS");
    EXPECT_STREQ(OBJ_nid2ln(kpfss), "kpfss");
    ASSERT_TRUE(gost_objects_init());
    EXPECT_EQ(gost_nid(GostObj::rnsfss), rnsfss);
    EXPECT_EQ(OBJ_txt2nid("1.2.643.3.141.1.1"), rnsfss);
}

TEST(GostObjects, NamesOursAndOpenSslsAndDottedTextReachTheSameNid)
{
    for (GostObj o : all_objects()) {
        int nid = gost_nid(o);
        SCOPED_TRACE(gost_obj_sn(o));
        EXPECT_EQ(gost_txt2nid(gost_obj_sn(o)), nid);
        EXPECT_EQ(gost_txt2nid(gost_obj_ln(o)), nid);
        EXPECT_EQ(gost_txt2nid(OBJ_nid2sn(nid)), nid);
        EXPECT_EQ(gost_txt2nid(OBJ_nid2ln(nid)), nid);
        if (gost_obj_oid(o)[0] != '\0') {
            EXPECT_EQ(gost_txt2nid(gost_obj_oid(o)), nid);
        }
        // Our names never stand for another object in OpenSSL's table.
        int theirs_sn = OBJ_txt2nid(gost_obj_sn(o));
        int theirs_ln = OBJ_txt2nid(gost_obj_ln(o));
        EXPECT_TRUE(theirs_sn == NID_undef || theirs_sn == nid);
        EXPECT_TRUE(theirs_ln == NID_undef || theirs_ln == nid);
    }
    int n512 = gost_nid(GostObj::gost3410_2012_512);
    EXPECT_EQ(gost_txt2nid("gost3410-2012-512"), n512);
    EXPECT_EQ(gost_txt2nid("GOST R 34.10-2012 512 bits"), n512);
    EXPECT_EQ(gost_txt2nid("1.2.643.7.1.1.1.2"), n512);
    EXPECT_EQ(gost_txt2nid("gost2012_512"), n512);
    EXPECT_EQ(gost_txt2nid("id-tc26-gost-28147-param-Z"), gost_nid(GostObj::gost28147_param_z));
    // Names of other algorithms still work; unknown names give NID_undef.
    EXPECT_EQ(gost_txt2nid("sha1"), NID_sha1);
    EXPECT_EQ(gost_txt2nid("no-such-object"), NID_undef);
    EXPECT_EQ(gost_txt2nid("1.2.643.99.99.99"), NID_undef);
    EXPECT_EQ(gost_txt2nid(""), NID_undef);
    EXPECT_EQ(gost_txt2nid(nullptr), NID_undef);
}

TEST(GostObjects, PrintedNamesAreOurs)
{
    EXPECT_STREQ(gost_nid2ln(gost_nid(GostObj::gost3410_2012_512_paramset_a)), "id-tc26-gost-3410-2012-512-paramSetA");
    EXPECT_STREQ(gost_nid2ln(gost_nid(GostObj::gost3410_2012_256)), "GOST R 34.10-2012 256 bits");
    EXPECT_STREQ(gost_nid2sn(gost_nid(GostObj::gost3411_2012_512)), "gost3411-2012-512");
    EXPECT_STREQ(gost_nid2ln(gost_nid(GostObj::gost2001_cryptopro_a_paramset)), "id-GostR3410-2001-CryptoPro-A-ParamSet");
    EXPECT_STREQ(gost_nid2ln(NID_undef), "undefined");
    EXPECT_STREQ(gost_nid2ln(NID_sha256), "sha256");
    EXPECT_STREQ(gost_nid2ln(999999), "undefined");
}

TEST(GostObjects, DerFormOfEveryAddedObjectIsTagLengthContent)
{
    const std::pair<GostObj, const char *> expected[] = {
        {GostObj::tc26, "2A 85 03 07 01"},
        {GostObj::signwithdigest_2012_256, "2A 85 03 07 01 01 03 02"},
        {GostObj::signwithdigest_2012_512, "2A 85 03 07 01 01 03 03"},
        {GostObj::gost3410_2012_256, "2A 85 03 07 01 01 01 01"},
        {GostObj::gost3410_2012_512, "2A 85 03 07 01 01 01 02"},
        {GostObj::gost3410_2012_dh_256, "2A 85 03 07 01 01 06 01"},
        {GostObj::gost3410_2012_dh_512, "2A 85 03 07 01 01 06 02"},
        {GostObj::gost3411_2012_256, "2A 85 03 07 01 01 02 02"},
        {GostObj::hmac_gost3411_2012_256, "2A 85 03 07 01 01 04 01"},
        {GostObj::gost3411_2012_512, "2A 85 03 07 01 01 02 03"},
        {GostObj::hmac_gost3411_2012_512, "2A 85 03 07 01 01 04 02"},
        {GostObj::gost3410_2012_512_paramset_test, "2A 85 03 07 01 02 01 02 00"},
        {GostObj::gost3410_2012_512_paramset_a, "2A 85 03 07 01 02 01 02 01"},
        {GostObj::gost3410_2012_512_paramset_b, "2A 85 03 07 01 02 01 02 02"},
        {GostObj::gost28147_param_z, "2A 85 03 07 01 02 05 01 01"},
        {GostObj::ogrn, "2A 85 03 64 01"},
        {GostObj::snils, "2A 85 03 64 03"},
        {GostObj::ogrnip, "2A 85 03 64 05"},
        {GostObj::inn, "2A 85 03 03 81 03 01 01"},
        {GostObj::rnsfss, "2A 85 03 03 81 0D 01 01"},
        {GostObj::kpfss, "2A 85 03 03 81 0D 01 02"},
        {GostObj::subject_sign_tool, "2A 85 03 64 6F"},
        {GostObj::issuer_sign_tool, "2A 85 03 64 70"},
        {GostObj::kc1_class_sign_tool, "2A 85 03 64 71 01"},
        {GostObj::kc2_class_sign_tool, "2A 85 03 64 71 02"},
        {GostObj::kc3_class_sign_tool, "2A 85 03 64 71 03"},
        {GostObj::kb1_class_sign_tool, "2A 85 03 64 71 04"},
        {GostObj::kb2_class_sign_tool, "2A 85 03 64 71 05"},
        {GostObj::ka1_class_sign_tool, "2A 85 03 64 71 06"},
    };
    for (const auto &[obj, content] : expected) {
        SCOPED_TRACE(gost_obj_sn(obj));
        std::vector<unsigned char> want = hex_bytes(content);
        want.insert(want.begin(), {0x06, static_cast<unsigned char>(want.size())});
        EXPECT_EQ(oid_der(gost_nid(obj)), want);
    }
    EXPECT_EQ(oid_der(gost_nid(GostObj::gost28147_param_z)), hex_bytes("06 09 2A 85 03 07 01 02 05 01 01"));
    EXPECT_EQ(oid_der(gost_nid(GostObj::gost2001_cryptopro_a_paramset)).size(), 9u);
}

TEST(GostObjects, DerHelperRefusesWhatHasNoOidOrDoesNotFit)
{
    EXPECT_TRUE(oid_der(NID_undef).empty());
    EXPECT_TRUE(oid_der(gost_nid(GostObj::gost89_cnt)).empty());
    EXPECT_TRUE(oid_der(999999).empty());
    unsigned char small[10];
    EXPECT_EQ(oid_der_from_nid(gost_nid(GostObj::gost28147_param_z), small, sizeof small), 0u);
    unsigned char exact[11];
    EXPECT_EQ(oid_der_from_nid(gost_nid(GostObj::gost28147_param_z), exact, sizeof exact), 11u);
}

TEST(GostObjects, DerIsReadBackToTheNid)
{
    int nid = -1;
    std::vector<unsigned char> der = hex_bytes("06 09 2A 85 03 07 01 02 01 02 01");
    ASSERT_TRUE(oid_der_to_nid(der.data(), der.size(), &nid));
    EXPECT_EQ(nid, gost_nid(GostObj::gost3410_2012_512_paramset_a));

    std::vector<unsigned char> unknown = hex_bytes("06 03 2A 85 63");
    ASSERT_TRUE(oid_der_to_nid(unknown.data(), unknown.size(), &nid));
    EXPECT_EQ(nid, NID_undef);

    for (const char *bad : {"", "06", "06 00", "04 02 2A 85", "06 05 2A 85 03", "06 03 2A 85 03 00", "06 81 03 2A 85 03"}) {
        SCOPED_TRACE(bad);
        std::vector<unsigned char> b = hex_bytes(bad);
        EXPECT_FALSE(oid_der_to_nid(b.data(), b.size(), &nid));
    }
    EXPECT_FALSE(oid_der_to_nid(nullptr, 9, &nid));
}

TEST(GostObjects, SignatureAlgorithmsResolveToDigestAndKeyAlgorithm)
{
    int md = 0, pkey = 0;
    ASSERT_EQ(OBJ_find_sigid_algs(gost_txt2nid("1.2.643.7.1.1.3.2"), &md, &pkey), 1);
    EXPECT_EQ(md, gost_nid(GostObj::gost3411_2012_256));
    EXPECT_EQ(pkey, gost_nid(GostObj::gost3410_2012_256));
    ASSERT_EQ(OBJ_find_sigid_algs(gost_nid(GostObj::signwithdigest_2012_512), &md, &pkey), 1);
    EXPECT_EQ(md, gost_nid(GostObj::gost3411_2012_512));
    EXPECT_EQ(pkey, gost_nid(GostObj::gost3410_2012_512));
    int sig = 0;
    ASSERT_EQ(OBJ_find_sigid_by_algs(&sig, gost_nid(GostObj::gost3411_2012_512), gost_nid(GostObj::gost3410_2012_512)), 1);
    EXPECT_EQ(sig, gost_nid(GostObj::signwithdigest_2012_512));
}

namespace {
std::string print_extension(GostObj obj, const std::vector<unsigned char> &value)
{
    ASN1_OCTET_STRING *os = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(os, value.data(), static_cast<int>(value.size()));
    X509_EXTENSION *ext = X509_EXTENSION_create_by_NID(nullptr, gost_nid(obj), 0, os);
    ASN1_OCTET_STRING_free(os);
    BIO *bio = BIO_new(BIO_s_mem());
    int ok = X509V3_EXT_print(bio, ext, 0, 0);
    BUF_MEM *mem = nullptr;
    BIO_get_mem_ptr(bio, &mem);
    std::string text = ok == 1 ? std::string(mem->data, mem->length) : "<no printer>";
    BIO_free(bio);
    X509_EXTENSION_free(ext);
    return text;
}
}  // namespace

TEST(GostObjects, SignToolExtensionsPrintAsText)
{
    // UTF8String "CSP 5.0"
    EXPECT_EQ(print_extension(GostObj::subject_sign_tool, hex_bytes("0C 07 43 53 50 20 35 2E 30")), "CSP 5.0");
    // OpenSSL's printer, kept: the four UTF8Strings of the issuer's tools, one
    // named line each, an empty one printing as an empty value.
    EXPECT_EQ(print_extension(GostObj::issuer_sign_tool, hex_bytes("30 0B 0C 01 61 0C 01 62 0C 00 0C 01 64")),
              "signTool    : a\n"
              "cATool      : b\n"
              "signToolCert: \n"
              "cAToolCert  : d");
    // Any other number of elements is not an issuerSignTool value.
    EXPECT_EQ(print_extension(GostObj::issuer_sign_tool, hex_bytes("30 06 0C 01 61 0C 01 62")), "<no printer>");
}

TEST(GostObjects, SubjectSignToolIsBuiltFromText)
{
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, nullptr, gost_nid(GostObj::subject_sign_tool), "CSP 5.0");
    ASSERT_NE(ext, nullptr);
    const ASN1_OCTET_STRING *value = X509_EXTENSION_get_data(ext);
    EXPECT_EQ(std::vector<unsigned char>(ASN1_STRING_get0_data(value), ASN1_STRING_get0_data(value) + ASN1_STRING_length(value)),
              hex_bytes("0C 07 43 53 50 20 35 2E 30"));
    X509_EXTENSION_free(ext);
}

TEST(GostObjects, NameAttributesPrintWithTheirNames)
{
    X509_NAME *name = X509_NAME_new();
    ASSERT_TRUE(X509_NAME_add_entry_by_NID(name, gost_nid(GostObj::rnsfss), MBSTRING_ASC,
                                           reinterpret_cast<const unsigned char *>("1234567890"), -1, -1, 0));
    ASSERT_TRUE(X509_NAME_add_entry_by_NID(name, gost_nid(GostObj::kpfss), MBSTRING_ASC,
                                           reinterpret_cast<const unsigned char *>("77"), -1, -1, 0));
    char buf[256];
    X509_NAME_oneline(name, buf, sizeof buf);
    EXPECT_STREQ(buf, "/RNSFSS=1234567890/KPFSS=77");
    X509_NAME_free(name);
}

TEST(GostObjects, DigestAndCipherAliasesCarryOurNames)
{
    int nid = gost_nid(GostObj::gost3411_2012_256);
    // Registered for the rest of the process: kept reachable, never freed.
    static EVP_MD *md = EVP_MD_meth_new(nid, NID_undef);
    ASSERT_NE(md, nullptr);
    EVP_MD_meth_set_result_size(md, 32);
    ASSERT_EQ(EVP_add_digest(md), 1);
    ASSERT_TRUE(gost_add_digest_aliases(nid));
    EXPECT_EQ(EVP_get_digestbyname("gost3411-2012-256"), md);
    EXPECT_EQ(EVP_get_digestbyname("GOST R 34.11-2012 256 bits"), md);
    EXPECT_EQ(EVP_get_digestbyname(OBJ_nid2sn(nid)), md);
    EXPECT_TRUE(gost_add_digest_aliases(NID_sha256));  // not ours: nothing to add
    EXPECT_EQ(EVP_get_digestbyname("gost3411-2012-512"), nullptr);

    int cnid = gost_nid(GostObj::gost89);
    static EVP_CIPHER *c = EVP_CIPHER_meth_new(cnid, 8, 32);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(EVP_add_cipher(c), 1);
    // "gost89" and "GOST 28147-89" are OpenSSL's own names already.
    EXPECT_TRUE(gost_add_cipher_aliases(cnid));
    EXPECT_EQ(EVP_get_cipherbyname("gost89"), c);
}
