#include "p11_key_objects.h"

#include <cstdio>
#include <exception>
#include <vector>

P11FindResult p11_find_key_objects(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls,
                                   const p11_gost2012_key &key, CK_ULONG max_objects)
{
    CK_ATTRIBUTE templ[] = {
        {CKA_CLASS, &cls, sizeof cls},
        {CKA_ID, const_cast<unsigned char *>(key.key_id), gost_key_id_len(key)},
    };
    return p11_find_objects(f, session, templ, 2, max_objects);
}

X509 *p11_read_certificate(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           const char *attr_line)
{
    CK_ATTRIBUTE attr = {CKA_VALUE, nullptr, 0};
    CK_RV rv = f->C_GetAttributeValue(session, object, &attr, 1);
    std::vector<unsigned char> value;
    if (rv == CKR_OK) {
        if (attr.ulValueLen == CK_UNAVAILABLE_INFORMATION)
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        else {
            try {
                value.resize(attr.ulValueLen);
            } catch (const std::exception &) {
                rv = CKR_HOST_MEMORY;  // a length no memory can hold
            }
        }
    }
    if (rv == CKR_OK) {
        attr.pValue = value.data();
        rv = f->C_GetAttributeValue(session, object, &attr, 1);
    }
    if (rv != CKR_OK) {
        std::fprintf(stderr, attr_line, static_cast<unsigned>(rv));
        return nullptr;
    }
    const unsigned char *p = value.data();
    X509 *certificate = d2i_X509(nullptr, &p, static_cast<long>(attr.ulValueLen));
    if (!certificate || p != value.data() + attr.ulValueLen) {
        X509_free(certificate);
        std::fprintf(stderr, "Certificate object value is not a DER certificate\n");
        return nullptr;
    }
    return certificate;
}
