// The attribute dump over a real module, in process: objects the command
// line never dumps (keys) show the rows a certificate lacks.
#include <string>

#include <gtest/gtest.h>
#include <openssl/bio.h>

#include "attribute_dump.h"
#include "captured_streams.h"
#include "softhsm_token.h"
#include "test_certs.h"
#include "tool_state.h"

namespace {

class DumpOverModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(token_.ok()) << token_.error();
        ASSERT_NE(token_.functions(), nullptr);
        session_ = token_.open_session(true);
        ASSERT_NE(session_, 0u);
        saved_functions_ = p11_functions;
        p11_functions = token_.functions();
    }
    void TearDown() override { p11_functions = saved_functions_; }
    std::string text() const { return output_.text(); }
    CK_OBJECT_HANDLE private_key()
    {
        // The same key the end-to-end tests put on their tokens, in this session.
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(create_ec_private_key(p11_functions, session_, label_with_zero("k"), make_id(20), &handle),
                  CKR_OK);
        return handle;
    }

    SoftHsmToken token_;
    CK_SESSION_HANDLE session_ = 0;
    CK_FUNCTION_LIST_PTR saved_functions_ = nullptr;
    CapturedStreams output_{CapturedStreams::kOutputOnly};
};

const char *const kCurveRows =
    "0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, \n0x01, 0x07, \n\n";

TEST_F(DumpOverModule, EcParametersAppearUnderBothNames)
{
    CK_OBJECT_HANDLE key = private_key();
    dump_object_attributes(session_, key);
    const std::string out = text();
    char heading[64];
    std::snprintf(heading, sizeof(heading), "Object handle: 0x%x\n", static_cast<unsigned>(key));
    EXPECT_EQ(out.rfind(std::string("==================================\n") + heading +
                            "----------------------------------\nCKA_CLASS\n",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find(std::string("CKA_ECDSA_PARAMS\n") + kCurveRows + "CKA_EC_PARAMS\n" + kCurveRows),
              std::string::npos)
        << out;
    EXPECT_EQ(out.substr(out.size() - 35), "----------------------------------\n");
}

TEST_F(DumpOverModule, SensitiveValueIsNamedNotShown)
{
    dump_object_attributes(session_, private_key());
    const std::string out = text();
    EXPECT_NE(out.find("CKA_VALUE: attribute sensitive\n\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("CKA_VALUE\n"), std::string::npos);
}

TEST_F(DumpOverModule, GetAttributeAsksTheLengthThenReads)
{
    CK_OBJECT_HANDLE key = private_key();
    CK_ULONG length = 0;
    ASSERT_EQ(get_attribute(session_, key, CKA_LABEL, nullptr, length), CKR_OK);
    EXPECT_EQ(length, 2u);
    char buffer[8] = {};
    length = sizeof(buffer);
    ASSERT_EQ(get_attribute(session_, key, CKA_LABEL, buffer, length), CKR_OK);
    EXPECT_EQ(length, 2u);
    EXPECT_STREQ(buffer, "k");
    length = 1;
    EXPECT_EQ(get_attribute(session_, key, CKA_LABEL, buffer, length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 1u);
}

}  // namespace
