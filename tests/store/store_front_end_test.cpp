// The object-store front end against a recording fake method.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "store.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/buffer.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

namespace {

// What the fake method saw.
struct Seen {
    std::vector<std::string> calls;
    int type = -1;
    int object_type = -1;
    X509 *certificate = nullptr;
    EVP_PKEY *key = nullptr;
    OPENSSL_ITEM *attributes = nullptr;
    OPENSSL_ITEM *parameters = nullptr;
    int result = 1;                      // what int operations return
    STORE_OBJECT *to_return = nullptr;   // what get_object returns
    bool init_ok = true;
    ENGINE *engine_at_init = reinterpret_cast<ENGINE *>(1);
};
Seen seen;

int fake_init(STORE *s) {
    seen.calls.push_back("init");
    seen.engine_at_init = STORE_get0_engine(s);
    return seen.init_ok ? 1 : 0;
}
void fake_clean(STORE *) { seen.calls.push_back("clean"); }
STORE_OBJECT *fake_get(STORE *, int type, OPENSSL_ITEM a[], OPENSSL_ITEM p[]) {
    seen.calls.push_back("get_object");
    seen.type = type;
    seen.attributes = a;
    seen.parameters = p;
    STORE_OBJECT *o = seen.to_return;
    seen.to_return = nullptr;
    return o;
}
int fake_store(STORE *, int type, STORE_OBJECT *o, OPENSSL_ITEM a[], OPENSSL_ITEM p[]) {
    seen.calls.push_back("store_object");
    seen.type = type;
    seen.object_type = o->type;
    seen.attributes = a;
    seen.parameters = p;
    if (type == STORE_OBJECT_TYPE_X509_CERTIFICATE)
        seen.certificate = o->data.x509.certificate;
    else
        seen.key = o->data.key;
    return seen.result;
}
int fake_delete(STORE *, int type, OPENSSL_ITEM a[], OPENSSL_ITEM p[]) {
    seen.calls.push_back("delete_object");
    seen.type = type;
    seen.attributes = a;
    seen.parameters = p;
    return seen.result;
}
int fake_generic(STORE *, OPENSSL_ITEM[], OPENSSL_ITEM[]) {
    seen.calls.push_back("generic");
    return seen.result;
}
int fake_ctrl(STORE *, int cmd, long, void *, void (*)(void)) {
    seen.calls.push_back("ctrl " + std::to_string(cmd));
    return seen.result;
}

STORE_METHOD full_method() {
    STORE_METHOD m{};
    m.name = "fake";
    m.init = fake_init;
    m.clean = fake_clean;
    m.get_object = fake_get;
    m.store_object = fake_store;
    m.delete_object = fake_delete;
    m.update_store = fake_generic;
    m.lock_store = fake_generic;
    m.unlock_store = fake_generic;
    m.ctrl = fake_ctrl;
    return m;
}

int engine_init_ok(ENGINE *) { return 1; }

// An engine carrying a store method.
class FakeStoreEngine {
public:
    explicit FakeStoreEngine(const STORE_METHOD *m) {
        e_ = ENGINE_new();
        ENGINE_set_id(e_, "fake-store-engine");
        ENGINE_set_init_function(e_, engine_init_ok);
        if (m)
            ENGINE_set_STORE(e_, m);
    }
    ~FakeStoreEngine() { ENGINE_free(e_); }
    ENGINE *get() const { return e_; }

private:
    ENGINE *e_;
};

X509 *make_certificate() {
    X509 *x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
    return x;
}

EVP_PKEY *make_key() { return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"); }

class StoreFrontEnd : public testing::Test {
protected:
    void SetUp() override {
        seen = Seen{};
        method_ = full_method();
        engine_ = std::make_unique<FakeStoreEngine>(&method_);
        store_ = STORE_new_engine(engine_->get());
        ASSERT_NE(store_, nullptr);
        seen.calls.clear();
    }
    void TearDown() override {
        STORE_free(store_);
        engine_.reset();
    }
    STORE_METHOD method_;
    std::unique_ptr<FakeStoreEngine> engine_;
    STORE *store_ = nullptr;
    char label_[6] = "label";
    OPENSSL_ITEM attrs_[2] = {{STORE_ATTR_FRIENDLYNAME, label_, sizeof label_, nullptr}, {STORE_ATTR_END, nullptr, 0, nullptr}};
};

}  // namespace

TEST(StoreLink, EngineToMethodLinkLivesOnTheEngine) {
    STORE_METHOD m = full_method();
    FakeStoreEngine with(&m);
    FakeStoreEngine without(nullptr);
    EXPECT_EQ(ENGINE_get_STORE(with.get()), &m);
    EXPECT_EQ(ENGINE_get_STORE(without.get()), nullptr);
    EXPECT_EQ(ENGINE_get_STORE(nullptr), nullptr);
    EXPECT_EQ(ENGINE_register_STORE(with.get()), 1);
    EXPECT_EQ(ENGINE_register_STORE(without.get()), 0);
    EXPECT_EQ(ENGINE_set_STORE(nullptr, &m), 0);
}

TEST(StoreHandle, NewEngineInitialisesTheMethodThenRecordsTheEngine) {
    seen = Seen{};
    STORE_METHOD m = full_method();
    FakeStoreEngine engine(&m);
    STORE *store = STORE_new_engine(engine.get());
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(seen.calls, std::vector<std::string>{"init"});
    EXPECT_EQ(seen.engine_at_init, nullptr);  // init runs before the engine is recorded
    EXPECT_EQ(STORE_get0_engine(store), engine.get());
    EXPECT_EQ(STORE_get_method(store), &m);
    STORE_free(store);
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"init", "clean"}));
}

