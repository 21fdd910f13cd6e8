#include "p11_session.h"

#include <cstring>
#include <exception>

SessionGuard::~SessionGuard()
{
    if (handle_ != 0)
        p11_functions->C_CloseSession(handle_);
}

CK_RV open_reading_session(CK_SLOT_ID slot, bool writes, CK_SESSION_HANDLE *session)
{
    CK_RV rv = p11_functions->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                            nullptr, session);
    if (rv == CKR_TOKEN_WRITE_PROTECTED && !writes)
        rv = p11_functions->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, session);
    return rv;
}

CK_RV SessionGuard::open(CK_SLOT_ID slot)
{
    CK_RV rv = open_reading_session(slot, false, &handle_);
    if (rv != CKR_OK) {
        handle_ = 0;
        print_p11_error("C_OpenSession", rv);
    }
    return rv;
}

CertificateTemplate::CertificateTemplate(const char *label, CK_ULONG label_length)
{
    attributes_[0] = {CKA_CLASS, &class_, sizeof(class_)};
    attributes_[1] = {CKA_TOKEN, &token_, sizeof(token_)};
    if (label != nullptr) {
        label_.assign(label, label_length);
        attributes_[2] = {CKA_LABEL, label_.data(), label_.size()};
        count_ = 3;
    }
}

CK_RV read_attribute_value(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> &value)
{
    value.clear();
    CK_ATTRIBUTE attr = {type, nullptr, 0};
    CK_RV rv = p11_functions->C_GetAttributeValue(session, object, &attr, 1);
    if (rv != CKR_OK)
        return rv;
    if (attr.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return CKR_ATTRIBUTE_TYPE_INVALID;
    try {
        value.resize(attr.ulValueLen);
    } catch (const std::exception &) {
        // A length no memory can hold: a module fault, not a reason to abort.
        return CKR_HOST_MEMORY;
    }
    attr.pValue = value.data();
    rv = p11_functions->C_GetAttributeValue(session, object, &attr, 1);
    if (rv != CKR_OK) {
        value.clear();
        return rv;
    }
    value.resize(attr.ulValueLen);
    return CKR_OK;
}
