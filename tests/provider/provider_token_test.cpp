// Token keys and certificates by pkcs11: URI. In this process: the store
// loader as OpenSSL drives it, key management loading its references, and
// signing on the token; each case runs in a child of its own, since a
// process keeps one login state per token. From outside: the openssl
// command on our software token and on SoftHSM2.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/core_object.h>
#include <openssl/params.h>
#include <openssl/store.h>

#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "gost_objects.h"
#include "module_token.h"
#include "pkcs11_vendor.h"
#include "run_process.h"
#include "test_certs.h"
#include "token_keys.h"

namespace {

const Bytes kCurveA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};  // 1.2.643.2.2.35.1
const Bytes kHash256 = {0x06, 0x08, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02};  // 1.2.643.7.1.1.2.2
const Bytes kDigest(32, 0x5A);

#define CHILD_CHECK(cond)                                                                    \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "line %d: %s\n%s", __LINE__, #cond, g_errors.c_str());      \
            return 1;                                                                        \
        }                                                                                    \
    } while (0)

// The provider's errors as "reason: text" lines.
std::string g_errors;
void new_error(const OSSL_CORE_HANDLE *) {}
void record_error(const OSSL_CORE_HANDLE *, uint32_t reason, const char *fmt, va_list args)
{
    char text[512] = "";
    if (fmt)
        std::vsnprintf(text, sizeof text, fmt, args);
    g_errors += std::to_string(reason) + ": " + text + "\n";
}
bool raised(ProvReason reason, const char *text = "")
{
    return g_errors.find(std::to_string(reason) + ": ") != std::string::npos && g_errors.find(text) != std::string::npos;
}

// Our software token "pt" holding a GOST key pair made by C_GenerateKeyPair
// (label "K" without zero byte, 1-byte CKA_ID 07) and a certificate "C";
// the user logged out again.
struct Token {
    std::unique_ptr<ModuleToken> module = make_module_token(ModuleKind::softtoken, "pt");
    Bytes pub_value, cert = make_certificate_der("pt cert");  // pub_value: K's
    ProvCtx prov;
    CK_OBJECT_HANDLE handle = 0;

