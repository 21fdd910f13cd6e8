// The module listings, byte for byte: library information, slots, token.
#include <cstdio>
#include <string>

#include "tool_e2e.h"

namespace {

std::string field(const unsigned char *bytes, size_t width)
{
    std::string text(reinterpret_cast<const char *>(bytes), width);
    return text.substr(0, text.find('\0'));
}

std::string version(const CK_VERSION &v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor);
}

std::string hex(unsigned long value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "0x%lX", value);
    return buffer;
}

class Listings : public TokencertTest {
protected:
    CK_INFO library_info()
    {
        CK_INFO info{};
        EXPECT_EQ(token_.functions()->C_GetInfo(&info), CKR_OK);
        return info;
    }
    CK_SLOT_INFO slot_info(CK_SLOT_ID slot)
    {
        CK_SLOT_INFO info{};
        EXPECT_EQ(token_.functions()->C_GetSlotInfo(slot, &info), CKR_OK);
        return info;
    }
    CK_TOKEN_INFO token_info(CK_SLOT_ID slot)
    {
        CK_TOKEN_INFO info{};
        EXPECT_EQ(token_.functions()->C_GetTokenInfo(slot, &info), CKR_OK);
        return info;
    }
    // The token lines as the module reports them now, with `flags_line`
    // standing for the flags; the time field is compared separately.
    std::string token_lines(CK_SLOT_ID slot, const std::string &flags_line)
    {
        CK_TOKEN_INFO t = token_info(slot);
        return "Token #" + std::to_string(slot) + " Info:\n"
               "\tLabel: " + field(t.label, 32) + "\n"
               "\tManufacturer: " + field(t.manufacturerID, 32) + "\n"
               "\tModel: " + field(t.model, 16) + "\n"
               "\tSerial Number: " + field(t.serialNumber, 16) + "\n" +
               flags_line +
               "\tSessions: " + std::to_string(static_cast<int>(t.ulSessionCount)) + "/" +
               std::to_string(static_cast<int>(t.ulMaxSessionCount)) + "\n"
               "\tR/W Sessions: " + std::to_string(static_cast<int>(t.ulRwSessionCount)) + "/" +
               std::to_string(static_cast<int>(t.ulMaxRwSessionCount)) + "\n"
               "\tPIN Length: " + std::to_string(t.ulMinPinLen) + "-" + std::to_string(t.ulMaxPinLen) + "\n"
               "\tPublic Memory: " + hex(static_cast<unsigned>(t.ulFreePublicMemory)) + "/" +
               hex(static_cast<unsigned>(t.ulTotalPublicMemory)) + "\n"
               "\tPrivate Memory: " + hex(static_cast<unsigned>(t.ulFreePrivateMemory)) + "/" +
               hex(static_cast<unsigned>(t.ulTotalPrivateMemory)) + "\n"
               "\tHardware Version: " + version(t.hardwareVersion) + "\n"
               "\tFirmware Version: " + version(t.firmwareVersion) + "\n"
               "\tTime: ";
    }
    // Compares `out` at `pos` with `expected`, then skips the 16-character
    // time and its newline.
    void expect_token_block(const std::string &out, size_t &pos, const std::string &expected)
    {
        ASSERT_LE(pos + expected.size() + 17, out.size()) << out;
        EXPECT_EQ(out.substr(pos, expected.size()), expected);
        pos += expected.size();
        EXPECT_EQ(out[pos + 16], '\n');
        pos += 17;
    }
};

const char *const kFreshTokenFlags =
    "\tFlags: 0x42D ( RNG|LOGIN_REQUIRED|USER_PIN_INITIALIZED|RESTORE_KEY_NOT_NEEDED|"
    "TOKEN_INITIALIZED|\b )\n";

