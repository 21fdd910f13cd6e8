// The SoftHSM2 token helper: a fresh, initialised token per test.
#include "softhsm_token.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

TEST(SoftHsmToken, MakesAnInitialisedTokenInItsOwnDirectoryAndRemovesIt) {
    std::string dir;
    {
        SoftHsmToken token("helper check");
        ASSERT_TRUE(token.ok()) << token.error();
        dir = token.dir();
        EXPECT_TRUE(std::filesystem::exists(token.config_path()));
        EXPECT_STREQ(getenv("SOFTHSM2_CONF"), token.config_path().c_str());

        CK_FUNCTION_LIST *f = token.functions();
        ASSERT_NE(f, nullptr) << token.error();
        CK_TOKEN_INFO info;
        ASSERT_EQ(f->C_GetTokenInfo(token.slot(), &info), CKR_OK);
        EXPECT_TRUE(info.flags & CKF_TOKEN_INITIALIZED);
        EXPECT_TRUE(info.flags & CKF_USER_PIN_INITIALIZED);
        std::string label(reinterpret_cast<const char *>(info.label), sizeof info.label);
        EXPECT_EQ(label.substr(0, 12), "helper check");

        CK_SESSION_HANDLE session = token.open_session(true);
        ASSERT_NE(session, 0u);
        CK_SESSION_INFO sinfo;
        ASSERT_EQ(f->C_GetSessionInfo(session, &sinfo), CKR_OK);
        EXPECT_EQ(sinfo.state, static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));
    }
    EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST(SoftHsmToken, EachTokenIsFresh) {
    for (int round = 0; round < 2; ++round) {
        SoftHsmToken token;
        ASSERT_TRUE(token.ok()) << token.error();
        CK_FUNCTION_LIST *f = token.functions();
        ASSERT_NE(f, nullptr) << token.error();
        CK_SESSION_HANDLE session = token.open_session(true);
        ASSERT_NE(session, 0u);
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL on_token = CK_TRUE;
        CK_ATTRIBUTE find[] = {{CKA_CLASS, &cls, sizeof cls}};
        ASSERT_EQ(f->C_FindObjectsInit(session, find, 1), CKR_OK);
        CK_OBJECT_HANDLE found[4];
        CK_ULONG count = 0;
        ASSERT_EQ(f->C_FindObjects(session, found, 4, &count), CKR_OK);
        f->C_FindObjectsFinal(session);
        EXPECT_EQ(count, 0u) << "round " << round;
        char value[] = "x";
        CK_ATTRIBUTE make[] = {{CKA_CLASS, &cls, sizeof cls},
                               {CKA_TOKEN, &on_token, sizeof on_token},
                               {CKA_VALUE, value, 1}};
        CK_OBJECT_HANDLE object = 0;
        ASSERT_EQ(f->C_CreateObject(session, make, 3, &object), CKR_OK);
    }
}
