#include "p11_key_objects.h"

#include <cstdio>
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
    std::vector<unsigned char> value;
    CK_RV rv = token_read_attribute(f, session, object, CKA_VALUE, value);
    if (rv != CKR_OK) {
        std::fprintf(stderr, attr_line, static_cast<unsigned>(rv));
        return nullptr;
    }
    const unsigned char *p = value.data();
    X509 *certificate = d2i_X509(nullptr, &p, static_cast<long>(value.size()));
    if (!certificate || p != value.data() + value.size()) {
        X509_free(certificate);
        std::fprintf(stderr, "Certificate object value is not a DER certificate\n");
        return nullptr;
    }
    return certificate;
}
