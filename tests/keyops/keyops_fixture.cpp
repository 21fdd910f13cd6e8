#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include "keyops_fixture.h"


#include <openssl/engine.h>

#include "test_digests.h"




ENGINE *token_engine()
{
    static ENGINE *e = [] {
        ENGINE_load_zk_p11_core();
        ENGINE *engine = ENGINE_by_id(ZK_P11_ENGINE_ID);  // kept for the whole run
        return engine;
    }();
    return e;
}

Bytes into_buffer(std::size_t room, int *rc, const std::function<int(unsigned char *, std::size_t *)> &fill)
{
    Bytes out(room + 16, 0xEE);
    std::size_t len = room;
    int result = fill(out.data(), &len);
    if (rc != nullptr)
        *rc = result;
    for (std::size_t i = room; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE) << "written past the buffer at " << i;
    if (result != 1)
        return {};
    out.resize(len);
    return out;
}

std::string AlgCurve::name() const { return std::string(gost_obj_sn(alg)) + " " + set->oid; }

std::vector<AlgCurve> every_alg_and_curve()
{
    std::vector<AlgCurve> out;
    for (GostObj a : {GostObj::gost2001, GostObj::gost3410_2012_256, GostObj::gost3410_2012_512}) {
        const GostKeyAlg *props = gost_key_alg(gost_nid(a));
        for (const GostParamSet &set : gost_paramsets(props->size))
            if (gost_key_paramset(*props, set.nid()) != nullptr && reference_knows(set.nid()))
                out.push_back({a, props, &set});
    }
    return out;
}

void TokenEngineTest::SetUp()
{
    ASSERT_NE(token_engine(), nullptr);
    SoftTokenTest::SetUp();
    if (HasFatalFailure())
        return;
    slot_ = init_token("keyops");
    session_ = open_user(slot_);
    ASSERT_NE(session_, 0u);
    ASSERT_EQ(ENGINE_ctrl(token_engine(), PKCS11_CTRL_ATTACH_API_FUNCS, 0, faulty_functions(f), nullptr), 1);
    ASSERT_EQ(ENGINE_ctrl(token_engine(), PKCS11_CTRL_SET_SESSION, static_cast<long>(session_), nullptr, nullptr), 1);
    ctx()->label_index_path.reset();
    ctx()->private_key_extractable = -1;
    ctx()->private_key_sensitive = -1;
    p11_set_default_gost28147_params(ctx());
}

void TokenEngineTest::TearDown()
{
    if (P11_ENGINE_CTX *c = ctx()) {
        c->function_list = nullptr;
        c->session = 0;
    }
    SoftTokenTest::TearDown();
}

std::size_t TokenEngineTest::count_objects(CK_OBJECT_CLASS cls)
{
    CK_SESSION_HANDLE s = open(slot_, false);
    sttest::Template t;
    if (cls != ~CK_OBJECT_CLASS(0))
        t.ulong(CKA_CLASS, cls);
    std::size_t n = find(s, t).size();
    f->C_CloseSession(s);
    return n;
}

std::vector<CK_OBJECT_HANDLE> TokenEngineTest::find_by_id(const unsigned char *id)
{
    sttest::Template t;
    t.bytes(CKA_ID, sttest::Bytes(id, id + kGostKeyIdLen));
    return find(session_, t);
}

void TokenEngineTest::adopt_session(CK_FLAGS flags)
{
    CK_SESSION_HANDLE s = open(slot_, (flags & CKF_RW_SESSION) != 0);
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
