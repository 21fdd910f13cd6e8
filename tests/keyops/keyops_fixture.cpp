#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "keyops_fixture.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include <openssl/engine.h>

#include "test_digests.h"

namespace {

constexpr const char *kSoPin = "so-pin-77";
constexpr const char *kUserPin = "user-pin-77";

CK_FUNCTION_LIST *softtoken()
{
    static CK_FUNCTION_LIST *list = [] {
        void *h = dlopen(SOFTTOKEN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        auto get = h != nullptr ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(h, "C_GetFunctionList")) : nullptr;
        CK_FUNCTION_LIST *l = nullptr;
        if (get != nullptr)
            get(&l);
        return l;
    }();
    return list;
}

CK_UTF8CHAR_PTR pin(const char *text) { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char *>(text)); }

}  // namespace

int nid(GostObj o) { return gost_nid(o); }

p11_gost2012_key *record(const EVP_PKEY *k) { return static_cast<p11_gost2012_key *>(EVP_PKEY_get0(k)); }

ENGINE *token_engine()
{
    static ENGINE *e = [] {
        ENGINE_load_zk_p11_core();
        ENGINE *engine = ENGINE_by_id(ZK_P11_ENGINE_ID);  // kept for the whole run
        engine_offers_mac_digest();                      // asked before any stand-in exists
        return engine;
    }();
    return e;
}

std::string AlgCurve::name() const { return std::string(gost_obj_sn(alg)) + " " + set->oid; }

std::vector<AlgCurve> every_alg_and_curve()
{
    std::vector<AlgCurve> out;
    for (GostObj a : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512}) {
        const GostKeyAlg *props = gost_key_alg(gost_nid(a));
        for (const GostParamSet &set : gost_paramsets(props->size))
            out.push_back({a, props, &set});
    }
    return out;
}