TEST_F(Listings, LibraryInformationIsExact)
{
    CK_INFO i = library_info();
    ProcessResult r = tool(on_token({"-p11info"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "PKCS#11 Info\n"
                     "\tVersion " + version(i.cryptokiVersion) + " \n"
                     "\tManufacturer: " + field(i.manufacturerID, 32) + " \n"
                     "\tFlags: " + hex(i.flags) + "  \n"
                     "\tLibrary Description: " + field(i.libraryDescription, 32) + "\n"
                     "\tLibrary Version " + version(i.libraryVersion) + " \n"
                     "OK\n");
}

TEST_F(Listings, TokenInformationIsExact)
{
    ProcessResult r = tool(on_token({"-tokeninfo"}));
    EXPECT_EQ(r.exit_status, 0);
    size_t pos = 0;
    expect_token_block(r.out, pos, token_lines(token_.slot(), kFreshTokenFlags));
    EXPECT_EQ(r.out.substr(pos), "OK\n");
}

TEST_F(Listings, SlotListingShowsEachSlotAndItsToken)
{
    CK_ULONG count = 0;
    ASSERT_EQ(token_.functions()->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    std::vector<CK_SLOT_ID> slots(count);
    ASSERT_EQ(token_.functions()->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
    ASSERT_GE(count, 1u);

    ProcessResult r = tool(on_token({"-slotlist"}));
    EXPECT_EQ(r.exit_status, 0);
    size_t pos = 0;
    for (CK_SLOT_ID slot : slots) {
        CK_SLOT_INFO s = slot_info(slot);
        ASSERT_EQ(s.flags, CKF_TOKEN_PRESENT);
        std::string slot_block = "Slot with ID " + std::to_string(slot) + " Info\n"
                                 "\tDescription: " + field(s.slotDescription, 64) + "\n"
                                 "\tManufacturer: " + field(s.manufacturerID, 32) + "\n"
                                 "\tFlags: 0x1 ( TOKEN_PRESENT|\b )\n"
                                 "\tHardware Version: " + version(s.hardwareVersion) + "\n"
                                 "\tFirmware Version: " + version(s.firmwareVersion) + "\n";
        EXPECT_EQ(r.out.substr(pos, slot_block.size()), slot_block);
        pos += slot_block.size();
        CK_TOKEN_INFO t = token_info(slot);
        std::string flags_line = slot == token_.slot()
                                     ? std::string(kFreshTokenFlags)
                                     : "\tFlags: " + hex(t.flags) + " ( ";
        if (slot != token_.slot()) {
            // SoftHSM2's spare slot holds an uninitialised token.
            EXPECT_EQ(t.flags & CKF_TOKEN_INITIALIZED, 0u);
            size_t end = r.out.find("\b )\n", pos);
            ASSERT_NE(end, std::string::npos);
            std::string shown = r.out.substr(r.out.find("\tFlags: ", pos));
            flags_line = shown.substr(0, shown.find("\b )\n") + 4);
        }
        expect_token_block(r.out, pos, token_lines(slot, flags_line));
    }
    EXPECT_EQ(r.out.substr(pos), "OK\n");
}

TEST_F(Listings, FlagsLineWithoutFlagsAndWithUnknownBits)
{
    ProcessResult r = faulty({{"FAULTMOD_CLEAR_TOKEN_FLAGS", "0xFFFFFFFF"}},
                             {"-slot", token_.slot_text(), "-tokeninfo"});
    EXPECT_NE(r.out.find("\tFlags: 0x0 ( \b )\n"), std::string::npos) << r.out;

    r = faulty({{"FAULTMOD_CLEAR_TOKEN_FLAGS", "0xFFFFFFFF"}, {"FAULTMOD_SET_TOKEN_FLAGS", "0x10"}},
               {"-slot", token_.slot_text(), "-tokeninfo"});
    EXPECT_NE(r.out.find("\tFlags: 0x10 ( \b )\n"), std::string::npos) << r.out;

    r = faulty({{"FAULTMOD_CLEAR_TOKEN_FLAGS", "0xFFFFFFFF"}, {"FAULTMOD_SET_TOKEN_FLAGS", "0xFFFFFFFF"}},
               {"-slot", token_.slot_text(), "-tokeninfo"});
    EXPECT_NE(r.out.find("\tFlags: 0xFFFFFFFF ( RNG|WRITE_PROTECTED|LOGIN_REQUIRED|USER_PIN_INITIALIZED|"
                         "RESTORE_KEY_NOT_NEEDED|CLOCK_ON_TOKEN|PROTECTED_AUTHENTICATION_PATH|"
                         "DUAL_CRYPTO_OPERATIONS|TOKEN_INITIALIZED|SECONDARY_AUTHENTICATION|"
                         "USER_PIN_COUNT_LOW|USER_PIN_FINAL_TRY|USER_PIN_LOCKED|USER_PIN_TO_BE_CHANGED|"
                         "SO_PIN_COUNT_LOW|SO_PIN_FINAL_TRY|SO_PIN_LOCKED|SO_PIN_TO_BE_CHANGED|\b )\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Listings, FailingTokenInfoInSlotListingIsReportedTwiceAndStopsTheListing)
{
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_GetTokenInfo"}, {"FAULTMOD_RV", "0xE1"}},
                             {"-slot", token_.slot_text(), "-slotlist"});
    EXPECT_EQ(r.exit_status, 0);
    const std::string twice = "C_GetTokenInfo error: 225 ( CKR_TOKEN_NOT_RECOGNIZED)\n"
                              "C_GetTokenInfo error: 225 ( CKR_TOKEN_NOT_RECOGNIZED)\n";
    size_t at = r.out.find(twice);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Slot with ID "), r.out.rfind("Slot with ID "));  // only the first slot
    EXPECT_EQ(r.out.rfind("\tFirmware Version: ", at) + 0 < at, true);
    EXPECT_EQ(r.out.substr(at + twice.size()), "OK\n");
}

TEST_F(Listings, FailingLibraryInfoIsReportedAndTheRunGoesOn)
{
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_GetInfo"}, {"FAULTMOD_RV", "0x6"}},
                             {"-slot", token_.slot_text(), "-p11info"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "C_GetInfo error: 6 ( CKR_FUNCTION_FAILED)\nOK\n");
}

}  // namespace