TEST(StoreHandle, NewEngineFailsWithoutMethodEngineOrSuccessfulInit) {
    seen = Seen{};
    FakeStoreEngine without(nullptr);
    EXPECT_EQ(STORE_new_engine(without.get()), nullptr);
    EXPECT_EQ(STORE_new_engine(nullptr), nullptr);

    STORE_METHOD m = full_method();
    FakeStoreEngine engine(&m);
    seen.init_ok = false;
    EXPECT_EQ(STORE_new_engine(engine.get()), nullptr);
    EXPECT_EQ(seen.calls, std::vector<std::string>{"init"});

    // A method without init needs none.
    m.init = nullptr;
    STORE *store = STORE_new_engine(engine.get());
    EXPECT_NE(store, nullptr);
    STORE_free(store);
    STORE_free(nullptr);
}

TEST(StoreHandle, EngineWhoseInitFailsGivesNoStore) {
    STORE_METHOD m = full_method();
    ENGINE *e = ENGINE_new();
    ENGINE_set_id(e, "failing-init");
    ENGINE_set_init_function(e, [](ENGINE *) { return 0; });
    ENGINE_set_STORE(e, &m);
    seen = Seen{};
    EXPECT_EQ(STORE_new_engine(e), nullptr);
    EXPECT_TRUE(seen.calls.empty());
    ENGINE_free(e);
}

TEST_F(StoreFrontEnd, GetCertificateHandsOutItsOwnReferenceAndFreesTheObject) {
    X509 *cert = make_certificate();
    STORE_OBJECT *o = STORE_OBJECT_new();
    o->type = STORE_OBJECT_TYPE_X509_CERTIFICATE;
    o->data.x509.certificate = cert;  // the object owns this reference
    seen.to_return = o;
    X509 *got = STORE_get_certificate(store_, attrs_, nullptr);
    ASSERT_EQ(got, cert);
    EXPECT_EQ(seen.type, STORE_OBJECT_TYPE_X509_CERTIFICATE);
    EXPECT_EQ(seen.attributes, attrs_);
    EXPECT_EQ(seen.parameters, nullptr);
    // The object is gone; the caller's reference is alive (ASan would tell).
    EXPECT_EQ(ASN1_INTEGER_get(X509_get0_serialNumber(got)), 7);
    X509_free(got);

    EXPECT_EQ(STORE_get_certificate(store_, attrs_, nullptr), nullptr);  // the method found none
}

