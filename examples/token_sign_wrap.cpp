// A program using a GOST key that never leaves the token, through OpenSSL and
// the token engine: it signs a certificate with the token's private key,
// verifies it with the public key read back from the token, and wraps a
// content key for the key pair (GostR3410-KeyTransport) and unwraps it again
// on the token.
//
//   token_sign_wrap <PKCS#11 module> <slot> <key label>     (user PIN on stdin)
#define OPENSSL_SUPPRESS_DEPRECATED  // ENGINE
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <p11-kit/pkcs11.h>

#include "pkcs11_core_eng.h"  // ENGINE_load_zk_p11_core, ZK_P11_ENGINE_ID

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "token_sign_wrap: %s\n", what);
    return 1;
}

// The module, loaded and initialised by the program itself.
CK_FUNCTION_LIST *load_module(const char *path)
{
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    auto get_list = library ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList")) : nullptr;
    CK_FUNCTION_LIST *f = nullptr;
    if (!get_list || get_list(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK)
        return nullptr;
    return f;
}

// A certificate for `subject_key`, signed by `signer` with its default digest.
X509 *sign_certificate(EVP_PKEY *subject_key, EVP_PKEY *signer)
{
    X509 *cert = X509_new();
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("signed on the token"),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 2);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, subject_key);
    if (X509_sign(cert, signer, nullptr) <= 0) {  // nullptr: the key's default digest
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <PKCS#11 module> <slot> <key label>   (user PIN on stdin)\n", argv[0]);
        return 2;
    }
    std::string pin;
    std::getline(std::cin, pin);

    // 1. The engine, given the module and a session of ours.
    ENGINE_load_zk_p11_core();
    ENGINE *e = ENGINE_by_id(ZK_P11_ENGINE_ID);
    CK_FUNCTION_LIST *f = load_module(argv[1]);
    CK_SESSION_HANDLE session = 0;
    if (!e || !ENGINE_init(e) || !f || f->C_OpenSession(std::strtoul(argv[2], nullptr, 10), CKF_SERIAL_SESSION | CKF_RW_SESSION,
                                     nullptr, nullptr, &session) != CKR_OK)
        return fail("cannot open the token");
    if (!ENGINE_ctrl_cmd_string(e, "ATTACH_API_FUNCS", reinterpret_cast<const char *>(f), 0) ||
        !ENGINE_ctrl_cmd(e, "SET_SESSION", static_cast<long>(session), nullptr, nullptr, 0) ||
        !ENGINE_ctrl_cmd_string(e, "LOGIN", pin.c_str(), 0))
        return fail("the engine refused the module, the session or the PIN");
    OPENSSL_cleanse(&pin[0], pin.size());

    // 2. The key pair by label: the private key stays on the token.
    EVP_PKEY *priv = ENGINE_load_private_key(e, argv[3], nullptr, nullptr);
    EVP_PKEY *pub = ENGINE_load_public_key(e, argv[3], nullptr, nullptr);
    if (!priv || !pub)
        return fail("no key pair with that label");

    // 3. A certificate signed by the token, verified with the public key.
    X509 *cert = sign_certificate(pub, priv);
    if (!cert)
        return fail("signing failed");
    std::printf("certificate signed on the token with %s: verify %s\n",
                OBJ_nid2ln(X509_get_signature_nid(cert)), X509_verify(cert, pub) == 1 ? "OK" : "FAILED");

    // 4. A content key wrapped for the key pair, and unwrapped by the token.
    unsigned char content_key[32], transport[512], unwrapped[32];
    size_t transport_len = sizeof(transport), unwrapped_len = sizeof(unwrapped);
    RAND_bytes(content_key, sizeof(content_key));
    EVP_PKEY_CTX *wrap = EVP_PKEY_CTX_new(pub, nullptr), *unwrap = EVP_PKEY_CTX_new(priv, nullptr);
    if (!wrap || EVP_PKEY_encrypt_init(wrap) != 1 ||
        EVP_PKEY_encrypt(wrap, transport, &transport_len, content_key, sizeof(content_key)) != 1)
        return fail("wrapping failed");
    if (!unwrap || EVP_PKEY_decrypt_init(unwrap) != 1 ||
        EVP_PKEY_decrypt(unwrap, unwrapped, &unwrapped_len, transport, transport_len) != 1)
        return fail("unwrapping failed");
    std::printf("content key wrapped for the key pair (%zu-byte GostR3410-KeyTransport), unwrapped on the token: %s\n",
                transport_len,
                unwrapped_len == sizeof(content_key) && std::memcmp(unwrapped, content_key, 32) == 0 ? "same key"
                                                                                                    : "DIFFERENT");
    OPENSSL_cleanse(content_key, sizeof(content_key));
    OPENSSL_cleanse(unwrapped, sizeof(unwrapped));

    EVP_PKEY_CTX_free(wrap);
    EVP_PKEY_CTX_free(unwrap);
    X509_free(cert);
    EVP_PKEY_free(priv);
    EVP_PKEY_free(pub);
    ENGINE_ctrl_cmd(e, "LOGOUT", 0, nullptr, nullptr, 0);
    ENGINE_finish(e);
    ENGINE_free(e);
    return 0;
}
