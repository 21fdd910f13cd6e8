// The provider driven from outside, without a terminal and under timeouts:
// the openssl command (options and openssl.cnf), a GOST-protected PKCS#12
// opened with the provider alone, and a program that only fetches.
#include <gtest/gtest.h>

#include <openssl/provider.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "provider.h"
#include "run_process.h"

namespace {

const std::string kProviders = TOKENCERT_BINARY_DIR "/providers";
const std::string kM1 = "012345678901234567890123456789012345678901234567890123456789012";  // RFC 6986 M1
const std::string kM1Streebog256 = "9d151eefd8590b89daa6ba6cb74af9275dd051026bb149a452fd84e5e57b5500";
const std::string kM1Streebog512 =
    "1b54d01a4af5b9d5cc3d86d68d285462b19abc2475222f35c085122be4ba1ffa00ad30f8767b3a82384c6574f024c311e2a481332b08ef7f41"
    "797891c1646f48";

class ProviderCommand : public testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/provider-command-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
        write("m1.txt", kM1);
        write("empty.cnf", "");
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    void write(const std::string &name, const std::string &text) const { std::ofstream(path(name)) << text; }

    // The openssl command with no configuration but the one given; a
    // sanitized provider needs its runtime loaded first.
    ProcessResult openssl(std::vector<std::string> args, std::map<std::string, std::string> env = {}) const {
        args.insert(args.begin(), "openssl");
        env.emplace("OPENSSL_CONF", path("empty.cnf"));
        if (*TOKENCERT_OPENSSL_PRELOAD)
            env.emplace("LD_PRELOAD", TOKENCERT_OPENSSL_PRELOAD);
        return run_process(args, {"", env, std::chrono::milliseconds(60000)});
    }
    // The command's provider options go first: it resolves names as it reads them.
    std::vector<std::string> with_provider(std::vector<std::string> args) const {
        args.insert(args.begin() + 1, {"-provider-path", kProviders, "-provider", ZK_PROVIDER_NAME, "-provider", "default"});
        return args;
    }

    std::string dir_;
};

}  // namespace

TEST_F(ProviderCommand, DgstHashesWithTheProvidersDigests) {
    for (const auto &c : {std::make_pair("md_gost12_256", kM1Streebog256), std::make_pair("md_gost12_512", kM1Streebog512)}) {
        ProcessResult r = openssl(with_provider({"dgst", std::string("-") + c.first, path("m1.txt")}));
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(r.out, std::string(c.first) + "(" + path("m1.txt") + ")= " + c.second + "\n");
    }
}

TEST_F(ProviderCommand, OpensslCnfActivatesItBesideTheDefaultProvider) {
    write("provider.cnf", "openssl_conf = init\n[init]\nproviders = providers\n"
                          "[providers]\ndefault = default_sect\n" ZK_PROVIDER_NAME " = zk_sect\n"
                          "[default_sect]\nactivate = 1\n"
                          "[zk_sect]\nmodule = " + kProviders + "/" ZK_PROVIDER_NAME ".so\nactivate = 1\n"
                          "pkcs11-module-path = /nonexistent/module.so\npkcs11-pin-source = file:/nonexistent\n");
    ProcessResult r = openssl({"dgst", "-gost3411-2012-256", "-r", path("m1.txt")}, {{"OPENSSL_CONF", path("provider.cnf")}});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, kM1Streebog256 + " *" + path("m1.txt") + "\n");
    // The PKCS#11 module of the section is kept for the store loader.
    std::unique_ptr<OSSL_LIB_CTX, void (*)(OSSL_LIB_CTX *)> lib(OSSL_LIB_CTX_new(), OSSL_LIB_CTX_free);
    ASSERT_TRUE(OSSL_LIB_CTX_load_config(lib.get(), path("provider.cnf").c_str()));
    OSSL_PROVIDER *provider = OSSL_PROVIDER_load(lib.get(), ZK_PROVIDER_NAME);
    char *module = nullptr;
    OSSL_PARAM request[] = {OSSL_PARAM_construct_utf8_ptr(ZK_PROV_PARAM_PKCS11_MODULE_PATH, &module, 0), OSSL_PARAM_END};
    ASSERT_TRUE(provider && OSSL_PROVIDER_get_params(provider, request));
    EXPECT_STREQ(module, "/nonexistent/module.so");
    OSSL_PROVIDER_unload(provider);
}

// Written by the engine (OpenSSL 3.0 writes PBES2 only for ciphers it knows
// a NID of), opened with the provider alone: gost89 with the parameters'
// IV and set, PBKDF2 with HMAC GOST R 34.11-94.
TEST_F(ProviderCommand, Pkcs12WithGostPbes2OpensWithTheProviderAlone) {
    ProcessResult r = openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                               "-keyout", path("key.pem"), "-out", path("cert.pem"), "-subj", "/CN=p12", "-days", "1"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    r = openssl({"pkcs12", "-export", "-engine", "zk_p11_core_2012", "-in", path("cert.pem"), "-inkey", path("key.pem"),
                 "-keypbe", "gost89", "-certpbe", "gost89", "-passout", "pass:secret", "-out", path("t.p12")},
                {{"OPENSSL_ENGINES", TOKENCERT_BINARY_DIR "/engines"}});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    r = openssl(with_provider({"pkcs12", "-in", path("t.p12"), "-info", "-nodes", "-passin", "pass:secret"}));
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find("Shrouded Keybag: PBES2, PBKDF2, gost89, Iteration 2048, PRF id-HMACGostR3411-94\n"),
              std::string::npos) << r.err;
    std::ifstream key(path("key.pem"));
    const std::string key_pem((std::istreambuf_iterator<char>(key)), std::istreambuf_iterator<char>());
    EXPECT_NE(r.out.find(key_pem), std::string::npos) << r.out;
}

