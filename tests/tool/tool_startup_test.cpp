// Every way into and out of a tokencert run: usage, module loading, the slot
// list, the slot choice, the session and the token check.
#include <string>

#include <openssl/crypto.h>

#include "tool_e2e.h"

namespace {

using Startup = TokencertTest;

TEST_F(Startup, ModuleAloneShowsLibraryInfoAndEndsWithOk)
{
    ProcessResult r = tool({"-p11", token_.module_path()});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out.rfind("PKCS#11 Info\n\tVersion ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\tLibrary Version "), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");

    // Even without an action the run opens its session on the default slot
    // and hands it to the engine: failing either ends the run there.
    r = faulty({{"FAULTMOD_FUNC", "C_OpenSession"}, {"FAULTMOD_RV", "0xB1"}}, {});
    EXPECT_EQ(r.exit_status, 0xB1);
    EXPECT_EQ(r.out.rfind("PKCS#11 Info\n", 0), 0u) << r.out;
    const std::string open_failed = " \nC_OpenSession error: 177 ( CKR_SESSION_COUNT)\n";
    ASSERT_GT(r.out.size(), open_failed.size());
    EXPECT_EQ(r.out.substr(r.out.size() - open_failed.size()), open_failed);

    r = faulty({{"FAULTMOD_FUNC", "C_GetSessionInfo"}, {"FAULTMOD_RV", "0xB3"}}, {});
    EXPECT_EQ(r.exit_status, 255);
    const std::string adopt_failed = " \nSET_SESSION failed\n";
    ASSERT_GT(r.out.size(), adopt_failed.size());
    EXPECT_EQ(r.out.substr(r.out.size() - adopt_failed.size()), adopt_failed);
}

TEST_F(Startup, VersionNeedsNoModuleNoTokenAndNoPin)
{
    ProcessResult r = tool({"-version"});
    EXPECT_EQ(r.exit_status, 0);
    const std::string running = OpenSSL_version(OPENSSL_VERSION);
    const std::string built = OPENSSL_VERSION_TEXT;
    EXPECT_EQ(r.out, "tokencert " TOKENCERT_VERSION "\n" + running + (running == built ? "" : " (built with " + built + ")") +
                         "\nGOST algorithms: " TOKENCERT_GOST_ALGORITHMS "\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Startup, LibraryThatCannotBeLoaded)
{
    ProcessResult r = tool({"-p11", "/nonexistent/libnothing.so", "-certlist"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out,
              "Couldn't load /nonexistent/libnothing.so: cannot open shared object file: No such file or directory\n"
              "Can't load the PKCS11 library /nonexistent/libnothing.so\n");
}

TEST_F(Startup, LibraryWithoutEntryPoint)
{
    ProcessResult r = tool({"-p11", kNoEntryModule});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, "Couldn't get C_GetFunctionList address: undefined symbol: C_GetFunctionList\n"
                     "Can't load the PKCS11 library " + kNoEntryModule + "\n");
}

TEST_F(Startup, FailingGetFunctionList)
{
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_GetFunctionList"}, {"FAULTMOD_RV", "0x5"}}, {});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, "C_GetFunctionList error: 5 ( CKR_GENERAL_ERROR)\n"
                     "Can't load the PKCS11 library " + kFaultModule + "\n");
}

TEST_F(Startup, FailingInitializeExitsWithTheFinalizeResult)
{
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_Initialize"}, {"FAULTMOD_RV", "0x6"}}, {"-certlist"});
    // The module was never initialised, so C_Finalize answers
    // CKR_CRYPTOKI_NOT_INITIALIZED (0x190), seen as its low byte.
    EXPECT_EQ(r.exit_status, 0x90);
    EXPECT_EQ(r.out, "C_Initialize error: 6 ( CKR_FUNCTION_FAILED)\n");
}

TEST_F(Startup, EngineRefusingTheModule)
{
    // The engine probes the module with C_GetSlotList when it takes it over.
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_GetSlotList"}, {"FAULTMOD_RV", "0x30"}}, {"-certlist"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, "ATTACH_API_FUNCS failed\n");
}

TEST_F(Startup, FailingSlotListEndsTheRunWithItsCode)
{
    for (const char *skip : {"1", "2"}) {  // the count query, then the list itself
        ProcessResult r = faulty(
            {{"FAULTMOD_FUNC", "C_GetSlotList"}, {"FAULTMOD_RV", "0x30"}, {"FAULTMOD_SKIP", skip}},
            {"-p11info", "-certlist"});
        EXPECT_EQ(r.exit_status, 0x30) << skip;
        EXPECT_EQ(r.out, "C_GetSlotList error: 48 ( CKR_DEVICE_ERROR)\n") << skip;
    }
}

TEST_F(Startup, EngineRefusingTheSession)
{
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_GetSessionInfo"}, {"FAULTMOD_RV", "0xB3"}},
                             {"-slot", token_.slot_text(), "-certlist"});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, "SET_SESSION failed\n");
}