    bool make()
    {
        CK_FUNCTION_LIST *f = module->ok() && gost_objects_init() ? module->functions() : nullptr;
        CK_SESSION_HANDLE s = f ? module->open_session(true) : 0;
        if (s == 0)
            return false;
        CK_BBOOL yes = CK_TRUE;
        bool ok = create_certificate(f, s, cert, label_without_zero("C"), make_id(1, 7), &handle) == CKR_OK;
        for (unsigned char id : {7, 8}) {  // "K" and "L"
            char label = static_cast<char>('K' + id - 7);
            CK_ATTRIBUTE pub[] = {{CKA_TOKEN, &yes, 1}, {CKA_GOSTR3410_PARAMS, const_cast<unsigned char *>(kCurveA.data()), 9},
                                  {CKA_GOSTR3411_PARAMS, const_cast<unsigned char *>(kHash256.data()), 10},
                                  {CKA_ID, &id, 1}, {CKA_LABEL, &label, 1}, {CKA_VERIFY, &yes, 1}};
            CK_ATTRIBUTE priv[] = {{CKA_TOKEN, &yes, 1}, {CKA_ID, &id, 1}, {CKA_LABEL, &label, 1},
                                   {CKA_SIGN, &yes, 1}, {CKA_DERIVE, &yes, 1}};
            CK_MECHANISM m{CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
            CK_OBJECT_HANDLE hk = 0;
            Bytes value(64);
            CK_ATTRIBUTE get{CKA_VALUE, value.data(), 64};
            ok = ok && f->C_GenerateKeyPair(s, &m, pub, 6, priv, 5, &handle, &hk) == CKR_OK &&
                 f->C_GetAttributeValue(s, handle, &get, 1) == CKR_OK;
            if (id == 7)
                pub_value = value;
        }
        f->C_Logout(s);
        f->C_CloseSession(s);
        prov.pkcs11_module_path = module->module_path();
        prov.new_error = new_error;
        prov.vset_error = record_error;
        return ok;
    }
    // K's agreement with a peer by the module's own C_DeriveKey.
    Bytes raw_vko(const unsigned char *peer, const Bytes &ukm)
    {
        CK_FUNCTION_LIST *f = module->functions();
        CK_SESSION_HANDLE s = module->open_session(true);
        CK_OBJECT_CLASS priv = CKO_PRIVATE_KEY, secret = CKO_SECRET_KEY;
        CK_KEY_TYPE type = CKK_GOST28147;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        CK_ATTRIBUTE find[] = {{CKA_CLASS, &priv, sizeof priv}, {CKA_LABEL, const_cast<char *>("K"), 1}};
        CK_ATTRIBUTE made[] = {{CKA_CLASS, &secret, sizeof secret}, {CKA_KEY_TYPE, &type, sizeof type},
                               {CKA_TOKEN, &no, 1}, {CKA_SENSITIVE, &no, 1}, {CKA_EXTRACTABLE, &yes, 1}};
        CK_GOSTR3410_DERIVE_PARAMS params{CKD_NULL, const_cast<unsigned char *>(peer), 64,
                                          const_cast<unsigned char *>(ukm.data()), ukm.size()};
        CK_MECHANISM m{CKM_GOSTR3410_DERIVE, &params, sizeof params};
        CK_OBJECT_HANDLE k = 0, agreed = 0;
        CK_ULONG n = 0;
        Bytes value(32);
        CK_ATTRIBUTE get{CKA_VALUE, value.data(), 32};
        if (f->C_FindObjectsInit(s, find, 2) != CKR_OK || f->C_FindObjects(s, &k, 1, &n) != CKR_OK ||
            f->C_FindObjectsFinal(s) != CKR_OK || f->C_DeriveKey(s, &m, k, made, 5, &agreed) != CKR_OK ||
            f->C_GetAttributeValue(s, agreed, &get, 1) != CKR_OK)
            value.clear();
        f->C_CloseSession(s);
        return value;
    }
    // Whether the token verifies sig (64 bytes) of kDigest with K's public key.
    bool verifies(const void *sig)
    {
        CK_FUNCTION_LIST *f = module->functions();
        CK_SESSION_HANDLE s = module->open_session(false);
        CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
        CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_LABEL, const_cast<char *>("K"), 1}};
        CK_OBJECT_HANDLE pub = 0;
        CK_ULONG n = 0;
        CK_MECHANISM m{CKM_GOSTR3410, nullptr, 0};
        bool ok = f->C_FindObjectsInit(s, templ, 2) == CKR_OK && f->C_FindObjects(s, &pub, 1, &n) == CKR_OK &&
                  f->C_FindObjectsFinal(s) == CKR_OK && n == 1 && f->C_VerifyInit(s, &m, pub) == CKR_OK &&
                  f->C_Verify(s, const_cast<unsigned char *>(kDigest.data()), 32, (CK_BYTE_PTR)sig, 64) == CKR_OK;
        f->C_CloseSession(s);
        return ok;
    }
    CK_FLAGS flags()
    {
        CK_TOKEN_INFO info{};
        module->functions()->C_GetTokenInfo(module->slot(), &info);
        return info.flags;
    }
    void fail_logins(int n)
    {
        CK_SESSION_HANDLE s = module->open_session(false);
        for (int i = 0; i < n; ++i)
            module->functions()->C_Login(s, CKU_USER, (CK_UTF8CHAR *)"0000", 4);
        module->functions()->C_CloseSession(s);
    }
};

struct Found {
    std::vector<std::string> data_types;
    std::vector<Bytes> certs;
    std::vector<std::unique_ptr<ProvKey, void (*)(ProvKey *)>> keys;
    ProvCtx *prov = nullptr;
};