TEST_F(StoreFrontEnd, GetKeysUseTheirTypes) {
    for (int type : {STORE_OBJECT_TYPE_PRIVATE_KEY, STORE_OBJECT_TYPE_PUBLIC_KEY}) {
        EVP_PKEY *key = make_key();
        ASSERT_NE(key, nullptr);
        STORE_OBJECT *o = STORE_OBJECT_new();
        o->type = type;
        o->data.key = key;
        seen.to_return = o;
        EVP_PKEY *got = type == STORE_OBJECT_TYPE_PRIVATE_KEY ? STORE_get_private_key(store_, attrs_, nullptr)
                                                             : STORE_get_public_key(store_, attrs_, nullptr);
        EXPECT_EQ(got, key);
        EXPECT_EQ(seen.type, type);
        EXPECT_EQ(EVP_PKEY_get_bits(got), 256);
        EVP_PKEY_free(got);
    }
}

TEST_F(StoreFrontEnd, StoreWrapsWithTypeZeroAndPassesTheCallsType) {
    X509 *cert = make_certificate();
    ASSERT_EQ(STORE_store_certificate(store_, cert, attrs_, nullptr), 1);
    EXPECT_EQ(seen.type, STORE_OBJECT_TYPE_X509_CERTIFICATE);
    EXPECT_EQ(seen.object_type, 0);
    EXPECT_EQ(seen.certificate, cert);
    EXPECT_EQ(seen.attributes, attrs_);
    // The wrapper's reference is released; the caller's still holds.
    EXPECT_EQ(ASN1_INTEGER_get(X509_get0_serialNumber(cert)), 7);
    X509_free(cert);

    EVP_PKEY *key = make_key();
    ASSERT_EQ(STORE_store_private_key(store_, key, attrs_, nullptr), 1);
    EXPECT_EQ(seen.type, STORE_OBJECT_TYPE_PRIVATE_KEY);
    EXPECT_EQ(seen.object_type, 0);
    EXPECT_EQ(seen.key, key);
    ASSERT_EQ(STORE_store_public_key(store_, key, attrs_, nullptr), 1);
    EXPECT_EQ(seen.type, STORE_OBJECT_TYPE_PUBLIC_KEY);
    EXPECT_EQ(EVP_PKEY_get_bits(key), 256);
    EVP_PKEY_free(key);
}

