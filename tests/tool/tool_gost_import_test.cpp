// GOST key pairs imported from PKCS#12 onto our software token: three
// objects under one label and one CKA_ID, and nothing left behind when the
// import fails.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "gost_objects.h"
#include "gost_test_keys.h"
#include "module_token.h"
#include "ossl_ptr.h"
#include "pkcs11_core_eng.h"
#include "run_process.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <stdlib.h>

namespace {

const std::string kTokencert =
    std::getenv("TOKENCERT_TOOL") ? std::getenv("TOKENCERT_TOOL") : TOKENCERT_BINARY_DIR "/tool/tokencert";
const std::string kFaultModule = TOKENCERT_BINARY_DIR "/tests/modules/libfaultmod.so";
using Bytes = std::vector<unsigned char>;


struct KeyCase {
    GostObj alg;
    GostObj paramset;
};
const KeyCase kCases[] = {
    {GostObj::gost2001, GostObj::gost2001_cryptopro_a_paramset},
    {GostObj::gost3410_2012_256, GostObj::gost2001_cryptopro_b_paramset},
    {GostObj::gost3410_2012_512, GostObj::gost3410_2012_512_paramset_a},
    {GostObj::gost3410_2012_256, GostObj::gost3410_2012_256_paramset_a},
};

class GostImport : public testing::Test {
protected:
    static void SetUpTestSuite() { ENGINE_load_zk_p11_core(); }

    void SetUp() override
    {
        token_ = make_module_token(ModuleKind::softtoken);
        ASSERT_TRUE(token_->ok()) << token_->error();
        // A directory of the test's own: tests of this suite run side by side.
        std::string templ = testing::TempDir() + "tokencert-import-XXXXXX";
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    ProcessResult tool(const std::vector<std::string> &args, const std::string &input,
                       std::map<std::string, std::string> env = {}, const std::string &module = "")
    {
        std::vector<std::string> argv{kTokencert, "-p11", module.empty() ? token_->module_path() : module, "-slot",
                                      token_->slot_text()};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.stdin_text = input;
        options.env = token_->env();
        options.env.insert(env.begin(), env.end());
        options.timeout = std::chrono::seconds(60);
        ProcessResult r = run_process(argv, options);
        EXPECT_FALSE(r.timed_out);
        return r;
    }

    // A container with a fresh key pair of the case and its certificate,
    // protected with GOST algorithms (PBKDF2 with the PRF prf_nid, a MAC with
    // mac_md) or, with prf_nid 0, with OpenSSL's standard ones.
    std::string container(const KeyCase &c, const std::string &password, Bytes *cert_der, int prf_nid = 0,
                          const char *mac_md = nullptr, const std::string &name = "import.p12")
    {
        PkeyPtr key = generate_gost_key_pair(nid(c.alg), nid(c.paramset));
        *cert_der = certificate_der(key.get());
        X509Ptr cert = parse_certificate(*cert_der);
        Bytes p12 = prf_nid ? gost_pkcs12_der(key.get(), cert.get(), password.c_str(), "imported", prf_nid,
                                              EVP_get_digestbyname(mac_md))
                            : pkcs12_der(key.get(), cert.get(), password.c_str(), "imported");
        EXPECT_FALSE(p12.empty());
        if (prf_nid) {
            // The MAC is the GOST digest asked for.
            const unsigned char *p = p12.data();
            PKCS12 *parsed = d2i_PKCS12(nullptr, &p, long(p12.size()));
            const X509_ALGOR *mac_alg = nullptr;
            PKCS12_get0_mac(nullptr, &mac_alg, nullptr, nullptr, parsed);
            const ASN1_OBJECT *oid = nullptr;
            X509_ALGOR_get0(&oid, nullptr, nullptr, mac_alg);
            EXPECT_EQ(OBJ_obj2nid(oid), EVP_MD_get_type(EVP_get_digestbyname(mac_md)));
            PKCS12_free(parsed);
        }
        // In the token's own directory (removed with it): CTest runs the
        // cases side by side, and other checkouts share /tmp.
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(p12.data()), p12.size());
        return path;
    }

    // Imports a container (password "secret"), through the fault module when faults are given.
    ProcessResult import(const std::string &path, const std::string &label,
                         std::map<std::string, std::string> faults = {})
    {
        if (!faults.empty())
            faults["FAULTMOD_TARGET"] = token_->module_path();
        return tool({"-infile", path, "-inform", "p12", "-label", label},
                    std::string("secret\n") + token_->user_pin() + "\n", faults, faults.empty() ? "" : kFaultModule);
    }

