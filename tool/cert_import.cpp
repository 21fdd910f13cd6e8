#define OPENSSL_SUPPRESS_DEPRECATED  // the ENGINE control calls

#include "cert_import.h"

#include <memory>
#include <string>

#include <openssl/bio.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "pin_prompt.h"
#include "tool_state.h"

namespace {

struct BioFree {
    void operator()(BIO *b) const { BIO_free(b); }
};
struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct Pkcs12Free {
    void operator()(PKCS12 *p) const { PKCS12_free(p); }
};
struct CertStackFree {
    void operator()(STACK_OF(X509) *s) const { sk_X509_pop_free(s, X509_free); }
};

using X509Ptr = std::unique_ptr<X509, X509Free>;

// The attribute list every store call of one import gets: the label.
class LabelAttributes {
public:
    explicit LabelAttributes(const char *label) : label_(label)
    {
        items_[0] = {STORE_ATTR_FRIENDLYNAME, label_.data(), label_.size() + 1, nullptr};
        items_[1] = {STORE_ATTR_END, nullptr, 0, nullptr};
    }
    OPENSSL_ITEM *items() { return items_; }

private:
    std::string label_;
    OPENSSL_ITEM items_[2];
};

std::unique_ptr<BIO, BioFree> open_input(const char *path)
{
    std::unique_ptr<BIO, BioFree> file(BIO_new_file(path, "rb"));
    if (!file)
        BIO_printf(bio_err, "Can't read %s file\n", path);
    return file;
}

// Asks for the user PIN and logs in through the engine: true when logged in.
bool login_through_engine()
{
    PinBuffer<32> pin;
    if (read_pin(pin.data(), pin.capacity(), "Enter token user PIN:") != 0) {
        BIO_printf(bio_err, "Can't get user PIN\n");
        return false;
    }
    int logged_in = ENGINE_ctrl_cmd_string(token_engine, "LOGIN", pin.data(), 0);
    pin.wipe();
    if (logged_in == 0) {
        BIO_printf(bio_err, "Token LOGIN failed\n");
        return false;
    }
    return true;
}

void logout_through_engine()
{
    ENGINE_ctrl_cmd(token_engine, "LOGOUT", 0, nullptr, nullptr, 0);
}

CK_RV store_certificate(X509 *certificate, const char *label, const char *path)
{
    if (!login_through_engine())
        return TOOL_FAILURE;
    LabelAttributes attributes(label);
    CK_RV result = CKR_OK;
    if (STORE_store_certificate(token_store, certificate, attributes.items(), nullptr)) {
        BIO_printf(bio_out, "Certificate object '%s' imported from '%s' file\n", label, path);
    } else {
        BIO_printf(bio_err, "STORE_certificate failed\n");
        result = TOOL_FAILURE;
    }
    logout_through_engine();
    return result;
}

}  // namespace

CK_RV input_pem(const char *label, const char *path)
{
    auto file = open_input(path);
    if (!file)
        return TOOL_FAILURE;
    X509Ptr certificate(PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr));
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
    X509Ptr certificate(d2i_X509_bio(file.get(), nullptr));
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
    PinBuffer<32> password;
    if (read_pin(password.data(), password.capacity(), prompt.c_str()) != 0) {
        BIO_printf(bio_err, "Can't get container password\n");
        return TOOL_FAILURE;
    }
    auto file = open_input(path);
    if (!file)
        return TOOL_FAILURE;
    std::unique_ptr<PKCS12, Pkcs12Free> container(d2i_PKCS12_bio(file.get(), nullptr));
    file.reset();
    if (!container) {
        BIO_printf(bio_err, "Can't convert DER file %s to P12\n", path);
        return TOOL_FAILURE;
    }
    EVP_PKEY *raw_key = nullptr;
    X509 *raw_certificate = nullptr;
    STACK_OF(X509) *raw_others = nullptr;
    int parsed = PKCS12_parse(container.get(), password.data(), &raw_key, &raw_certificate, &raw_others);
    password.wipe();
    std::unique_ptr<EVP_PKEY, PkeyFree> key(raw_key);
    X509Ptr certificate(raw_certificate);
    std::unique_ptr<STACK_OF(X509), CertStackFree> others(raw_others);
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

    if (!login_through_engine())
        return TOOL_FAILURE;
    LabelAttributes attributes(label);
    CK_RV result = TOOL_FAILURE;
    if (!STORE_store_private_key(token_store, key.get(), attributes.items(), nullptr))
        BIO_printf(bio_err, "STORE_store_private_key failed\n");
    else if (!STORE_store_public_key(token_store, key.get(), attributes.items(), nullptr))
        BIO_printf(bio_err, "STORE_store_public_key failed\n");
    else if (!STORE_store_certificate(token_store, certificate.get(), attributes.items(), nullptr))
        BIO_printf(bio_err, "STORE_certificate failed\n");
    else {
        BIO_printf(bio_out, "Keypair and certificate objects '%s' imported from '%s' file\n", label, path);
        result = CKR_OK;
    }
    logout_through_engine();
    return result;
}
