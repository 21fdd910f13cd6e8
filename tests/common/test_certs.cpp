#include "test_certs.h"
#include "memory_bio.h"

#include <memory>
#include <stdexcept>

#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/ec.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
struct ExtFree {
    void operator()(X509_EXTENSION *e) const { X509_EXTENSION_free(e); }
};
struct OctetFree {
    void operator()(ASN1_OCTET_STRING *o) const { ASN1_OCTET_STRING_free(o); }
};
struct ObjFree {
    void operator()(ASN1_OBJECT *o) const { ASN1_OBJECT_free(o); }
};

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(what);
}

void check_rv(CK_RV rv, const char *what)
{
    if (rv != CKR_OK)
        throw std::runtime_error(std::string(what) + " failed, rv = " + std::to_string(rv));
}

std::unique_ptr<EVP_PKEY, PkeyFree> make_ec_key()
{
    return std::unique_ptr<EVP_PKEY, PkeyFree>(EVP_EC_gen("P-256"));
}

}  // namespace

Bytes make_certificate_der(const std::string &common_name, size_t padding)
{
    auto key = make_ec_key();
    check(key != nullptr, "EVP_EC_gen");
    std::unique_ptr<X509, X509Free> cert(X509_new());
    check(cert != nullptr, "X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0x1234);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 365);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(common_name.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    if (padding > 0) {
        std::unique_ptr<ASN1_OBJECT, ObjFree> oid(OBJ_txt2obj("1.3.6.1.4.1.55555.1", 1));
        std::unique_ptr<ASN1_OCTET_STRING, OctetFree> value(ASN1_OCTET_STRING_new());
        std::string filler(padding, 'x');
        ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char *>(filler.data()),
                              static_cast<int>(filler.size()));
        std::unique_ptr<X509_EXTENSION, ExtFree> ext(
            X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
        check(ext != nullptr && X509_add_ext(cert.get(), ext.get(), -1) == 1, "X509_add_ext");
    }
    check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "X509_sign");
    int length = i2d_X509(cert.get(), nullptr);
    check(length > 0, "i2d_X509");
    Bytes der(static_cast<size_t>(length));
    unsigned char *p = der.data();
    i2d_X509(cert.get(), &p);
    return der;
}

std::string pem_of(const Bytes &der)
{
    const unsigned char *p = der.data();
    std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    check(cert != nullptr, "d2i_X509");
    std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), &BIO_free);
    check(memory != nullptr && PEM_write_bio_X509(memory.get(), cert.get()) == 1, "PEM_write_bio_X509");
    return memory_bio_text(memory.get());
}

Bytes label_with_zero(const std::string &text)
{
    Bytes out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

Bytes label_without_zero(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes make_id(size_t length, unsigned char seed)
{
    Bytes id(length);
    for (size_t i = 0; i < length; ++i)
        id[i] = static_cast<unsigned char>(seed * 31 + i * 7 + 1);
    return id;
}

TokenClient::TokenClient(const std::string &module_path, CK_SLOT_ID slot, const std::string &user_pin)
{
    library_ = dlopen(module_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    check(library_ != nullptr, "dlopen of the module");
    auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library_, "C_GetFunctionList"));
    check(get_list != nullptr, "C_GetFunctionList lookup");
    check_rv(get_list(&functions_), "C_GetFunctionList");
    CK_RV rv = functions_->C_Initialize(nullptr);
    if (rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        check_rv(rv, "C_Initialize");
        initialised_here_ = true;
    }
    check_rv(functions_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                       &session_),
             "C_OpenSession");
    rv = functions_->C_Login(session_, CKU_USER,
                             reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char *>(user_pin.c_str())),
                             user_pin.size());
    if (rv != CKR_USER_ALREADY_LOGGED_IN)
        check_rv(rv, "C_Login");
}

TokenClient::~TokenClient()
{
    if (functions_ != nullptr) {
        if (session_ != 0)
            functions_->C_CloseSession(session_);
        if (initialised_here_)
            functions_->C_Finalize(nullptr);
    }
    if (library_ != nullptr)
        dlclose(library_);
}