int take_object(const OSSL_PARAM params[], void *arg)
{
    auto *found = static_cast<Found *>(arg);
    const OSSL_PARAM *type = OSSL_PARAM_locate_const(params, OSSL_OBJECT_PARAM_DATA_TYPE);
    const OSSL_PARAM *data = OSSL_PARAM_locate_const(params, OSSL_OBJECT_PARAM_DATA);
    const OSSL_PARAM *ref = OSSL_PARAM_locate_const(params, OSSL_OBJECT_PARAM_REFERENCE);
    found->data_types.push_back(static_cast<const char *>(type->data));
    if (data)
        found->certs.emplace_back(static_cast<const unsigned char *>(data->data),
                                  static_cast<const unsigned char *>(data->data) + data->data_size);
    if (ref)  // key management loads the reference while the loader is open
        found->keys.emplace_back(zk_token_key_load(found->prov, ref->data, ref->data_size), zk_key_free);
    return ref == nullptr || found->keys.back() != nullptr;
}

template <class Fn>
Fn store_fn(int id) { return zk_dispatch_find<Fn>(zk_stores[0].implementation, id); }

// Opens the URI with the pkcs11 loader and loads to its end, as OpenSSL's
// store does; false when opening or a load fails.
bool load_all(ProvCtx &prov, const std::string &uri, Found &found, int expect = 0)
{
    found.prov = &prov;
    void *ctx = store_fn<OSSL_FUNC_store_open_fn *>(OSSL_FUNC_STORE_OPEN)(&prov, uri.c_str());
    if (ctx == nullptr)
        return false;
    OSSL_PARAM params[] = {OSSL_PARAM_construct_int(OSSL_STORE_PARAM_EXPECT, &expect), OSSL_PARAM_END};
    bool ok = store_fn<OSSL_FUNC_store_set_ctx_params_fn *>(OSSL_FUNC_STORE_SET_CTX_PARAMS)(ctx, params);
    while (ok && !store_fn<OSSL_FUNC_store_eof_fn *>(OSSL_FUNC_STORE_EOF)(ctx))
        ok = store_fn<OSSL_FUNC_store_load_fn *>(OSSL_FUNC_STORE_LOAD)(ctx, take_object, &found, nullptr, nullptr);
    store_fn<OSSL_FUNC_store_close_fn *>(OSSL_FUNC_STORE_CLOSE)(ctx);
    return ok;
}

// Signs kDigest with a token key; the signature, empty on failure.
Bytes signature(const ProvKey &key)
{
    Bytes sig(64);
    size_t sig_len = sig.size();
    return zk_token_sign(key, kDigest.data(), kDigest.size(), sig.data(), &sig_len) && sig_len == 64 ? sig : Bytes();
}

void expect_child_ok(const std::function<int()> &body)
{
    ProcessResult r = run_function(body, {"", {}, std::chrono::milliseconds(60000)});
    EXPECT_EQ(r.exit_status, 0) << r.err;
}

}  // namespace

TEST(ProviderTokenStore, LoadsWithoutLoginAndSignsOnTheTokenAtFirstUse)
{
    expect_child_ok([] {
        Token t;
        CHILD_CHECK(t.make());
        t.prov.pkcs11_pin_source.assign("pass:12345678", 13);
        Found certs, priv, pub;
        CHILD_CHECK(load_all(t.prov, "pkcs11:token=pt", certs, OSSL_STORE_INFO_CERT));
        CHILD_CHECK(certs.certs == std::vector<Bytes>{t.cert} && certs.data_types[0] == "CERTIFICATE");
        CHILD_CHECK(load_all(t.prov, "pkcs11:token=pt;object=K;type=private", priv));
        CHILD_CHECK(load_all(t.prov, "pkcs11:token=pt;id=%07;type=public", pub));
        CHILD_CHECK(priv.keys.size() == 1 && pub.keys.size() == 1 && priv.data_types[0] == "gost2012_256");
        const ProvKey &key = *priv.keys[0];
        CHILD_CHECK(key.on_token() && !pub.keys[0]->on_token() && key.rec.key_id_len == 1);
        CHILD_CHECK(Bytes(key.rec.pub_key, key.rec.pub_key + 64) == t.pub_value);
        CHILD_CHECK(std::memcmp(pub.keys[0]->rec.pub_key, key.rec.pub_key, 64) == 0);
        CHILD_CHECK(!(t.flags() & CKF_USER_PIN_COUNT_LOW));
        CHILD_CHECK(t.verifies(signature(key).data()) && !signature(key).empty());
        // VKO on the token agrees from either side.
        Found other;
        CHILD_CHECK(load_all(t.prov, "pkcs11:token=pt;object=L;type=private", other));
        const ProvKey &l = *other.keys[0];
        const Bytes ukm(8, 0x11);
        unsigned char kl[32], lk[32];
        size_t kl_len = 32, lk_len = 32;
        CHILD_CHECK(zk_token_derive(key, l.rec.pub_key, 64, ukm.data(), 8, kl, &kl_len) &&
                    zk_token_derive(l, key.rec.pub_key, 64, ukm.data(), 8, lk, &lk_len));
        CHILD_CHECK(kl_len == 32 && std::memcmp(kl, lk, 32) == 0 && std::memcmp(l.rec.pub_key, key.rec.pub_key, 64) != 0);
        CHILD_CHECK(t.raw_vko(l.rec.pub_key, ukm) == Bytes(kl, kl + 32));
        return 0;
    });
}

