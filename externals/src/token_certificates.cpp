#include "token_certificates.h"

#include "token_session.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>
#include <vector>

bool token_certificate_id(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, X509 *certificate,
                          const unsigned char default_id[20], const unsigned char *gost_pub, CK_ULONG gost_pub_len,
                          CertificateObjectId &out)
{
    out.category = X509_check_ca(certificate) == 1 ? 2 : 3;
    out.id_len = 20;
    std::memcpy(out.id, default_id, 20);
    CK_OBJECT_CLASS pub_class = CKO_PUBLIC_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE search[3] = {{CKA_CLASS, &pub_class, sizeof(pub_class)},
                              gost_pub ? CK_ATTRIBUTE{CKA_VALUE, const_cast<unsigned char *>(gost_pub), gost_pub_len}
                                       : CK_ATTRIBUTE{CKA_ID, const_cast<unsigned char *>(default_id), 20},
                              {CKA_TOKEN, &yes, sizeof(yes)}};
    P11FindResult found = p11_find_objects(f, session, search, 3, 1);
    if (!found.ok()) {
        std::fprintf(stderr, "%s failed, rc = 0x%x\n", found.failed_call, static_cast<unsigned>(found.rv));
        return false;
    }
    if (found.handles.empty())
        return true;
    CK_ATTRIBUTE read = {CKA_ID, out.id, sizeof(out.id)};
    CK_RV rv = f->C_GetAttributeValue(session, found.handles[0], &read, 1);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_GetAttributeValue failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return false;
    }
    out.id_len = read.ulValueLen;
    out.category = 1;
    return true;
}

bool token_create_certificate(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_BBOOL on_token, X509 *certificate,
                              const CertificateObjectId &id, const std::string &label, CK_OBJECT_HANDLE *object)
{
    unsigned char *value = nullptr, *subject = nullptr;
    int value_len = i2d_X509(certificate, &value);
    int subject_len = i2d_X509_NAME(X509_get_subject_name(certificate), &subject);
    if (value_len <= 0 || subject_len <= 0) {
        OPENSSL_free(value);
        OPENSSL_free(subject);
        std::fprintf(stderr, "store_object: certificate does not encode\n");
        return false;
    }
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE cert_type = CKC_X_509;
    CK_BBOOL no = CK_FALSE;
    CK_ULONG category = id.category;
    CK_ATTRIBUTE templ[9] = {
        {CKA_CLASS, &cls, sizeof(cls)},
        {CKA_CERTIFICATE_TYPE, &cert_type, sizeof(cert_type)},
        {CKA_LABEL, const_cast<char *>(label.data()), static_cast<CK_ULONG>(label.size() + 1)},
        {CKA_ID, const_cast<unsigned char *>(id.id), id.id_len},
        {CKA_VALUE, value, static_cast<CK_ULONG>(value_len)},
        {CKA_SUBJECT, subject, static_cast<CK_ULONG>(subject_len)},
        {CKA_PRIVATE, &no, sizeof(no)},
        {CKA_TOKEN, &on_token, sizeof(on_token)},
        {CKA_CERTIFICATE_CATEGORY, &category, sizeof(category)},
    };
    CK_RV rv = f->C_CreateObject(session, templ, 9, object);
    OPENSSL_free(value);
    OPENSSL_free(subject);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_CreateObject failed, rc = 0x%x\n", static_cast<unsigned>(rv));
        return false;
    }
    return true;
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