    // Every object on the token (the user logged in), by class.
    std::map<CK_OBJECT_CLASS, std::vector<CK_OBJECT_HANDLE>> objects(CK_SESSION_HANDLE s)
    {
        CK_FUNCTION_LIST *f = token_->functions();
        std::map<CK_OBJECT_CLASS, std::vector<CK_OBJECT_HANDLE>> out;
        EXPECT_EQ(f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
        CK_OBJECT_HANDLE h[64];
        CK_ULONG n = 0;
        EXPECT_EQ(f->C_FindObjects(s, h, 64, &n), CKR_OK);
        f->C_FindObjectsFinal(s);
        for (CK_ULONG i = 0; i < n; ++i) {
            CK_OBJECT_CLASS cls = 0;
            CK_ATTRIBUTE a = {CKA_CLASS, &cls, sizeof(cls)};
            f->C_GetAttributeValue(s, h[i], &a, 1);
            out[cls].push_back(h[i]);
        }
        return out;
    }
    Bytes attribute(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        token_->functions()->C_GetAttributeValue(s, h, &a, 1);
        Bytes v(a.ulValueLen);
        a.pValue = v.data();
        token_->functions()->C_GetAttributeValue(s, h, &a, 1);
        return v;
    }
    size_t object_count()
    {
        CK_SESSION_HANDLE s = token_->open_session(true);
        size_t n = 0;
        for (auto &entry : objects(s))
            n += entry.second.size();
        token_->functions()->C_CloseSession(s);
        return n;
    }

    std::unique_ptr<ModuleToken> token_;
    std::string dir_;  // the test's own files
};

// Containers protected with GOST algorithms, made by OpenSSL's PKCS#12 code
// through the engine, and with OpenSSL's standard ones.
struct Protection {
    const char *name;
    const char *prf;  // OID of the PBKDF2 PRF, or null: AES and SHA-256
    const char *mac;
};
const Protection kProtections[] = {
    {"HMAC-GOST R 34.11-94, MAC GOST R 34.11-94", "1.2.643.2.2.10", "md_gost94"},
    {"HMAC-GOST R 34.11-2012-512, MAC GOST R 34.11-2012-512", "1.2.643.7.1.1.4.2", "gost3411-2012-512"},
    {"AES-256-CBC, HMAC-SHA-256", nullptr, nullptr},
};

TEST_F(GostImport, KeyPairAndCertificateShareOneLabelAndOneIdentifier)
{
    for (const Protection &p : kProtections)
    for (const KeyCase &c : kCases) {
        SCOPED_TRACE(std::string(gost_obj_sn(c.alg)) + ", " + p.name);
        Bytes der;
        const std::string path = container(c, "secret", &der, p.prf ? OBJ_txt2nid(p.prf) : 0, p.mac);
        ASSERT_FALSE(der.empty());
        const std::string label = std::string("pair ") + gost_obj_sn(c.alg);
        ProcessResult r = tool({"-infile", path, "-inform", "pfx", "-label", label},
                               std::string("secret\n") + token_->user_pin() + "\n");
        ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
        EXPECT_EQ(r.out, "Keypair and certificate objects '" + label + "' imported from '" + path + "' file\nOK\n");
        EXPECT_EQ(r.err, "Enter " + path + " container password:\nEnter token user PIN:\n");

        X509Ptr cert = parse_certificate(der);
        const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(cert.get());
        Bytes key_bits(ASN1_STRING_get0_data(bits), ASN1_STRING_get0_data(bits) + ASN1_STRING_length(bits));
        CK_SESSION_HANDLE s = token_->open_session(true);
        auto all = objects(s);
        ASSERT_EQ(all[CKO_PRIVATE_KEY].size(), 1u);
        ASSERT_EQ(all[CKO_PUBLIC_KEY].size(), 1u);
        ASSERT_EQ(all[CKO_CERTIFICATE].size(), 1u);
        for (CK_OBJECT_CLASS cls : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY, CKO_CERTIFICATE}) {
            CK_OBJECT_HANDLE h = all[cls][0];
            EXPECT_EQ(attribute(s, h, CKA_ID), sha1(key_bits)) << cls;
            Bytes stored_label = attribute(s, h, CKA_LABEL);
            EXPECT_EQ(std::string(stored_label.begin(), stored_label.end()), label + '\0') << cls;
        }
        // The public value is the certificate's (key bits: 04 <len> value).
        Bytes value = attribute(s, all[CKO_PUBLIC_KEY][0], CKA_VALUE);
        EXPECT_EQ(Bytes(key_bits.end() - value.size(), key_bits.end()), value);
        EXPECT_EQ(attribute(s, all[CKO_CERTIFICATE][0], CKA_VALUE), der);
        for (auto &entry : all)
            for (CK_OBJECT_HANDLE h : entry.second)
                token_->functions()->C_DestroyObject(s, h);
        token_->functions()->C_CloseSession(s);
    }
}

TEST_F(GostImport, WrongPasswordFailsBeforeThePin)
{
    Bytes der;
    const std::string path = container(kCases[1], "secret", &der, OBJ_txt2nid("1.2.643.7.1.1.4.2"),
                                       "gost3411-2012-512");
    ProcessResult r = tool({"-infile", path, "-inform", "p12", "-label", "x"},
                           std::string("wrong\n") + token_->user_pin() + "\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "PKCS12_parse failed\ninput_p12 failed, rc = 0x6\n");
    EXPECT_EQ(r.err, "Enter " + path + " container password:\n");
    EXPECT_EQ(object_count(), 0u);
}

// The container password and the PIN from sources: no prompt, and with
// both on standard input the password is the first line.
TEST_F(GostImport, PasswordAndPinFromSources)
{
    Bytes der;
    const std::string path = container(kCases[1], "secret", &der, OBJ_txt2nid("1.2.643.7.1.1.4.2"),
                                       "gost3411-2012-512");
    const std::string pin = token_->user_pin();
    const std::string password_file = dir_ + "/password.txt";
    std::ofstream(password_file) << "secret\n";
    const struct {
        std::vector<std::string> sources;
        std::string input;
        std::string out;  // after the path
    } cases[] = {
        {{"-passin", "pass:secret", "-pin", "pass:" + pin}, "", "imported"},
        {{"-passin", "env:P12_PASSWORD", "-pin", "env:TOKEN_PIN"}, "", "imported"},
        {{"-passin", "file:" + password_file, "-pin", "fd:0"}, pin + "\n", "imported"},
        {{"-passin", "stdin", "-pin", "stdin"}, "secret\n" + pin + "\n", "imported"},
        {{"-passin", "pass:wrong", "-pin", "pass:" + pin}, "", "PKCS12_parse failed\ninput_p12 failed, rc = 0x6\n"},
        {{"-passin", "file:" + dir_ + "/none", "-pin", "pass:" + pin}, "",
         "Can't read the container password from file:" + dir_ + "/none (-passin): No such file or directory\n"},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string label = "pair" + std::to_string(n++);
        SCOPED_TRACE(c.sources[1]);
        std::vector<std::string> args{"-infile", path, "-inform", "p12", "-label", label};
        args.insert(args.end(), c.sources.begin(), c.sources.end());
        ProcessResult r = tool(args, c.input, {{"P12_PASSWORD", "secret"}, {"TOKEN_PIN", pin}});
        if (c.out == "imported") {
            EXPECT_EQ(r.exit_status, 0);
            EXPECT_EQ(r.out, "Keypair and certificate objects '" + label + "' imported from '" + path + "' file\nOK\n");
        } else {
            EXPECT_EQ(r.exit_status, 6);
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(object_count(), 4u * 3u);
}

TEST_F(GostImport, WrongPinStoresNothing)
{
    Bytes der;
    const std::string path = container(kCases[0], "secret", &der, OBJ_txt2nid("1.2.643.2.2.10"), "md_gost94");
    ProcessResult r = tool({"-infile", path, "-inform", "p12", "-label", "x"}, "secret\nwrong-pin\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Token LOGIN failed\ninput_p12 failed, rc = 0x6\n");
    EXPECT_EQ(object_count(), 0u);
}

// A store step that fails takes away what the import created before it, and
// only that: another key pair under the same label, this key pair under
// another label, and what an import under the same label made meanwhile stay.
// So also when the first search fails, or a removal. Killed, then run again,
// an import completes what it or an earlier one left, and only once.
TEST_F(GostImport, FailedOrKilledImportTouchesOnlyItsOwnObjects)
{
    Bytes der;
    const std::string other = container(kCases[1], "secret", &der, 0, nullptr, "other.p12");
    const std::string third = container(kCases[0], "secret", &der, 0, nullptr, "third.p12");
    const std::string path = container(kCases[2], "secret", &der);
    ASSERT_EQ(import(other, "again").exit_status, 0);
    ASSERT_EQ(import(path, "earlier").exit_status, 0);
    const std::string rival = "timeout 60 " + kTokencert + " -p11 " + token_->module_path() + " -slot " +
                              token_->slot_text() + " -infile " + third + " -inform p12 -label again -passin " +
                              "pass:secret -pin pass:" + token_->user_pin();
    const struct {
        const char *faults;
        std::string run, line;
        size_t objects;
    } steps[] = {{"C_CreateObject@0", "", "STORE_store_private_key failed\n", 6},
                 {"C_CreateObject@1", "", "STORE_store_public_key failed\n", 6},
                 {"C_CreateObject@2", "", "STORE_certificate failed\n", 6},
                 {"C_FindObjectsInit", "", "C_FindObjectsInit error: 5 ( CKR_GENERAL_ERROR)\n", 6},
                 {"C_CreateObject@2", rival,
                  "Keypair and certificate objects 'again' imported from '" + third + "' file\nOK\n"
                  "STORE_certificate failed\n", 9},
                 {"C_CreateObject@2,C_DestroyObject@1", "", "Could not remove the private key object 'again' made by "
                  "this import (C_DestroyObject error 0x5)\nSTORE_certificate failed\n", 10}};
    for (const auto &step : steps) {
        EXPECT_EQ(import(path, "again", {{"FAULTMOD_FUNC", step.faults}, {"FAULTMOD_RUN", step.run}}).out,
                  step.line + "input_p12 failed, rc = 0x6\n");
        EXPECT_EQ(object_count(), step.objects);
    }
    // What the failed removal left is taken up: the public key is made; the
    // process dies before the certificate.
    EXPECT_EQ(import(path, "again", {{"FAULTMOD_FUNC", "C_CreateObject@1"}, {"FAULTMOD_RUN", "kill -9 $PPID"}}).signal,
              SIGKILL);
    EXPECT_EQ(object_count(), 11u);
    for (int run = 0; run < 2; ++run)
        EXPECT_EQ(import(path, "again").exit_status, 0);
    EXPECT_EQ(object_count(), 12u);
}

// Containers whose MAC, encrypted contents or shrouded key (inside the
// encrypted contents) ask for 2^31-1 iterations are refused at once.
TEST_F(GostImport, AbsurdIterationCountIsRefused)
{
    const char *parts[] = {"MAC", "content encryption", "key encryption"};
    auto pbes2 = [](int iter) {
        return ossl::Ptr<X509_ALGOR, X509_ALGOR_free>(
            PKCS5_pbe2_set_iv(EVP_aes_256_cbc(), iter, nullptr, 0, nullptr, NID_hmacWithSHA256));
    };
    for (int huge = 0; huge < 3; ++huge) {
        auto count = [huge](int part) { return part == huge ? 0x7fffffff : 2; };
        X509_SIG *shrouded = X509_SIG_new();  // junk, never decrypted
        X509_ALGOR *key_alg = nullptr;
        ASN1_OCTET_STRING *junk = nullptr;
        X509_SIG_getm(shrouded, &key_alg, &junk);
        X509_ALGOR_copy(key_alg, pbes2(count(2)).get());
        ASN1_OCTET_STRING_set(junk, reinterpret_cast<const unsigned char *>("junk"), 4);
        ossl::Ptr<STACK_OF(PKCS12_SAFEBAG), ossl::free_safebags> bags(sk_PKCS12_SAFEBAG_new_null());
        sk_PKCS12_SAFEBAG_push(bags.get(), PKCS12_SAFEBAG_create0_pkcs8(shrouded));
        STACK_OF(PKCS7) *contents = nullptr;
        ASSERT_TRUE(PKCS12_add_safe(&contents, bags.get(), NID_aes_256_cbc, 2, "secret"));
        ossl::Ptr<STACK_OF(PKCS7), ossl::free_pkcs7_stack> safes(contents);
        if (huge == 1)  // the contents become junk too
            X509_ALGOR_copy(sk_PKCS7_value(contents, 0)->d.encrypted->enc_data->algorithm, pbes2(count(1)).get());
        ossl::Pkcs12Ptr p12(PKCS12_add_safes(contents, 0));
        ASSERT_TRUE(PKCS12_set_mac(p12.get(), "secret", -1, nullptr, 0, 2, EVP_sha256()));
        const ASN1_INTEGER *mac_iter = nullptr;
        PKCS12_get0_mac(nullptr, nullptr, nullptr, &mac_iter, p12.get());
        ASN1_INTEGER_set(const_cast<ASN1_INTEGER *>(mac_iter), count(0));
        const std::string path = dir_ + "/absurd.p12";
        i2d_PKCS12_bio(ossl::BioPtr(BIO_new_file(path.c_str(), "wb")).get(), p12.get());
        EXPECT_EQ(import(path, "x").out, "Can't import " + path + ": its " + parts[huge] + " iteration count " +
                                             "2147483647 is above 10000000\ninput_p12 failed, rc = 0x6\n");
    }
}

}  // namespace