TEST_F(Startup, ZeroSlotsEndsWithSixBeforeAnyListing)
{
    ProcessResult r = faulty({{"FAULTMOD_ZERO_SLOTS", "1"}}, {"-p11info"});
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "C_GetSlotCount returned 0 slots.\n"
                     "Check that your tokens are installed correctly.\n");
    EXPECT_EQ(faulty({{"FAULTMOD_ZERO_SLOTS", "1"}}, {"-p11info", "-json"}).err, r.out);
}

TEST_F(Startup, FailingMainSessionExitsWithItsCode)
{
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_OpenSession"}, {"FAULTMOD_RV", "0xB1"}},
                             {"-slot", token_.slot_text(), "-certlist"});
    EXPECT_EQ(r.exit_status, 0xB1);
    EXPECT_EQ(r.out, "C_OpenSession error: 177 ( CKR_SESSION_COUNT)\n");
}

TEST_F(Startup, SlotOutsideTheListIsUsedAsGiven)
{
    ProcessResult r = tool({"-p11", token_.module_path(), "-slot", "7"});
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.out, "C_OpenSession error: 3 ( CKR_SLOT_ID_INVALID)\n");
}

TEST_F(Startup, DefaultSlotIsTheFirstWithATokenPresent)
{
    put({"first"});
    ProcessResult r = tool({"-p11", token_.module_path(), "-tokeninfo"});
    EXPECT_EQ(r.exit_status, 0);
    // The initialised token comes first in SoftHSM2's list.
    EXPECT_NE(r.out.find("Token #" + token_.slot_text() + " Info:\n"), std::string::npos) << r.out;
}

TEST_F(Startup, NoSlotWithTokenPresentEndsWith224)
{
    ProcessResult r = faulty({{"FAULTMOD_CLEAR_SLOT_FLAGS", "0x1"}}, {"-p11info"});
    EXPECT_EQ(r.exit_status, 224);
    EXPECT_NE(r.out.find("PKCS#11 Info\n"), std::string::npos);
    const std::string tail = " \nNo slots with token present found\nOK\n";
    ASSERT_GT(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST_F(Startup, GuardedActionWithoutSlotFailsTheTokenCheck)
{
    ProcessResult r = faulty({{"FAULTMOD_CLEAR_SLOT_FLAGS", "0x1"}}, {"-certlist"});
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "No slots with token present found\n"
                     "C_GetTokenInfo error: 3 ( CKR_SLOT_ID_INVALID)\n"
                     "Token not initialized\n");
}

TEST_F(Startup, TokenWithoutInitializedFlagStopsGuardedActions)
{
    put({"abc"});
    for (const std::vector<std::string> &action :
         {std::vector<std::string>{"-certlist"}, {"-label", "abc", "-attributes"},
          {"-label", "abc", "-outfile", token_.dir() + "/x.pem"}, {"-certlist", "-json"}}) {
        std::vector<std::string> args{"-slot", token_.slot_text()};
        args.insert(args.end(), action.begin(), action.end());
        ProcessResult r = faulty({{"FAULTMOD_CLEAR_TOKEN_FLAGS", "0x400"}}, args);
        EXPECT_EQ(r.exit_status, 6);
        EXPECT_EQ(action.back() == "-json" ? r.err : r.out, "Token not initialized\n");  // -json: stdout is JSON only
    }
    // The token information is shown without the check.
    ProcessResult r = faulty({{"FAULTMOD_CLEAR_TOKEN_FLAGS", "0x400"}},
                             {"-slot", token_.slot_text(), "-tokeninfo"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find("Token #"), std::string::npos);
}

}  // namespace
