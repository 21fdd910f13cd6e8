#include "p11_errors.h"

#include <cstdint>
#include <cstring>

#include <openssl/bio.h>

#include "tool_state.h"

#define CKR_ROW(value, name) {value, " " name}

const CkrName ckr_names[] = {
    CKR_ROW(0x000, "CKR_OK"),
    CKR_ROW(0x001, "CKR_CANCEL"),
    CKR_ROW(0x002, "CKR_HOST_MEMORY"),
    CKR_ROW(0x003, "CKR_SLOT_ID_INVALID"),
    CKR_ROW(0x005, "CKR_GENERAL_ERROR"),
    CKR_ROW(0x006, "CKR_FUNCTION_FAILED"),
    CKR_ROW(0x007, "CKR_ARGUMENTS_BAD"),
    CKR_ROW(0x008, "CKR_NO_EVENT"),
    CKR_ROW(0x009, "CKR_NEED_TO_CREATE_THREADS"),
    CKR_ROW(0x00A, "CKR_CANT_LOCK"),
    CKR_ROW(0x010, "CKR_ATTRIBUTE_READ_ONLY"),
    CKR_ROW(0x011, "CKR_ATTRIBUTE_SENSITIVE"),
    CKR_ROW(0x012, "CKR_ATTRIBUTE_TYPE_INVALID"),
    CKR_ROW(0x013, "CKR_ATTRIBUTE_VALUE_INVALID"),
    CKR_ROW(0x020, "CKR_DATA_INVALID"),
    CKR_ROW(0x021, "CKR_DATA_LEN_RANGE"),
    CKR_ROW(0x030, "CKR_DEVICE_ERROR"),
    CKR_ROW(0x031, "CKR_DEVICE_MEMORY"),
    CKR_ROW(0x032, "CKR_DEVICE_REMOVED"),
    CKR_ROW(0x040, "CKR_ENCRYPTED_DATA_INVALID"),
    CKR_ROW(0x041, "CKR_ENCRYPTED_DATA_LEN_RANGE"),
    CKR_ROW(0x050, "CKR_FUNCTION_CANCELED"),
    CKR_ROW(0x051, "CKR_FUNCTION_NOT_PARALLEL"),
    CKR_ROW(0x054, "CKR_FUNCTION_NOT_SUPPORTED"),
    CKR_ROW(0x060, "CKR_KEY_HANDLE_INVALID"),
    CKR_ROW(0x062, "CKR_KEY_SIZE_RANGE"),
    CKR_ROW(0x063, "CKR_KEY_TYPE_INCONSISTENT"),
    CKR_ROW(0x064, "CKR_KEY_NOT_NEEDED"),
    CKR_ROW(0x065, "CKR_KEY_CHANGED"),
    CKR_ROW(0x066, "CKR_KEY_NEEDED"),
    CKR_ROW(0x067, "CKR_KEY_INDIGESTIBLE"),
    CKR_ROW(0x068, "CKR_KEY_FUNCTION_NOT_PERMITTED"),
    CKR_ROW(0x069, "CKR_KEY_NOT_WRAPPABLE"),
    CKR_ROW(0x06A, "CKR_KEY_UNEXTRACTABLE"),
    CKR_ROW(0x070, "CKR_MECHANISM_INVALID"),
    CKR_ROW(0x071, "CKR_MECHANISM_PARAM_INVALID"),
    CKR_ROW(0x082, "CKR_OBJECT_HANDLE_INVALID"),
    CKR_ROW(0x090, "CKR_OPERATION_ACTIVE"),
    CKR_ROW(0x091, "CKR_OPERATION_NOT_INITIALIZED"),
    CKR_ROW(0x0A0, "CKR_PIN_INCORRECT"),
    CKR_ROW(0x0A1, "CKR_PIN_INVALID"),
    CKR_ROW(0x0A2, "CKR_PIN_LEN_RANGE"),
    CKR_ROW(0x0A3, "CKR_PIN_EXPIRED"),
    CKR_ROW(0x0A4, "CKR_PIN_LOCKED"),
    CKR_ROW(0x0B0, "CKR_SESSION_CLOSED"),
    CKR_ROW(0x0B1, "CKR_SESSION_COUNT"),
    CKR_ROW(0x0B3, "CKR_SESSION_HANDLE_INVALID"),
    CKR_ROW(0x0B4, "CKR_SESSION_PARALLEL_NOT_SUPPORTED"),
    CKR_ROW(0x0B5, "CKR_SESSION_READ_ONLY"),
    CKR_ROW(0x0B6, "CKR_SESSION_EXISTS"),
    CKR_ROW(0x0B7, "CKR_SESSION_READ_ONLY_EXISTS"),
    CKR_ROW(0x0B8, "CKR_SESSION_READ_WRITE_SO_EXISTS"),
    CKR_ROW(0x0C0, "CKR_SIGNATURE_INVALID"),
    CKR_ROW(0x0C1, "CKR_SIGNATURE_LEN_RANGE"),
    CKR_ROW(0x0D0, "CKR_TEMPLATE_INCOMPLETE"),
    CKR_ROW(0x0D1, "CKR_TEMPLATE_INCONSISTENT"),
    CKR_ROW(0x0E0, "CKR_TOKEN_NOT_PRESENT"),
    CKR_ROW(0x0E1, "CKR_TOKEN_NOT_RECOGNIZED"),
    CKR_ROW(0x0E2, "CKR_TOKEN_WRITE_PROTECTED"),
    CKR_ROW(0x0F0, "CKR_UNWRAPPING_KEY_HANDLE_INVALID"),
    CKR_ROW(0x0F1, "CKR_UNWRAPPING_KEY_SIZE_RANGE"),
    CKR_ROW(0x0F2, "CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT"),
    CKR_ROW(0x100, "CKR_USER_ALREADY_LOGGED_IN"),
    CKR_ROW(0x101, "CKR_USER_NOT_LOGGED_IN"),
    CKR_ROW(0x102, "CKR_USER_PIN_NOT_INITIALIZED"),
    CKR_ROW(0x103, "CKR_USER_TYPE_INVALID"),
    CKR_ROW(0x104, "CKR_USER_ANOTHER_ALREADY_LOGGED_IN"),
    CKR_ROW(0x105, "CKR_USER_TOO_MANY_TYPES"),
    CKR_ROW(0x110, "CKR_WRAPPED_KEY_INVALID"),
    CKR_ROW(0x112, "CKR_WRAPPED_KEY_LEN_RANGE"),
    CKR_ROW(0x113, "CKR_WRAPPING_KEY_HANDLE_INVALID"),
    CKR_ROW(0x114, "CKR_WRAPPING_KEY_SIZE_RANGE"),
    CKR_ROW(0x115, "CKR_WRAPPING_KEY_TYPE_INCONSISTENT"),
    CKR_ROW(0x120, "CKR_RANDOM_SEED_NOT_SUPPORTED"),
    CKR_ROW(0x121, "CKR_RANDOM_NO_RNG"),
    CKR_ROW(0x150, "CKR_BUFFER_TOO_SMALL"),
    CKR_ROW(0x160, "CKR_SAVED_STATE_INVALID"),
    CKR_ROW(0x170, "CKR_INFORMATION_SENSITIVE"),
    CKR_ROW(0x180, "CKR_STATE_UNSAVEABLE"),
    CKR_ROW(0x190, "CKR_CRYPTOKI_NOT_INITIALIZED"),
    CKR_ROW(0x191, "CKR_CRYPTOKI_ALREADY_INITIALIZED"),
    CKR_ROW(0x1A0, "CKR_MUTEX_BAD"),
    CKR_ROW(0x1A1, "CKR_MUTEX_NOT_LOCKED"),
    CKR_ROW(0x80000000UL, "CKR_VENDOR_DEFINED"),
};
const size_t ckr_names_count = sizeof(ckr_names) / sizeof(ckr_names[0]);

void ckr_name(CK_RV code, char *buffer, size_t size)
{
    if (buffer == nullptr || size == 0)
        return;
    for (size_t i = 0; i < ckr_names_count; ++i) {
        if (ckr_names[i].code != code)
            continue;
        size_t length = std::strlen(ckr_names[i].name);
        if (length >= size)
            length = size - 1;
        std::memcpy(buffer, ckr_names[i].name, length);
        buffer[length] = '\0';
        return;
    }
}

void print_p11_error(const char *function, CK_RV code)
{
    // A code the table does not name still gives a well-formed line.
    char name[1024] = " unknown";
    ckr_name(code, name, sizeof(name));
    // Return codes are 32-bit values; shown signed as a 32-bit long shows them.
    BIO_printf(bio_err, "%s error: %ld (%s)\n", function,
               static_cast<long>(static_cast<int32_t>(code)), name);
}

int exit_status_for(CK_RV code)
{
    if (code == 0)
        return 0;
    int status = static_cast<int>(code & 0xFF);
    return status != 0 ? status : 1;
}
