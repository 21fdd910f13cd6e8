#include "cert_export.h"

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "cert_inspect.h"
#include "ossl_ptr.h"
#include "output_file.h"
#include "p11_errors.h"
#include "p11_session.h"
#include "printable_text.h"
#include "token_backend.h"
#include "user_login.h"
#include "tool_state.h"

namespace {

// The system's reason for the last failed file call.
const char *system_reason() { return errno != 0 ? std::strerror(errno) : "unknown error"; }

bool is_pem_format(const char *format)
{
    return format == nullptr || strcasecmp(format, "pem") == 0;
}

// The PEM form of a DER certificate; the file is only created once the
// value decodes, so a bad value leaves nothing behind.
bool write_pem_file(const char *path, const std::vector<unsigned char> &der)
{
    const unsigned char *p = der.data();
    ossl::X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!certificate || p != der.data() + der.size()) {
        BIO_printf(bio_err, "Can't decode the certificate value\n");
        return false;
    }
    OutputFile output(path);
    std::FILE *stream = output.open();
    if (!stream) {
        BIO_printf(bio_err, "Can't open file %s for writing: %s\n", path, system_reason());
        return false;
    }
    ossl::BioPtr file(BIO_new_fp(stream, BIO_NOCLOSE));
    errno = 0;
    if (!file || PEM_write_bio_X509(file.get(), certificate.get()) != 1 || BIO_flush(file.get()) != 1 ||
        !output.commit()) {
        BIO_printf(bio_err, "Error writing to file %s: %s\n", path, system_reason());
        return false;
    }
    return true;
}

}  // namespace

bool write_file(const char *path, const unsigned char *bytes, size_t count)
{
    OutputFile output(path);
    std::FILE *file = output.open();
    if (!file) {
        BIO_printf(bio_err, "Can't open file %s for writing: %s\n", path, system_reason());
        return false;
    }
    errno = 0;
    std::fwrite(bytes, 1, count, file);
    if (!output.commit()) {
        BIO_printf(bio_err, "Error writing to file %s: %s\n", path, system_reason());
        return false;
    }
    return true;
}

CK_RV output_certificate(const char *label, const char *path, const char *format)
{
    SessionGuard session;
    CK_RV rv = session.open(token_slot);
    if (rv != CKR_OK)
        return rv;

    std::vector<unsigned char> value;
    CK_RV read_rv = CKR_OK;
    FindOneResult found = find_labelled_certificate(session.handle(), label, [&](CK_OBJECT_HANDLE handle) {
        if (handle == 0)
            return;
        read_rv = read_attribute_value(session.handle(), handle, CKA_VALUE, value);
        if (read_rv != CKR_OK)
            print_p11_error("C_GetAttributeValue", read_rv);
    });
    if (found.init_rv != CKR_OK)
        return TOOL_FAILURE;
    if (found.final_rv != CKR_OK)
        return found.final_rv;
    if (found.find_rv != CKR_OK)
        return found.find_rv;
    if (found.found == 0)
        return report_no_certificate(label);
    if (read_rv != CKR_OK)
        return read_rv;
    if (value.empty()) {
        BIO_printf(bio_err, "Certificate object '%s' has an empty value\n", printable(label).c_str());
        return TOOL_FAILURE;
    }

    bool written = is_pem_format(format) ? write_pem_file(path, value)
                                         : write_file(path, value.data(), value.size());
    if (!written)
        return TOOL_FAILURE;
    BIO_printf(bio_out, "Certificate object '%s' exported to '%s' file\n", printable(label).c_str(), path);
    return CKR_OK;
}

CK_RV remove_certificate(const char *label)
{
    if (!login_with_pin())
        return TOOL_FAILURE;
    // Logged in, so private certificates are seen too.
    CK_RV result = CKR_OK;
    FindOneResult found = find_labelled_certificate(tool_session, label, [](CK_OBJECT_HANDLE) {});
    if (found.failed()) {
        result = TOOL_FAILURE;
    } else if (found.found == 0) {
        result = report_no_certificate(label);
    } else if (backend::delete_certificate(label)) {
        BIO_printf(bio_out, "Certificate object '%s' removed from the token\n", printable(label).c_str());
    } else {
        BIO_printf(bio_err, "STORE_delete_certificate failed\n");
        result = TOOL_FAILURE;
    }
    backend::logout();
    return result;
}
