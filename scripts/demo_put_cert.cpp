// Puts a DER certificate on a PKCS#11 token, for the demonstration:
//   demo_put_cert <module> <slot> <user PIN> <certificate.der> <label> <hex ID>
// The label is stored with its terminating zero byte, as tokencert stores labels.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>

static int fail(const char *what, CK_RV rv = 0)
{
    std::fprintf(stderr, "demo_put_cert: %s failed (0x%lx)\n", what, static_cast<unsigned long>(rv));
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s <module> <slot> <PIN> <cert.der> <label> <hex ID>\n", argv[0]);
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
    f->C_Logout(session);
    f->C_CloseSession(session);
    f->C_Finalize(nullptr);
    OPENSSL_free(subject);
    X509_free(cert);
    return 0;
}