TEST(ProviderTokenStore, AUriNamingNothingMatchesNothingAndAMalformedOneIsRefused)
{
    expect_child_ok([] {
        Token t;
        CHILD_CHECK(t.make());
        const std::pair<const char *, ProvReason> cases[] = {
            {"pkcs11:token=nosuch", ZK_R_NOT_FOUND},
            {"pkcs11:object=nosuch", ZK_R_NOT_FOUND},
            {"pkcs11:token=pt;object=nosuch", ZK_R_NOT_FOUND},
            {"pkcs11:token=pt;id=%09;type=private", ZK_R_NOT_FOUND},
            {"pkcs11:token=pt;object=C;type=public", ZK_R_NOT_FOUND},
            {"pkcs11:token=pt;colour=blue", ZK_R_PKCS11_URI},
            {"pkcs11:token=pt;type=data", ZK_R_PKCS11_URI},
            {"pkcs11:token=pt?pin-source=|cat", ZK_R_PKCS11_URI},
            {"pkcs11:token=pt?module-path=/nonexistent.so", ZK_R_BAD_PARAMETER},
        };
        for (const auto &c : cases) {
            g_errors.clear();
            Found found;
            CHILD_CHECK(!load_all(t.prov, c.first, found) && found.certs.empty() && found.keys.empty());
            CHILD_CHECK(raised(c.second));
        }
        t.prov.pkcs11_module_path.clear();
        Found found;
        CHILD_CHECK(!load_all(t.prov, "pkcs11:token=pt", found) && raised(ZK_R_PKCS11_URI, "no PKCS#11 module"));
        return 0;
    });
}

TEST(ProviderTokenStore, AWrongPinIsTriedOnceAndNoPinOnATokenWithOneTryLeft)
{
    expect_child_ok([] {
        Token t;
        CHILD_CHECK(t.make());
        t.fail_logins(8);
        Found found;
        CHILD_CHECK(load_all(t.prov, "pkcs11:token=pt;object=K;type=private?pin-value=0000", found));
        CHILD_CHECK(signature(*found.keys[0]).empty() && raised(ZK_R_LOGIN, "C_Login failed"));
        CHILD_CHECK(signature(*found.keys[0]).empty() && raised(ZK_R_LOGIN, "not tried again"));
        CHILD_CHECK((t.flags() & CKF_USER_PIN_FINAL_TRY) && !(t.flags() & CKF_USER_PIN_LOCKED));
        return 0;
    });
    expect_child_ok([] {
        Token t;
        CHILD_CHECK(t.make());
        t.fail_logins(9);
        std::ofstream("pin.txt") << "12345678\n";
        Found found;
        CHILD_CHECK(load_all(t.prov, "pkcs11:token=pt;object=K;type=private?pin-source=file:pin.txt", found));
        CHILD_CHECK(signature(*found.keys[0]).empty() && raised(ZK_R_LOGIN, "one try left"));
        CHILD_CHECK(t.flags() & CKF_USER_PIN_FINAL_TRY);
        std::filesystem::remove("pin.txt");
        return 0;
    });
}

