// The engine's short-session helpers: token slots, a session that closes
// itself, and object searches that always finish.
#include "engine_test_support.h"
#include "p11_engine_session.h"
#include "softhsm_token.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

class SessionHelpers : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(token_.ok()) << token_.error();
        f_ = token_.functions();
        ASSERT_NE(f_, nullptr) << token_.error();
        ctx_.function_list = f_;
        ctx_.slot_id = token_.slot();
        ctx_.session_flags = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    }
    // Makes `count` token data objects labelled `label`.
    void make_data_objects(const char *label, int count) {
        CK_SESSION_HANDLE s = token_.open_session(true);
        ASSERT_NE(s, 0UL);
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        for (int k = 0; k < count; ++k) {
            std::string value = std::to_string(k);
            CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                                {CKA_TOKEN, &yes, sizeof yes},
                                {CKA_PRIVATE, &no, sizeof no},
                                {CKA_LABEL, const_cast<char *>(label), strlen(label)},
                                {CKA_VALUE, value.data(), value.size()}};
            CK_OBJECT_HANDLE h = 0;
            ASSERT_EQ(f_->C_CreateObject(s, t, 5, &h), CKR_OK);
        }
        f_->C_CloseSession(s);
    }
    bool is_session(CK_SESSION_HANDLE h) {
        CK_SESSION_INFO info;
        return f_->C_GetSessionInfo(h, &info) == CKR_OK;
    }

    SoftHsmToken token_;
    CK_FUNCTION_LIST *f_ = nullptr;
    P11_ENGINE_CTX ctx_;
};

CK_RV fail_find_init(CK_SESSION_HANDLE, CK_ATTRIBUTE *, CK_ULONG) { return CKR_OPERATION_ACTIVE; }
CK_RV fail_find(CK_SESSION_HANDLE, CK_OBJECT_HANDLE *, CK_ULONG, CK_ULONG *) { return CKR_DEVICE_ERROR; }
int final_calls = 0;
CK_RV count_final(CK_SESSION_HANDLE) {
    ++final_calls;
    return CKR_OK;
}
CK_RV fail_final(CK_SESSION_HANDLE) { return CKR_DEVICE_REMOVED; }

}  // namespace

TEST_F(SessionHelpers, TokenSlotsListsTheTokensSlot) {
    std::vector<CK_SLOT_ID> slots;
    ASSERT_EQ(p11_token_slots(f_, slots), CKR_OK);
    EXPECT_NE(std::find(slots.begin(), slots.end(), token_.slot()), slots.end());
    EXPECT_EQ(p11_token_slots(nullptr, slots), static_cast<CK_RV>(CKR_GENERAL_ERROR));
    EXPECT_TRUE(slots.empty());
}

TEST_F(SessionHelpers, SessionClosesOnScopeExit) {
    CK_SESSION_HANDLE h = 0;
    {
        P11Session session;
        ASSERT_EQ(session.open(&ctx_), CKR_OK);
        EXPECT_TRUE(session.is_open());
        h = session.handle();
        EXPECT_TRUE(is_session(h));
    }
    EXPECT_FALSE(is_session(h));

    P11Session session;
    ASSERT_EQ(session.open(&ctx_), CKR_OK);
    h = session.handle();
    EXPECT_EQ(session.close(), CKR_OK);
    EXPECT_FALSE(session.is_open());
    EXPECT_FALSE(is_session(h));
    EXPECT_EQ(session.close(), CKR_OK);  // closing twice is harmless
}

TEST_F(SessionHelpers, SessionReportsTheModulesRefusal) {
    ctx_.slot_id = 4242;
    P11Session session;
    EXPECT_EQ(session.open(&ctx_), static_cast<CK_RV>(CKR_SLOT_ID_INVALID));
    EXPECT_FALSE(session.is_open());
    P11_ENGINE_CTX detached;
    EXPECT_EQ(session.open(&detached), static_cast<CK_RV>(CKR_GENERAL_ERROR));
}

TEST_F(SessionHelpers, FindReturnsEveryMatchAcrossBatchesOrStopsAtTheLimit) {
    make_data_objects("many", 37);
    make_data_objects("other", 2);
    P11Session session;
    ASSERT_EQ(session.open(&ctx_), CKR_OK);
    const char *label = "many";
    CK_ATTRIBUTE t[] = {{CKA_LABEL, const_cast<char *>(label), 4}};
    P11FindResult all = p11_find_objects(f_, session.handle(), t, 1);
    ASSERT_TRUE(all.ok()) << all.failed_call;
    EXPECT_EQ(all.handles.size(), 37u);
    P11FindResult one = p11_find_objects(f_, session.handle(), t, 1, 1);
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(one.handles.size(), 1u);
    // A search left unfinished would make the next one fail.
    P11FindResult again = p11_find_objects(f_, session.handle(), t, 1, 40);
    ASSERT_TRUE(again.ok()) << again.failed_call;
    EXPECT_EQ(again.handles.size(), 37u);
    const char *none = "none";
    CK_ATTRIBUTE n[] = {{CKA_LABEL, const_cast<char *>(none), 4}};
    P11FindResult empty = p11_find_objects(f_, session.handle(), n, 1);
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.handles.empty());
}

TEST_F(SessionHelpers, FindNamesTheCallThatFailedAndAlwaysFinishes) {
    P11Session session;
    ASSERT_EQ(session.open(&ctx_), CKR_OK);
    CK_FUNCTION_LIST broken = *f_;
    broken.C_FindObjectsInit = fail_find_init;
    P11FindResult r = p11_find_objects(&broken, session.handle(), nullptr, 0);
    EXPECT_EQ(r.rv, static_cast<CK_RV>(CKR_OPERATION_ACTIVE));
    EXPECT_STREQ(r.failed_call, "C_FindObjectsInit");

    broken = *f_;
    broken.C_FindObjects = fail_find;
    broken.C_FindObjectsFinal = count_final;
    final_calls = 0;
    r = p11_find_objects(&broken, session.handle(), nullptr, 0);
    EXPECT_EQ(r.rv, static_cast<CK_RV>(CKR_DEVICE_ERROR));
    EXPECT_STREQ(r.failed_call, "C_FindObjects");
    EXPECT_EQ(final_calls, 1);
    f_->C_FindObjectsFinal(session.handle());  // the real search is still open

    broken = *f_;
    broken.C_FindObjectsFinal = fail_final;
    r = p11_find_objects(&broken, session.handle(), nullptr, 0);
    EXPECT_EQ(r.rv, static_cast<CK_RV>(CKR_DEVICE_REMOVED));
    EXPECT_STREQ(r.failed_call, "C_FindObjectsFinal");
    EXPECT_TRUE(r.handles.empty());
    f_->C_FindObjectsFinal(session.handle());
}
