#include "listings.h"

#include <cstring>

#include <openssl/bio.h>

#include "json_output.h"
#include "p11_errors.h"
#include "printable_text.h"
#include "tool_state.h"

namespace {

struct FlagName {
    CK_FLAGS bit;
    const char *text;
};

const FlagName slot_flag_table[] = {
    {0x1, "TOKEN_PRESENT|"},
    {0x2, "REMOVABLE_DEVICE|"},
    {0x4, "HW_SLOT|"},
};

const FlagName token_flag_table[] = {
    {0x1, "RNG|"},
    {0x2, "WRITE_PROTECTED|"},
    {0x4, "LOGIN_REQUIRED|"},
    {0x8, "USER_PIN_INITIALIZED|"},
    {0x20, "RESTORE_KEY_NOT_NEEDED|"},
    {0x40, "CLOCK_ON_TOKEN|"},
    {0x100, "PROTECTED_AUTHENTICATION_PATH|"},
    {0x200, "DUAL_CRYPTO_OPERATIONS|"},
    {0x400, "TOKEN_INITIALIZED|"},
    {0x800, "SECONDARY_AUTHENTICATION|"},
    {0x10000, "USER_PIN_COUNT_LOW|"},
    {0x20000, "USER_PIN_FINAL_TRY|"},
    {0x40000, "USER_PIN_LOCKED|"},
    {0x80000, "USER_PIN_TO_BE_CHANGED|"},
    {0x100000, "SO_PIN_COUNT_LOW|"},
    {0x200000, "SO_PIN_FINAL_TRY|"},
    {0x400000, "SO_PIN_LOCKED|"},
    {0x800000, "SO_PIN_TO_BE_CHANGED|"},
};

// The flags line; the backspace before " )" steps back over the last "|".
template <size_t N>
void print_flags_line(CK_FLAGS flags, const FlagName (&names)[N])
{
    BIO_printf(bio_out, "\tFlags: 0x%X ( ", static_cast<unsigned>(flags));
    for (const FlagName &name : names) {
        if (flags & name.bit)
            BIO_puts(bio_out, name.text);
    }
    BIO_puts(bio_out, "\b )\n");
}

template <size_t N>
std::vector<std::string> names_of(CK_FLAGS flags, const FlagName (&names)[N])
{
    std::vector<std::string> set;
    for (const FlagName &name : names)
        if (flags & name.bit)
            set.emplace_back(name.text, std::strlen(name.text) - 1);
    return set;
}

// Counters and sizes are 32-bit values on the wire of the listing.
int as_int(CK_ULONG value) { return static_cast<int>(value); }
unsigned as_hex(CK_ULONG value) { return static_cast<unsigned>(value); }

void print_slot_text(CK_SLOT_ID slot, const CK_SLOT_INFO &info)
{
    BIO_printf(bio_out, "Slot with ID %ld Info\n", static_cast<long>(slot));
    BIO_printf(bio_out, "\tDescription: %.64s\n", reinterpret_cast<const char *>(info.slotDescription));
    BIO_printf(bio_out, "\tManufacturer: %.32s\n", reinterpret_cast<const char *>(info.manufacturerID));
    print_flags_line(info.flags, slot_flag_table);
    BIO_printf(bio_out, "\tHardware Version: %d.%d\n", info.hardwareVersion.major, info.hardwareVersion.minor);
    BIO_printf(bio_out, "\tFirmware Version: %d.%d\n", info.firmwareVersion.major, info.firmwareVersion.minor);
}

// C_GetTokenInfo, with its error line when it fails.
CK_RV read_token_info(CK_SLOT_ID slot, CK_TOKEN_INFO &info)
{
    CK_RV rv = p11_functions->C_GetTokenInfo(slot, &info);
    if (rv != CKR_OK)
        print_p11_error("C_GetTokenInfo", rv);
    return rv;
}

void print_token_text(CK_SLOT_ID slot, const CK_TOKEN_INFO &info)
{
    BIO_printf(bio_out, "Token #%ld Info:\n", static_cast<long>(slot));
    const char *label = reinterpret_cast<const char *>(info.label);
    BIO_printf(bio_out, "\tLabel: %s\n", printable(label, strnlen(label, sizeof info.label)).c_str());
    BIO_printf(bio_out, "\tManufacturer: %.32s\n", reinterpret_cast<const char *>(info.manufacturerID));
    BIO_printf(bio_out, "\tModel: %.16s\n", reinterpret_cast<const char *>(info.model));
    BIO_printf(bio_out, "\tSerial Number: %.16s\n", reinterpret_cast<const char *>(info.serialNumber));
    print_flags_line(info.flags, token_flag_table);
    BIO_printf(bio_out, "\tSessions: %d/%d\n", as_int(info.ulSessionCount), as_int(info.ulMaxSessionCount));
    BIO_printf(bio_out, "\tR/W Sessions: %d/%d\n", as_int(info.ulRwSessionCount),
               as_int(info.ulMaxRwSessionCount));
    BIO_printf(bio_out, "\tPIN Length: %d-%d\n", as_int(info.ulMinPinLen), as_int(info.ulMaxPinLen));
    BIO_printf(bio_out, "\tPublic Memory: 0x%X/0x%X\n", as_hex(info.ulFreePublicMemory),
               as_hex(info.ulTotalPublicMemory));
    BIO_printf(bio_out, "\tPrivate Memory: 0x%X/0x%X\n", as_hex(info.ulFreePrivateMemory),
               as_hex(info.ulTotalPrivateMemory));
    BIO_printf(bio_out, "\tHardware Version: %d.%d\n", info.hardwareVersion.major, info.hardwareVersion.minor);
    BIO_printf(bio_out, "\tFirmware Version: %d.%d\n", info.firmwareVersion.major, info.firmwareVersion.minor);
    BIO_printf(bio_out, "\tTime: %.16s\n", reinterpret_cast<const char *>(info.utcTime));
}

}  // namespace