CK_RV create_certificate(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const Bytes &der,
                         const Bytes &label, const Bytes &id, CK_OBJECT_HANDLE *handle)
{
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    // Subject and issuer from the certificate itself.
    const unsigned char *p = der.data();
    std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    check(cert != nullptr, "d2i_X509");
    unsigned char *subject = nullptr;
    int subject_len = i2d_X509_NAME(X509_get_subject_name(cert.get()), &subject);
    check(subject_len > 0, "i2d_X509_NAME");
    std::unique_ptr<unsigned char, void (*)(unsigned char *)> subject_owner(
        subject, [](unsigned char *s) { OPENSSL_free(s); });
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &cls, sizeof(cls)},
        {CKA_CERTIFICATE_TYPE, &type, sizeof(type)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_PRIVATE, &no, sizeof(no)},
        {CKA_SUBJECT, subject, static_cast<CK_ULONG>(subject_len)},
        {CKA_VALUE, const_cast<unsigned char *>(der.data()), der.size()},
        {CKA_LABEL, const_cast<unsigned char *>(label.data()), label.size()},
        {CKA_ID, const_cast<unsigned char *>(id.data()), id.size()},
    };
    return functions->C_CreateObject(session, tmpl, sizeof(tmpl) / sizeof(tmpl[0]), handle);
}

CK_OBJECT_HANDLE TokenClient::put_certificate(const Bytes &der, const Bytes &label, const Bytes &id)
{
    CK_OBJECT_HANDLE handle = 0;
    check_rv(create_certificate(functions_, session_, der, label, id, &handle), "C_CreateObject (certificate)");
    return handle;
}

CK_RV create_ec_private_key(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const Bytes &label,
                            const Bytes &id, CK_OBJECT_HANDLE *handle)
{
    // The DER of the P-256 curve OID and a fixed private value.
    unsigned char ec_params[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
    unsigned char value[32];
    for (size_t i = 0; i < sizeof(value); ++i)
        value[i] = static_cast<unsigned char>(i + 1);
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_KEY_TYPE key_type = CKK_EC;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &cls, sizeof(cls)},
        {CKA_KEY_TYPE, &key_type, sizeof(key_type)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_PRIVATE, &yes, sizeof(yes)},
        {CKA_SENSITIVE, &yes, sizeof(yes)},
        {CKA_SIGN, &yes, sizeof(yes)},
        {CKA_EC_PARAMS, ec_params, sizeof(ec_params)},
        {CKA_VALUE, value, sizeof(value)},
        {CKA_LABEL, const_cast<unsigned char *>(label.data()), label.size()},
        {CKA_ID, const_cast<unsigned char *>(id.data()), id.size()},
    };
    *handle = 0;
    CK_RV rv = functions->C_CreateObject(session, tmpl, sizeof(tmpl) / sizeof(tmpl[0]), handle);
    if (rv != CKR_ATTRIBUTE_VALUE_INVALID)
        return rv;
    // A token that keeps only the key types it can use (our GOST token)
    // gets a GOST R 34.10 key on the CryptoPro A curve with the same value.
    unsigned char gost_params[] = {0x06, 0x07, 0x2a, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
    key_type = CKK_GOSTR3410;
    tmpl[6] = {CKA_GOSTR3410_PARAMS, gost_params, sizeof(gost_params)};
    return functions->C_CreateObject(session, tmpl, sizeof(tmpl) / sizeof(tmpl[0]), handle);
}

CK_OBJECT_HANDLE TokenClient::put_private_key(const Bytes &label, const Bytes &id)
{
    CK_OBJECT_HANDLE handle = 0;
    check_rv(create_ec_private_key(functions_, session_, label, id, &handle), "C_CreateObject (private key)");
    return handle;
}

size_t TokenClient::count_certificates()
{
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof(cls)}};
    check_rv(functions_->C_FindObjectsInit(session_, tmpl, 1), "C_FindObjectsInit");
    size_t total = 0;
    for (;;) {
        CK_OBJECT_HANDLE handles[32];
        CK_ULONG found = 0;
        check_rv(functions_->C_FindObjects(session_, handles, 32, &found), "C_FindObjects");
        if (found == 0)
            break;
        total += found;
    }
    functions_->C_FindObjectsFinal(session_);
    return total;
}