void TokenEngineTest::SetUp()
{
    ASSERT_NE(token_engine(), nullptr);
    real_ = softtoken();
    ASSERT_NE(real_, nullptr) << "cannot load " << SOFTTOKEN_MODULE_PATH;
    char tmpl[] = "/tmp/keyops-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    setenv("SOFTTOKEN_DIR", dir_.c_str(), 1);
    setenv("SOFTTOKEN_PBKDF2_ITERATIONS", "1000", 1);
    ASSERT_EQ(real_->C_Initialize(nullptr), CKR_OK);
    CK_ULONG n = 0;
    ASSERT_EQ(real_->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
    ASSERT_GT(n, 0u);
    std::vector<CK_SLOT_ID> slots(n);
    ASSERT_EQ(real_->C_GetSlotList(CK_TRUE, slots.data(), &n), CKR_OK);
    slot_ = slots.back();
    unsigned char label[32];
    std::memset(label, ' ', sizeof label);
    std::memcpy(label, "keyops", 6);
    ASSERT_EQ(real_->C_InitToken(slot_, pin(kSoPin), std::strlen(kSoPin), label), CKR_OK);
    ASSERT_EQ(real_->C_OpenSession(slot_, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session_), CKR_OK);
    ASSERT_EQ(real_->C_Login(session_, CKU_SO, pin(kSoPin), std::strlen(kSoPin)), CKR_OK);
    ASSERT_EQ(real_->C_InitPIN(session_, pin(kUserPin), std::strlen(kUserPin)), CKR_OK);
    ASSERT_EQ(real_->C_Logout(session_), CKR_OK);
    ASSERT_EQ(real_->C_Login(session_, CKU_USER, pin(kUserPin), std::strlen(kUserPin)), CKR_OK);

    f_ = faulty_functions(real_);
    ASSERT_EQ(ENGINE_ctrl(token_engine(), PKCS11_CTRL_ATTACH_API_FUNCS, 0, f_, nullptr), 1);
    ASSERT_EQ(ENGINE_ctrl(token_engine(), PKCS11_CTRL_SET_SESSION, static_cast<long>(session_), nullptr, nullptr), 1);
    ctx()->label_index_path.reset();
    ctx()->private_key_extractable = -1;
    ctx()->private_key_sensitive = -1;
    p11_set_default_gost28147_params(ctx());
}

void TokenEngineTest::TearDown()
{
    if (real_ != nullptr)
        real_->C_Finalize(nullptr);
    if (P11_ENGINE_CTX *c = ctx()) {
        c->function_list = nullptr;
        c->session = 0;
    }
    if (!dir_.empty())
        std::filesystem::remove_all(dir_);
}

std::size_t TokenEngineTest::count_objects(CK_OBJECT_CLASS cls)
{
    CK_SESSION_HANDLE s = 0;
    EXPECT_EQ(real_->C_OpenSession(slot_, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
    CK_ATTRIBUTE by_class{CKA_CLASS, &cls, sizeof cls};
    bool any = cls == ~CK_OBJECT_CLASS(0);
    EXPECT_EQ(real_->C_FindObjectsInit(s, any ? nullptr : &by_class, any ? 0 : 1), CKR_OK);
    CK_OBJECT_HANDLE h[256];
    CK_ULONG n = 0;
    EXPECT_EQ(real_->C_FindObjects(s, h, 256, &n), CKR_OK);
    real_->C_FindObjectsFinal(s);
    real_->C_CloseSession(s);
    return n;
}

std::vector<CK_OBJECT_HANDLE> TokenEngineTest::find_by_id(const unsigned char *id)
{
    CK_ATTRIBUTE by_id{CKA_ID, const_cast<unsigned char *>(id), kGostKeyIdLen};
    EXPECT_EQ(real_->C_FindObjectsInit(session_, &by_id, 1), CKR_OK);
    CK_OBJECT_HANDLE h[16];
    CK_ULONG n = 0;
    EXPECT_EQ(real_->C_FindObjects(session_, h, 16, &n), CKR_OK);
    real_->C_FindObjectsFinal(session_);
    return std::vector<CK_OBJECT_HANDLE>(h, h + n);
}

Bytes TokenEngineTest::attribute(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type)
{
    CK_ATTRIBUTE a{type, nullptr, 0};
    if (real_->C_GetAttributeValue(session_, h, &a, 1) != CKR_OK || a.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return {};
    Bytes value(a.ulValueLen);
    a.pValue = value.data();
    EXPECT_EQ(real_->C_GetAttributeValue(session_, h, &a, 1), CKR_OK);
    return value;
}

void TokenEngineTest::adopt_session(CK_FLAGS flags)
{
    CK_SESSION_HANDLE s = 0;
    ASSERT_EQ(real_->C_OpenSession(slot_, flags, nullptr, nullptr, &s), CKR_OK);
    ASSERT_EQ(ENGINE_ctrl(token_engine(), PKCS11_CTRL_SET_SESSION, static_cast<long>(s), nullptr, nullptr), 1);
}

PkeyPtr TokenEngineTest::generate(GostObj alg, const std::string &paramset, std::string *err, int *rc)
{
    PkeyCtxPtr c(EVP_PKEY_CTX_new_id(nid(alg), nullptr));
    EXPECT_TRUE(c);
    EXPECT_EQ(EVP_PKEY_keygen_init(c.get()), 1);
    if (!paramset.empty()) {
        EXPECT_EQ(EVP_PKEY_CTX_ctrl_str(c.get(), "paramset", paramset.c_str()), 1);
    }
    Stderr captured;
    EVP_PKEY *k = nullptr;
    int result = EVP_PKEY_keygen(c.get(), &k);
    std::string text = captured.text();
    if (err != nullptr)
        *err = text;
    if (rc != nullptr)
        *rc = result;
    PkeyPtr key(k);
    if (result != 1) {
        EXPECT_FALSE(key);
        return nullptr;
    }
    EXPECT_EQ(text, "");
    return key;
}