CK_RV show_library_info()
{
    CK_INFO info{};
    CK_RV rv = p11_functions->C_GetInfo(&info);
    if (rv != CKR_OK) {
        print_p11_error("C_GetInfo", rv);
        return rv;
    }
    if (json_mode()) {
        json_add_library(info);
        return CKR_OK;
    }
    BIO_printf(bio_out, "PKCS#11 Info\n");
    BIO_printf(bio_out, "\tVersion %d.%d \n", info.cryptokiVersion.major,
               info.cryptokiVersion.minor);
    BIO_printf(bio_out, "\tManufacturer: %.32s \n",
               reinterpret_cast<const char *>(info.manufacturerID));
    BIO_printf(bio_out, "\tFlags: 0x%X  \n", as_hex(info.flags));
    BIO_printf(bio_out, "\tLibrary Description: %.32s\n",
               reinterpret_cast<const char *>(info.libraryDescription));
    BIO_printf(bio_out, "\tLibrary Version %d.%d \n", info.libraryVersion.major,
               info.libraryVersion.minor);
    return CKR_OK;
}

std::vector<std::string> slot_flag_names(CK_FLAGS flags) { return names_of(flags, slot_flag_table); }
std::vector<std::string> token_flag_names(CK_FLAGS flags) { return names_of(flags, token_flag_table); }

CK_RV show_slot_list()
{
    for (CK_SLOT_ID slot : slot_list) {
        CK_SLOT_INFO info{};
        CK_RV rv = p11_functions->C_GetSlotInfo(slot, &info);
        if (rv != CKR_OK) {
            print_p11_error("C_GetSlotInfo", rv);
            return rv;
        }
        if (!json_mode())
            print_slot_text(slot, info);
        CK_TOKEN_INFO token{};
        rv = read_token_info(slot, token);
        if (rv != CKR_OK) {
            print_p11_error("C_GetTokenInfo", rv);
            return rv;
        }
        if (json_mode())
            json_add_slot(slot, info, token);
        else
            print_token_text(slot, token);
    }
    return CKR_OK;
}

CK_RV show_token_info(CK_SLOT_ID slot)
{
    CK_TOKEN_INFO info{};
    CK_RV rv = read_token_info(slot, info);
    if (rv != CKR_OK)
        return rv;
    if (json_mode())
        json_add_token(slot, info);
    else
        print_token_text(slot, info);
    return CKR_OK;
}
