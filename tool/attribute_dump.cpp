#include "attribute_dump.h"

#include <exception>
#include <vector>

#include <openssl/bio.h>

#include "tool_state.h"

const AttributeName attribute_names[] = {
    {0x0, "CKA_CLASS"},
    {0x1, "CKA_TOKEN"},
    {0x2, "CKA_PRIVATE"},
    {0x3, "CKA_LABEL"},
    {0x10, "CKA_APPLICATION"},
    {0x11, "CKA_VALUE"},
    {0x12, "CKA_OBJECT_ID"},
    {0x80, "CKA_CERTIFICATE_TYPE"},
    {0x81, "CKA_ISSUER"},
    {0x82, "CKA_SERIAL_NUMBER"},
    {0x83, "CKA_AC_ISSUER"},
    {0x84, "CKA_OWNER"},
    {0x85, "CKA_ATTR_TYPES"},
    {0x86, "CKA_TRUSTED"},
    {0x87, "CKA_CERTIFICATE_CATEGORY"},
    {0x88, "CKA_JAVA_MIDP_SECURITY_DOMAIN"},
    {0x89, "CKA_URL"},
    {0x8A, "CKA_HASH_OF_SUBJECT_PUBLIC_KEY"},
    {0x8B, "CKA_HASH_OF_ISSUER_PUBLIC_KEY"},
    {0x8C, "CKA_NAME_HASH_ALGORITHM"},
    {0x90, "CKA_CHECK_VALUE"},
    {0x100, "CKA_KEY_TYPE"},
    {0x101, "CKA_SUBJECT"},
    {0x102, "CKA_ID"},
    {0x103, "CKA_SENSITIVE"},
    {0x104, "CKA_ENCRYPT"},
    {0x105, "CKA_DECRYPT"},
    {0x106, "CKA_WRAP"},
    {0x107, "CKA_UNWRAP"},
    {0x108, "CKA_SIGN"},
    {0x109, "CKA_SIGN_RECOVER"},
    {0x10A, "CKA_VERIFY"},
    {0x10B, "CKA_VERIFY_RECOVER"},
    {0x10C, "CKA_DERIVE"},
    {0x110, "CKA_START_DATE"},
    {0x111, "CKA_END_DATE"},
    {0x120, "CKA_MODULUS"},
    {0x121, "CKA_MODULUS_BITS"},
    {0x122, "CKA_PUBLIC_EXPONENT"},
    {0x123, "CKA_PRIVATE_EXPONENT"},
    {0x124, "CKA_PRIME_1"},
    {0x125, "CKA_PRIME_2"},
    {0x126, "CKA_EXPONENT_1"},
    {0x127, "CKA_EXPONENT_2"},
    {0x128, "CKA_COEFFICIENT"},
    {0x130, "CKA_PRIME"},
    {0x131, "CKA_SUBPRIME"},
    {0x132, "CKA_BASE"},
    {0x133, "CKA_PRIME_BITS"},
    {0x134, "CKA_SUBPRIME_BITS"},
    {0x160, "CKA_VALUE_BITS"},
    {0x161, "CKA_VALUE_LEN"},
    {0x162, "CKA_EXTRACTABLE"},
    {0x163, "CKA_LOCAL"},
    {0x164, "CKA_NEVER_EXTRACTABLE"},
    {0x165, "CKA_ALWAYS_SENSITIVE"},
    {0x166, "CKA_KEY_GEN_MECHANISM"},
    {0x170, "CKA_MODIFIABLE"},
    {0x171, "CKA_COPYABLE"},
    {0x180, "CKA_ECDSA_PARAMS"},
    {0x180, "CKA_EC_PARAMS"},
    {0x181, "CKA_EC_POINT"},
    {0x202, "CKA_ALWAYS_AUTHENTICATE"},
    {0x210, "CKA_WRAP_WITH_TRUSTED"},
    {0x40000211, "CKA_WRAP_TEMPLATE"},
    {0x40000212, "CKA_UNWRAP_TEMPLATE"},
    {0x300, "CKA_HW_FEATURE_TYPE"},
    {0x301, "CKA_RESET_ON_INIT"},
    {0x302, "CKA_HAS_RESET"},
    {0x400, "CKA_PIXEL_X"},
    {0x401, "CKA_PIXEL_Y"},
    {0x402, "CKA_RESOLUTION"},
    {0x403, "CKA_CHAR_ROWS"},
    {0x404, "CKA_CHAR_COLUMNS"},
    {0x405, "CKA_COLOR"},
    {0x406, "CKA_BITS_PER_PIXEL"},
    {0x480, "CKA_CHAR_SETS"},
    {0x481, "CKA_ENCODING_METHODS"},
    {0x482, "CKA_MIME_TYPES"},
    {0x500, "CKA_MECHANISM_TYPE"},
    {0x501, "CKA_REQUIRED_CMS_ATTRIBUTES"},
    {0x502, "CKA_DEFAULT_CMS_ATTRIBUTES"},
    {0x503, "CKA_SUPPORTED_CMS_ATTRIBUTES"},
    {0x40000600, "CKA_ALLOWED_MECHANISMS"},
    {0x250, "CKA_GOSTR3410_PARAMS"},
    {0x251, "CKA_GOSTR3411_PARAMS"},
    {0x252, "CKA_GOST28147_PARAMS"},
};
const size_t attribute_names_count = sizeof(attribute_names) / sizeof(attribute_names[0]);

CK_RV get_attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                    void *value, CK_ULONG &length)
{
    CK_ATTRIBUTE attr = {type, value, value != nullptr ? length : 0};
    CK_RV rv = p11_functions->C_GetAttributeValue(session, object, &attr, 1);
    if (rv == CKR_OK)
        length = attr.ulValueLen;
    return rv;
}

void print_hex(const unsigned char *bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        BIO_printf(bio_out, "0x%02x, ", bytes[i]);
        if (i % 8 == 7 || i + 1 == count)
            BIO_puts(bio_out, "\n");
    }
    BIO_puts(bio_out, "\n");
}

CK_RV dump_object_attributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object)
{
    BIO_puts(bio_out, "==================================\n");
    BIO_printf(bio_out, "Object handle: 0x%x\n", static_cast<unsigned>(object));
    BIO_puts(bio_out, "----------------------------------\n");
    CK_RV rv = CKR_OK;
    for (size_t row = 0; row < attribute_names_count; ++row) {
        const AttributeName &attr = attribute_names[row];
        CK_ULONG length = 0;
        rv = get_attribute(session, object, attr.type, nullptr, length);
        if (rv == CKR_OK && length == 0) {
            BIO_printf(bio_out, "%s: length 0\n\n", attr.name);
        } else if (rv == CKR_OK && length != CK_UNAVAILABLE_INFORMATION) {
            std::vector<unsigned char> value;
            try {
                value.resize(length);
            } catch (const std::exception &) {
                // A length no memory can hold is left out like a failed read.
                rv = CKR_HOST_MEMORY;
                continue;
            }
            rv = get_attribute(session, object, attr.type, value.data(), length);
            if (rv == CKR_OK) {
                BIO_printf(bio_out, "%s\n", attr.name);
                print_hex(value.data(), length < value.size() ? length : value.size());
            }
        } else if (rv == CKR_ATTRIBUTE_SENSITIVE) {
            BIO_printf(bio_out, "%s: attribute sensitive\n\n", attr.name);
        }
    }
    BIO_puts(bio_out, "----------------------------------\n");
    return rv;
}
