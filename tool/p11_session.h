// A session of the tool's own on a slot, closed on every way out, and the
// search helpers the certificate actions share.
#ifndef TOKENCERT_P11_SESSION_H
#define TOKENCERT_P11_SESSION_H

#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

class SessionGuard {
public:
    SessionGuard() = default;
    SessionGuard(const SessionGuard &) = delete;
    SessionGuard &operator=(const SessionGuard &) = delete;
    ~SessionGuard();

    // C_OpenSession (read-write, serial) on `slot`; prints the error line on failure.
    CK_RV open(CK_SLOT_ID slot);
    CK_SESSION_HANDLE handle() const { return handle_; }

private:
    CK_SESSION_HANDLE handle_ = 0;
};

// Attribute template of a certificate search: class and token, and the label
// with its terminating zero byte when one is given. The template points into
// this object, which must outlive the search.
class CertificateTemplate {
public:
    explicit CertificateTemplate(const char *label = nullptr);
    CertificateTemplate(const CertificateTemplate &) = delete;
    CertificateTemplate &operator=(const CertificateTemplate &) = delete;

    CK_ATTRIBUTE *data() { return attributes_; }
    CK_ULONG size() const { return count_; }

private:
    CK_OBJECT_CLASS class_ = CKO_CERTIFICATE;
    CK_BBOOL token_ = CK_TRUE;
    std::string label_;
    CK_ATTRIBUTE attributes_[3];
    CK_ULONG count_ = 2;
};

// C_FindObjectsInit, one C_FindObjects for a single handle, C_FindObjectsFinal.
// Each failing call prints its error line. `found` is 0 when nothing matched.
struct FindOneResult {
    CK_RV init_rv = CKR_OK;
    CK_RV find_rv = CKR_OK;
    CK_RV final_rv = CKR_OK;
    CK_OBJECT_HANDLE found = 0;
};

// Runs the search; after a successful C_FindObjects, `on_found` is called with
// the handle found (0 for none) before the search is finished.
template <typename OnFound>
FindOneResult find_one_object(CK_SESSION_HANDLE session, CK_ATTRIBUTE *tmpl, CK_ULONG count,
                              OnFound on_found);

// Reads a value whose length is first asked of the module.
CK_RV read_attribute_value(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> &value);

#include "p11_session_impl.h"

#endif