TEST_F(ProviderCommand, AProgramThatOnlyFetchesFindsTheDigestByEachName) {
    const std::string program = TOKENCERT_BINARY_DIR "/examples/provider_digest";
    for (const char *name : {"md_gost12_256", "gost3411-2012-256", "1.2.643.7.1.1.2.2"}) {
        ProcessResult r = run_process({program, kProviders, name}, {kM1, {}, std::chrono::milliseconds(20000)});
        EXPECT_EQ(r.exit_status, 0) << name << r.err;
        EXPECT_EQ(r.out, kM1Streebog256 + "\n") << name;
    }
    ProcessResult r = run_process({program, kProviders, "md5"}, {kM1, {}, std::chrono::milliseconds(20000)});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("provider_digest: no such digest"), std::string::npos) << r.err;
}

TEST_F(ProviderCommand, GostKeysAreMadeCertifiedSignedVerifiedAndEnvelopedForThroughTheProviderAlone) {
    const struct { const char *alg, *signature, *set; } cases[] = {
        {"gost2001", "GOST R 34.11-94 with GOST R 34.10-2001", "id-GostR3410-2001-CryptoPro-A-ParamSet"},
        {"gost2012_256", "GOST R 34.10-2012 with GOST R 34.11-2012 (256 bit)", "id-GostR3410-2001-CryptoPro-A-ParamSet"},
        {"gost2012_512", "GOST R 34.10-2012 with GOST R 34.11-2012 (512 bit)", "id-tc26-gost-3410-2012-512-paramSetA"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.alg);
        const std::string key = path("key.pem"), cert = path("cert.pem"), sig = path("m1.sig");
        ProcessResult r = openssl(with_provider({"genpkey", "-algorithm", c.alg, "-pkeyopt", "paramset:A", "-out", key}));
        ASSERT_EQ(r.exit_status, 0) << r.err;
        r = openssl(with_provider({"req", "-x509", "-new", "-key", key, "-subj", "/CN=x", "-days", "1", "-out", cert}));
        ASSERT_EQ(r.exit_status, 0) << r.err;
        r = openssl(with_provider({"x509", "-in", cert, "-noout", "-text"}));
        EXPECT_NE(r.out.find(std::string("Signature Algorithm: ") + c.signature + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(std::string("Parameter set: ") + c.set + "\n"), std::string::npos) << r.out;
        EXPECT_EQ(openssl(with_provider({"verify", "-CAfile", cert, cert})).out, cert + ": OK\n");
        r = openssl(with_provider({"x509", "-in", cert, "-noout", "-pubkey"}));
        write("pub.pem", r.out);
        ASSERT_EQ(openssl(with_provider({"dgst", "-sign", key, "-out", sig, path("m1.txt")})).exit_status, 0);
        EXPECT_EQ(openssl(with_provider({"dgst", "-verify", path("pub.pem"), "-signature", sig, path("m1.txt")})).out, "Verified OK\n");
        write("m1.txt", kM1 + "!");
        EXPECT_EQ(openssl(with_provider({"dgst", "-verify", path("pub.pem"), "-signature", sig, path("m1.txt")})).out, "Verification failure\n");
        write("m1.txt", kM1);
        // Key transport: OpenSSL's CMS code leaves the algorithm of a provider key empty; a program names it.
        r = openssl(with_provider({"cms", "-encrypt", "-binary", "-aes256", "-in", path("m1.txt"), "-recip", cert, "-out", path("m1.p7m")}));
        EXPECT_NE(r.err.find(":illegal zero content:"), std::string::npos) << r.err;
        r = run_process({TOKENCERT_BINARY_DIR "/examples/provider_cms_encrypt", kProviders, cert},
                        {kM1, {{"OPENSSL_CONF", path("empty.cnf")}}, std::chrono::milliseconds(60000)});
        ASSERT_EQ(r.exit_status, 0) << r.err;
        write("m1.p7m", r.out);
        r = openssl(with_provider({"cms", "-decrypt", "-binary", "-inform", "DER", "-in", path("m1.p7m"), "-inkey", key, "-recip", cert}));
        EXPECT_EQ(r.out, kM1) << r.err;
    }
    ProcessResult r = openssl(with_provider({"genpkey", "-algorithm", "gost2012_256", "-out", path("none.pem")}));
    EXPECT_NE(r.exit_status, 0);
    EXPECT_NE(r.err.find(":unknown GOST R 34.10 parameter set::0:no parameter set (paramset)\n"), std::string::npos) << r.err;
}
