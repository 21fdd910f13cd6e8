// A session of the tool's own on a slot, closed on every way out, and the
// search helpers the certificate actions share.
#ifndef TOKENCERT_P11_SESSION_H
#define TOKENCERT_P11_SESSION_H

#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "p11_label_search.h"

// C_OpenSession on `slot`, read-write; a token that refuses that
// (CKR_TOKEN_WRITE_PROTECTED) gets a read-only session unless `writes`.
CK_RV open_reading_session(CK_SLOT_ID slot, bool writes, CK_SESSION_HANDLE *session);

class SessionGuard {
public:
    SessionGuard() = default;
    SessionGuard(const SessionGuard &) = delete;
    SessionGuard &operator=(const SessionGuard &) = delete;
    ~SessionGuard();

    // C_OpenSession (read-write, serial; read-only on a write-protected
    // token) on `slot`; prints the error line on failure.
    CK_RV open(CK_SLOT_ID slot);
    CK_SESSION_HANDLE handle() const { return handle_; }

private:
    CK_SESSION_HANDLE handle_ = 0;
};

// Attribute template of a certificate search: class and token, and the
// first `label_length` bytes of the label when one is given (the text and its
// zero byte, or the text alone: see search_label_both_ways). The template
// points into this object, which must outlive the search.
class CertificateTemplate {
public:
    CertificateTemplate() : CertificateTemplate(nullptr, 0) {}
    CertificateTemplate(const char *label, CK_ULONG label_length);
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
    bool failed() const { return init_rv != CKR_OK || find_rv != CKR_OK || final_rv != CKR_OK; }
    // True when the search failed or found something: a search by label
    // without the zero byte is then not needed.
    bool settled() const { return failed() || found != 0; }
};

// Runs the search; after a successful C_FindObjects, `on_found` is called with
// the handle found (0 for none) before the search is finished.
template <typename OnFound>
FindOneResult find_one_object(CK_SESSION_HANDLE session, CK_ATTRIBUTE *tmpl, CK_ULONG count,
                              OnFound on_found);

// The same for the first certificate carrying `label`, searched both ways
// (see search_label_both_ways); `on_found` may be called once per way.
template <typename OnFound>
FindOneResult find_labelled_certificate(CK_SESSION_HANDLE session, const char *label, OnFound on_found);

// Reads a value whose length is first asked of the module.
CK_RV read_attribute_value(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> &value);

#include "p11_session_impl.h"

#endif