TEST_F(StoreFrontEnd, MethodFailuresAreReportedAsZero) {
    seen.result = 0;
    X509 *cert = make_certificate();
    EXPECT_EQ(STORE_store_certificate(store_, cert, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_delete_certificate(store_, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_update_store(store_, nullptr, nullptr), 0);
    X509_free(cert);
    EXPECT_EQ(STORE_store_certificate(store_, nullptr, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_store_private_key(store_, nullptr, attrs_, nullptr), 0);
}

TEST_F(StoreFrontEnd, DeleteAndWholeStoreOperationsReachTheMethod) {
    EXPECT_EQ(STORE_delete_certificate(store_, attrs_, nullptr), 1);
    EXPECT_EQ(seen.type, STORE_OBJECT_TYPE_X509_CERTIFICATE);
    EXPECT_EQ(seen.attributes, attrs_);
    EXPECT_EQ(STORE_delete_private_key(store_, attrs_, nullptr), 1);
    EXPECT_EQ(seen.type, STORE_OBJECT_TYPE_PRIVATE_KEY);
    EXPECT_EQ(STORE_delete_public_key(store_, attrs_, nullptr), 1);
    EXPECT_EQ(seen.type, STORE_OBJECT_TYPE_PUBLIC_KEY);
    EXPECT_EQ(STORE_update_store(store_, nullptr, nullptr), 1);
    EXPECT_EQ(STORE_lock_store(store_, nullptr, nullptr), 1);
    EXPECT_EQ(STORE_unlock_store(store_, nullptr, nullptr), 1);
    EXPECT_EQ(STORE_ctrl(store_, 5, 0, nullptr, nullptr), 1);
    EXPECT_EQ(seen.calls.back(), "ctrl 5");
}

TEST_F(StoreFrontEnd, MissingSlotsFailWithoutCalling) {
    STORE_METHOD empty{};
    empty.name = "empty";
    FakeStoreEngine engine(&empty);
    STORE *store = STORE_new_engine(engine.get());
    ASSERT_NE(store, nullptr);
    X509 *cert = make_certificate();
    EVP_PKEY *key = make_key();
    EXPECT_EQ(STORE_get_certificate(store, attrs_, nullptr), nullptr);
    EXPECT_EQ(STORE_get_private_key(store, attrs_, nullptr), nullptr);
    EXPECT_EQ(STORE_get_public_key(store, attrs_, nullptr), nullptr);
    EXPECT_EQ(STORE_store_certificate(store, cert, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_store_private_key(store, key, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_store_public_key(store, key, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_delete_certificate(store, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_revoke_certificate(store, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_modify_certificate(store, attrs_, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(STORE_generate_key(store, attrs_, nullptr), nullptr);
    EXPECT_EQ(STORE_list_start(store, STORE_OBJECT_TYPE_X509_CERTIFICATE, nullptr, nullptr), nullptr);
    EXPECT_EQ(STORE_list_next(store, nullptr), nullptr);
    EXPECT_EQ(STORE_list_end(store, nullptr), 0);
    EXPECT_EQ(STORE_list_endp(store, nullptr), 0);
    EXPECT_EQ(STORE_update_store(store, nullptr, nullptr), 0);
    EXPECT_EQ(STORE_lock_store(store, nullptr, nullptr), 0);
    EXPECT_EQ(STORE_unlock_store(store, nullptr, nullptr), 0);
    EXPECT_EQ(STORE_ctrl(store, 1, 0, nullptr, nullptr), 0);
    STORE_free(store);
    // And a NULL handle.
    EXPECT_EQ(STORE_get_certificate(nullptr, attrs_, nullptr), nullptr);
    EXPECT_EQ(STORE_store_certificate(nullptr, cert, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_delete_certificate(nullptr, attrs_, nullptr), 0);
    EXPECT_EQ(STORE_get0_engine(nullptr), nullptr);
    X509_free(cert);
    EVP_PKEY_free(key);
}

TEST(StoreObject, NewIsEmptyAndFreeReleasesEachKindOfPayload) {
    STORE_OBJECT *o = STORE_OBJECT_new();
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->type, 0);
    EXPECT_EQ(o->data.x509.certificate, nullptr);
    STORE_OBJECT_free(o);
    STORE_OBJECT_free(nullptr);

    // Each payload is released by type (the leak checker sees the rest).
    o = STORE_OBJECT_new();
    o->type = STORE_OBJECT_TYPE_X509_CERTIFICATE;
    o->data.x509.certificate = make_certificate();
    STORE_OBJECT_free(o);
    o = STORE_OBJECT_new();
    o->type = STORE_OBJECT_TYPE_X509_CRL;
    o->data.crl = X509_CRL_new();
    STORE_OBJECT_free(o);
    o = STORE_OBJECT_new();
    o->type = STORE_OBJECT_TYPE_PRIVATE_KEY;
    o->data.key = make_key();
    STORE_OBJECT_free(o);
    o = STORE_OBJECT_new();
    o->type = STORE_OBJECT_TYPE_NUMBER;
    o->data.number = BN_new();
    STORE_OBJECT_free(o);
    o = STORE_OBJECT_new();
    o->type = STORE_OBJECT_TYPE_ARBITRARY;
    o->data.arbitrary = BUF_MEM_new();
    STORE_OBJECT_free(o);
}
