// The engine's "ZK PKCS11" store method: the operations it has today.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "pkcs11_core_eng.h"
#include "pkcs11_store.h"
#include "store.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>

namespace {

class ZkStore : public testing::Test {
protected:
    void SetUp() override {
        engine_ = ENGINE_new();
        ASSERT_EQ(bind_zk_p11_core(ZK_P11_ENGINE_ID, engine_), 1);
        store_ = STORE_new_engine(engine_);
        ASSERT_NE(store_, nullptr);
    }
    void TearDown() override {
        STORE_free(store_);
        ENGINE_unregister_ciphers(engine_);
        ENGINE_unregister_digests(engine_);
        ENGINE_unregister_pkey_meths(engine_);
        ENGINE_unregister_pkey_asn1_meths(engine_);
        ENGINE_free(engine_);
    }
    ENGINE *engine_ = nullptr;
    STORE *store_ = nullptr;
};

}  // namespace

TEST_F(ZkStore, TheEnginesStoreIsTheZkMethod) {
    EXPECT_EQ(STORE_get_method(store_), pkcs11_store_method());
    EXPECT_STREQ(STORE_get_method(store_)->name, "ZK PKCS11");
    EXPECT_EQ(STORE_get0_engine(store_), engine_);
}

TEST_F(ZkStore, WholeStoreOperationsSucceedWhileTheContextExists) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(STORE_update_store(store_, nullptr, nullptr), 1);
    EXPECT_EQ(STORE_revoke_certificate(store_, nullptr, nullptr), 1);
    EXPECT_EQ(STORE_lock_store(store_, nullptr, nullptr), 1);
    EXPECT_EQ(STORE_unlock_store(store_, nullptr, nullptr), 1);
    EXPECT_EQ(STORE_ctrl(store_, 1, 2, nullptr, nullptr), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ZkStore, LockAndUnlockNeedTheEngineContext) {
    void *ctx = ENGINE_get_ex_data(engine_, 0);
    ENGINE_set_ex_data(engine_, 0, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(STORE_lock_store(store_, nullptr, nullptr), 0);
    EXPECT_EQ(STORE_unlock_store(store_, nullptr, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ENGINE_get_ex_data failed\nENGINE_get_ex_data failed\n");
    ENGINE_set_ex_data(engine_, 0, ctx);
}

TEST_F(ZkStore, CleanChecksTheContextOnly) {
    testing::internal::CaptureStderr();
    STORE_get_method(store_)->clean(store_);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    void *ctx = ENGINE_get_ex_data(engine_, 0);
    ENGINE_set_ex_data(engine_, 0, nullptr);
    testing::internal::CaptureStderr();
    STORE_get_method(store_)->clean(store_);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ENGINE_get_ex_data failed\n");
    ENGINE_set_ex_data(engine_, 0, ctx);
}

TEST_F(ZkStore, OperationsNotYetOfferedFailCleanly) {
    OPENSSL_ITEM none[] = {{STORE_ATTR_END, nullptr, 0, nullptr}};
    EXPECT_EQ(STORE_get_certificate(store_, none, nullptr), nullptr);
    EXPECT_EQ(STORE_delete_certificate(store_, none, nullptr), 0);
}
