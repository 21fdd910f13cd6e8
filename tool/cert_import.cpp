#include "cert_import.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "gost_params.h"
#include "import_store.h"
#include "ossl_ptr.h"
#include "p12_iterations.h"
#include "pin_prompt.h"
#include "user_login.h"
#include "printable_text.h"
#include "token_backend.h"
#include "tool_state.h"

namespace {

ossl::BioPtr open_input(const char *path)
{
    // A directory opens for reading on Linux; only reading it would fail.
    struct stat st {};
    errno = stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? EISDIR : 0;
    ossl::BioPtr file(errno == 0 ? BIO_new_file(path, "rb") : nullptr);
    if (!file)
        BIO_printf(bio_err, "Can't read %s file: %s\n", path, errno != 0 ? std::strerror(errno) : "unknown error");
    return file;
}

CK_RV store_certificate(X509 *certificate, const char *label, const char *path)
{
    if (!login_with_pin())
        return TOOL_FAILURE;
    CK_RV result = CKR_OK;
    if (backend::store_certificate(certificate, label)) {
        BIO_printf(bio_out, "Certificate object '%s' imported from '%s' file\n", printable(label).c_str(), path);
    } else {
        BIO_printf(bio_err, "STORE_certificate failed\n");
        result = TOOL_FAILURE;
    }
    backend::logout();
    return result;
}

}  // namespace

CK_RV input_pem(const char *label, const char *path)
{
    auto file = open_input(path);
    if (!file)
        return TOOL_FAILURE;
    ossl::X509Ptr certificate(PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr));
    file.reset();
    if (!certificate) {
        BIO_printf(bio_err, "Can't load certificate from PEM file %s\n", path);
        return TOOL_FAILURE;
    }
    return store_certificate(certificate.get(), label, path);
}

CK_RV input_der(const char *label, const char *path)
{
    auto file = open_input(path);
    if (!file)
        return TOOL_FAILURE;
    ossl::X509Ptr certificate(d2i_X509_bio(file.get(), nullptr));
    file.reset();
    if (!certificate) {
        BIO_printf(bio_err, "Can't load certificate from DER file %s\n", path);
        return TOOL_FAILURE;
    }
    return store_certificate(certificate.get(), label, path);
}

CK_RV input_p12(const char *label, const char *path)
{
    // The prompt names the file, however long its path.
    const std::string prompt = std::string("Enter ") + path + " container password:";
    SecretBuffer password;
    if (obtain_secret(SecretKind::container_password, password.data(), password.capacity(), prompt.c_str()) != 0) {
        BIO_printf(bio_err, "Can't get container password\n");
        return TOOL_FAILURE;
    }
    auto file = open_input(path);
    if (!file)
        return TOOL_FAILURE;
    ossl::Pkcs12Ptr container(d2i_PKCS12_bio(file.get(), nullptr));
    file.reset();
    if (!container) {
        BIO_printf(bio_err, "Can't convert DER file %s to P12\n", path);
        return TOOL_FAILURE;
    }
    if (!pkcs12_iterations_acceptable(container.get(), password.data(), path))
        return TOOL_FAILURE;
    EVP_PKEY *raw_key = nullptr;
    X509 *raw_certificate = nullptr;
    STACK_OF(X509) *raw_others = nullptr;
    const bool parsed = backend::parse_pkcs12(container.get(), password.data(), &raw_key, &raw_certificate, &raw_others);
    password.wipe();
    ossl::PkeyPtr key(raw_key);
    ossl::X509Ptr certificate(raw_certificate);
    ossl::CertificatesPtr others(raw_others);
    container.reset();
    if (!parsed) {
        BIO_printf(bio_err, "PKCS12_parse failed\n");
        return TOOL_FAILURE;
    }
    ERR_clear_error();
    if (!key || !certificate) {
        // A container without a key or without a certificate has nothing to pair.
        BIO_printf(bio_err, "PKCS12_parse failed\n");
        return TOOL_FAILURE;
    }
    // A token key pair is made of GOST R 34.10-2001 or 2012 keys only.
    if (gost_key_alg_of(key.get()) == nullptr) {
        BIO_printf(bio_err, "The key in %s is not a GOST key\n", path);
        return TOOL_FAILURE;
    }

    if (!login_with_pin())
        return TOOL_FAILURE;
    CK_RV result = store_key_pair(key.get(), certificate.get(), label);
    if (result == CKR_OK)
        BIO_printf(bio_out, "Keypair and certificate objects '%s' imported from '%s' file\n", printable(label).c_str(), path);
    backend::logout();
    return result;
}