namespace {

// The openssl command with the provider configured for the token's module,
// under a timeout, without a terminal.
ProcessResult openssl_on(ModuleToken &token, std::vector<std::string> args)
{
    const std::string cnf = std::filesystem::temp_directory_path() / ("pt-" + std::to_string(getpid()) + ".cnf");
    std::ofstream(cnf) << "openssl_conf = init\n[init]\nproviders = providers\n[providers]\ndefault = dflt\n"
                          "zk_p11_core_2012 = zk\n[dflt]\nactivate = 1\n[zk]\nmodule = " TOKENCERT_BINARY_DIR
                          "/providers/zk_p11_core_2012.so\nactivate = 1\npkcs11-module-path = "
                       << token.module_path() << "\npkcs11-pin-source = pass:" << token.user_pin() << "\n";
    std::map<std::string, std::string> env = token.env();
    env["OPENSSL_CONF"] = cnf;
    if (*TOKENCERT_OPENSSL_PRELOAD)
        env["LD_PRELOAD"] = TOKENCERT_OPENSSL_PRELOAD;
    args.insert(args.begin(), "openssl");
    ProcessResult r = run_process(args, {"", env, std::chrono::milliseconds(60000)});
    std::filesystem::remove(cnf);
    return r;
}

}  // namespace

TEST(ProviderTokenCommand, StoreutlListsTheCertificatesOfATokenByItsLabel)
{
    for (ModuleKind kind : {ModuleKind::softtoken, ModuleKind::softhsm}) {
        SCOPED_TRACE(module_kind_name(kind));
        std::unique_ptr<ModuleToken> token = make_module_token(kind, "e2e");
        ASSERT_TRUE(token->ok()) << token->error();
        const Bytes der = make_certificate_der("e2e cert");
        CK_OBJECT_HANDLE h = 0;
        CK_SESSION_HANDLE s = token->open_session(true);
        ASSERT_EQ(create_certificate(token->functions(), s, der, label_with_zero("C"), make_id(20), &h), CKR_OK);
        token->functions()->C_Logout(s);
        ProcessResult r = openssl_on(*token, {"storeutl", "-certs", "pkcs11:token=e2e"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(r.out, "0: Certificate\n" + pem_of(der) + "Total found: 1\n");
        r = openssl_on(*token, {"storeutl", "-certs", "pkcs11:token=e2e;object=D"});
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_NE(r.err.find("no such object on the token::0:nothing matches pkcs11:token=e2e;object=D"),
                  std::string::npos) << r.err;
    }
}

TEST(ProviderTokenCommand, PkeyutlSignsWithATokenKeyOfAOneByteId)
{
    Token t;
    ASSERT_TRUE(t.make()) << t.module->error();
    const std::string digest = std::filesystem::temp_directory_path() / ("pt-digest-" + std::to_string(getpid()));
    std::ofstream(digest, std::ios::binary).write(reinterpret_cast<const char *>(kDigest.data()), 32);
    ProcessResult r =
        openssl_on(*t.module, {"pkeyutl", "-sign", "-inkey", "pkcs11:token=pt;object=K;type=private", "-in", digest});
    std::filesystem::remove(digest);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 64u);
    EXPECT_TRUE(t.verifies(r.out.data()));
}

TEST(ProviderTokenCommand, PkeyutlWrapsForATokenKeyAndUnwrapsOnTheToken)
{
    Token t;
    ASSERT_TRUE(t.make()) << t.module->error();
    const std::string base = std::filesystem::temp_directory_path() / ("pt-cek-" + std::to_string(getpid()));
    std::ofstream(base, std::ios::binary).write(reinterpret_cast<const char *>(kDigest.data()), 32);
    ProcessResult r = openssl_on(*t.module, {"pkeyutl", "-encrypt", "-pubin", "-inkey", "pkcs11:token=pt;object=K;type=public",
                                             "-in", base, "-out", base + ".kt"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    r = openssl_on(*t.module, {"pkeyutl", "-decrypt", "-inkey", "pkcs11:token=pt;object=K;type=private", "-in", base + ".kt"});
    std::filesystem::remove(base);
    std::filesystem::remove(base + ".kt");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kDigest.begin(), kDigest.end()));
}
