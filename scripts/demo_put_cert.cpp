// Puts a DER certificate, and optionally its EC private key, on a PKCS#11
// token, for the demonstration:
//   demo_put_cert <module> <slot> <user PIN> <certificate.der> <label> <hex ID> [key.der]
// The label is stored with its terminating zero byte, as tokencert stores labels.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>

static int fail(const char *what, CK_RV rv = 0)
{
    std::fprintf(stderr, "demo_put_cert: %s failed (0x%lx)\n", what, static_cast<unsigned long>(rv));
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 7 && argc != 8) {
        std::fprintf(stderr, "usage: %s <module> <slot> <PIN> <cert.der> <label> <hex ID> [key.der]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[4], std::ios::binary);
    std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const unsigned char *p = der.data();
    X509 *cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (cert == nullptr)
        return fail("reading the certificate");
    unsigned char *subject = nullptr;
    int subject_len = i2d_X509_NAME(X509_get_subject_name(cert), &subject);
    std::vector<unsigned char> id;
    for (const char *h = argv[6]; h[0] && h[1]; h += 2)
        id.push_back(static_cast<unsigned char>(std::strtoul(std::string(h, 2).c_str(), nullptr, 16)));
    std::string label(argv[5]);

    void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return fail("loading the module");
    auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST *f = nullptr;
    if (get_list == nullptr || get_list(&f) != CKR_OK || f == nullptr)
        return fail("C_GetFunctionList");
    CK_RV rv = f->C_Initialize(nullptr);
    if (rv != CKR_OK)
        return fail("C_Initialize", rv);
    CK_SESSION_HANDLE session = 0;
    rv = f->C_OpenSession(std::strtoul(argv[2], nullptr, 10), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                          nullptr, &session);
    if (rv != CKR_OK)
        return fail("C_OpenSession", rv);
    rv = f->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(argv[3]), std::strlen(argv[3]));
    if (rv != CKR_OK)
        return fail("C_Login", rv);
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &cls, sizeof(cls)},
        {CKA_CERTIFICATE_TYPE, &type, sizeof(type)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_SUBJECT, subject, static_cast<CK_ULONG>(subject_len)},
        {CKA_VALUE, der.data(), der.size()},
        {CKA_LABEL, label.data(), label.size() + 1},
        {CKA_ID, id.data(), id.size()},
    };
    CK_OBJECT_HANDLE handle = 0;
    rv = f->C_CreateObject(session, tmpl, sizeof(tmpl) / sizeof(tmpl[0]), &handle);
    if (rv != CKR_OK)
        return fail("C_CreateObject", rv);
    if (argc == 8) {
        std::ifstream key_in(argv[7], std::ios::binary);
        std::vector<unsigned char> key_der((std::istreambuf_iterator<char>(key_in)), std::istreambuf_iterator<char>());
        const unsigned char *kp = key_der.data();
        EVP_PKEY *key = d2i_AutoPrivateKey(nullptr, &kp, static_cast<long>(key_der.size()));
        BIGNUM *priv = nullptr;
        if (key == nullptr || !EVP_PKEY_get_bn_param(key, "priv", &priv))
            return fail("reading the private key");
        std::vector<unsigned char> value(static_cast<size_t>(BN_num_bytes(priv)));
        BN_bn2bin(priv, value.data());
        // DER of the curve's OID, as CKA_EC_PARAMS wants it.
        char curve[80] = {0};
        EVP_PKEY_get_utf8_string_param(key, "group", curve, sizeof(curve), nullptr);
        ASN1_OBJECT *oid = OBJ_txt2obj(curve, 0);
        unsigned char *params = nullptr;
        int params_len = oid ? i2d_ASN1_OBJECT(oid, &params) : -1;
        if (params_len <= 0)
            return fail("encoding the curve");
        CK_OBJECT_CLASS key_class = CKO_PRIVATE_KEY;
        CK_KEY_TYPE key_type = CKK_EC;
        CK_ATTRIBUTE key_tmpl[] = {
            {CKA_CLASS, &key_class, sizeof(key_class)},
            {CKA_KEY_TYPE, &key_type, sizeof(key_type)},
            {CKA_TOKEN, &yes, sizeof(yes)},
            {CKA_PRIVATE, &yes, sizeof(yes)},
            {CKA_SENSITIVE, &yes, sizeof(yes)},
            {CKA_SIGN, &yes, sizeof(yes)},
            {CKA_EC_PARAMS, params, static_cast<CK_ULONG>(params_len)},
            {CKA_VALUE, value.data(), value.size()},
            {CKA_LABEL, label.data(), label.size() + 1},
            {CKA_ID, id.data(), id.size()},
        };
        rv = f->C_CreateObject(session, key_tmpl, sizeof(key_tmpl) / sizeof(key_tmpl[0]), &handle);
        OPENSSL_cleanse(value.data(), value.size());
        OPENSSL_cleanse(key_der.data(), key_der.size());
        OPENSSL_free(params);
        ASN1_OBJECT_free(oid);
        BN_clear_free(priv);
        EVP_PKEY_free(key);
        if (rv != CKR_OK)
            return fail("C_CreateObject (private key)", rv);
    }
    f->C_Logout(session);
    f->C_CloseSession(session);
    f->C_Finalize(nullptr);
    OPENSSL_free(subject);
    X509_free(cert);
    return 0;
}
