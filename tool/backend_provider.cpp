// The token and the GOST algorithms without an engine: the token layer for
// the objects, the provider for the algorithms, in a library context of the
// tool's own made the default one (no configuration file adds to it). The
// lines printed on standard error are the engine's, so that a run prints
// the same whichever build it is.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "gost_objects.h"
#include "gost_params.h"
#include "oid_der.h"
#include "provider.h"
#include "token_backend.h"
#include "token_certificates.h"
#include "token_key_objects.h"
#include "token_login.h"
#include "token_module.h"
#include "token_session.h"

extern "C" int OSSL_provider_init(const OSSL_CORE_HANDLE *handle, const OSSL_DISPATCH *in,
                                  const OSSL_DISPATCH **out, void **provctx);

namespace {

constexpr int kPinBufferSize = 80;
constexpr unsigned int kGostMacKeyLen = 32;

struct TokenState {
    CK_FUNCTION_LIST *f = nullptr;
    CK_SESSION_HANDLE session = 0;
    CK_SLOT_ID slot = 0;
    CK_FLAGS session_flags = 0;
    bool logged_in = false;
} token;

void fail(const char *line) { std::fputs(line, stderr); }

void report_rv(const char *call, CK_RV rv) { std::fprintf(stderr, "%s failed, rc = 0x%x\n", call, static_cast<unsigned>(rv)); }

CK_BBOOL on_token() { return (token.session_flags & CKF_RW_SESSION) ? CK_TRUE : CK_FALSE; }

// A session of its own on the tool's slot, as the object store's calls use.
bool open_own_session(TokenSession &session)
{
    CK_RV rv = session.open(token.f, token.slot, token.session_flags);
    if (rv != CKR_OK)
        report_rv("C_OpenSession", rv);
    return rv == CKR_OK;
}

// The certificate objects carrying `label` (with its zero byte, else
// without), up to max_objects (0: all). False after the failed call's line.
bool find_labelled(CK_SESSION_HANDLE session, const char *label, CK_ULONG max_objects,
                   std::vector<CK_OBJECT_HANDLE> &handles)
{
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_ATTRIBUTE templ[2] = {{CKA_CLASS, &cls, sizeof(cls)}, {}};
    P11FindResult found = p11_find_by_label(token.f, session, templ, 2, label, max_objects);
    handles = std::move(found.handles);
    if (!found.ok())
        report_rv(found.failed_call, found.rv);
    return found.ok();
}

// The GOST public value a certificate carries (the OCTET STRING inside its
// key's bit string), or empty for a key of another algorithm.
std::vector<unsigned char> gost_public_value(X509 *certificate)
{
    ASN1_OBJECT *algorithm = nullptr;
    const unsigned char *bits = nullptr;
    int bits_len = 0;
    X509_PUBKEY *spki = X509_get_X509_PUBKEY(certificate);
    if (spki == nullptr || X509_PUBKEY_get0_param(&algorithm, &bits, &bits_len, nullptr, spki) != 1 ||
        gost_key_alg(OBJ_obj2nid(algorithm)) == nullptr || X509_get0_pubkey(certificate) == nullptr)
        return {};
    ossl::OctetStringPtr value(d2i_ASN1_OCTET_STRING(nullptr, &bits, bits_len));
    if (!value)
        return {};
    const unsigned char *data = ASN1_STRING_get0_data(value.get());
    return std::vector<unsigned char>(data, data + ASN1_STRING_length(value.get()));
}

// A provider key's octet-string parameter.
bool key_octets(EVP_PKEY *key, const char *name, std::vector<unsigned char> &out)
{
    size_t len = 0;
    if (EVP_PKEY_get_octet_string_param(key, name, nullptr, 0, &len) != 1)
        return false;
    out.resize(len);
    return EVP_PKEY_get_octet_string_param(key, name, out.data(), out.size(), &len) == 1;
}

bool store_key(EVP_PKEY *key, bool is_private, const char *label, CK_OBJECT_HANDLE *handle)
{
    const int base_id = EVP_PKEY_get_base_id(key);
    const GostKeyAlg *alg = gost_key_alg_of(key);
    char group[80] = {};
    std::vector<unsigned char> pub, priv;
    if (alg == nullptr || EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof(group), nullptr) != 1 ||
        !key_octets(key, OSSL_PKEY_PARAM_PUB_KEY, pub)) {
        std::fprintf(stderr, "store_object: Illegal pkey_nid %d\n", base_id);
        return false;
    }
    const int param_nid = OBJ_sn2nid(group);
    unsigned char params3410[16], params3411[16];
    CK_ULONG params3410_len = oid_der_from_nid(param_nid, params3410, sizeof(params3410));
    if (params3410_len == 0) {
        std::fprintf(stderr, "store_object: OBJ_nid2obj can't understand param_nid %d\n", param_nid);
        return false;
    }
    const int hash_nid = gost_nid(alg->hash_params);
    CK_ULONG params3411_len = oid_der_from_nid(hash_nid, params3411, sizeof(params3411));
    if (params3411_len == 0) {
        std::fprintf(stderr, "store_object: OBJ_nid2obj can't understand digest_param_nid %d\n", hash_nid);
        return false;
    }
    if (is_private && !key_octets(key, OSSL_PKEY_PARAM_PRIV_KEY, priv)) {
        fail("store_object: private key value not loaded\n");
        return false;
    }
    bool ok = pub.size() == alg->pub_key_len && (!is_private || priv.size() == alg->priv_key_len);
    if (!ok) {
        fail("store_object: key lengths do not match the algorithm\n");
    } else {
        const std::vector<unsigned char> params28147 = oid_der(gost_nid(GostObj::gost28147_param_z));
        unsigned char public_id[20];
        pkcs11_id_gen(pub.data(), static_cast<unsigned>(pub.size()), public_id);
        GostKeyObject object;
        object.is_private = is_private;
        object.key_type = alg->key_type;
        object.on_token = on_token();
        object.params3410 = params3410;
        object.params3410_len = params3410_len;
        object.params3411 = params3411;
        object.params3411_len = params3411_len;
        object.params28147 = params28147.data();
        object.params28147_len = static_cast<CK_ULONG>(params28147.size());
        object.pub_key = pub.data();
        object.pub_key_len = static_cast<CK_ULONG>(pub.size());
        object.priv_key = priv.data();
        object.priv_key_len = static_cast<CK_ULONG>(priv.size());
        object.public_id = public_id;
        object.public_id_len = sizeof(public_id);
        const std::string name = label[0] != '\0' ? label : time_stamped_label(is_private ? "Priv key" : "Pub key");
        CK_OBJECT_HANDLE made = CK_INVALID_HANDLE;
        ok = token_create_gost_key(token.f, token.session, object, name, &made);
        if (ok && handle != nullptr)
            *handle = made;
    }
    OPENSSL_cleanse(priv.data(), priv.size());
    return ok;
}

// The container's authenticated safes as it holds them (OpenSSL gives no
// access to them): its second element, after the version.
ossl::Ptr<PKCS7, PKCS7_free> authenticated_safes(PKCS12 *container)
{
    unsigned char *der = nullptr;
    const int der_len = i2d_PKCS12(container, &der);
    ossl::Ptr<PKCS7, PKCS7_free> safes;
    const unsigned char *p = der;
    long len = 0;
    int tag = 0, cls = 0;
    if (der_len > 0 && !(ASN1_get_object(&p, &len, &tag, &cls, der_len) & 0x80) && tag == V_ASN1_SEQUENCE) {
        const unsigned char *end = p + len;
        ossl::Ptr<ASN1_INTEGER, ASN1_INTEGER_free> version(d2i_ASN1_INTEGER(nullptr, &p, end - p));
        if (version)
            safes.reset(d2i_PKCS7(nullptr, &p, end - p));
    }
    OPENSSL_free(der);
    return safes;
}

// A GOST digest's PKCS#12 MAC: HMAC under the last 32 of 96 bytes PBKDF2
// (with the digest's HMAC) makes of the password. True when the container's
// MAC is so, or when its MAC is not made with a GOST digest (OpenSSL checks
// that one); after a good GOST MAC the container gets an SHA-256 MAC in its
// place, under the same password, salt and count, for PKCS12_parse to check.
bool checked_gost_mac(PKCS12 *container, const char *password)
{
    const ASN1_OCTET_STRING *mac = nullptr;
    const X509_ALGOR *mac_algorithm = nullptr;
    const ASN1_OCTET_STRING *salt = nullptr;
    const ASN1_INTEGER *count = nullptr;
    PKCS12_get0_mac(&mac, &mac_algorithm, &salt, &count, container);
    if (mac == nullptr || mac_algorithm == nullptr)
        return true;
    const ASN1_OBJECT *digest_oid = nullptr;
    X509_ALGOR_get0(&digest_oid, nullptr, nullptr, mac_algorithm);
    const int nid = OBJ_obj2nid(digest_oid);
    if (nid != gost_nid(GostObj::md_gost94) && nid != gost_nid(GostObj::gost3411_2012_256) &&
        nid != gost_nid(GostObj::gost3411_2012_512))
        return true;
    char oid_text[64];
    OBJ_obj2txt(oid_text, sizeof(oid_text), digest_oid, 1);
    ossl::Ptr<EVP_MD, EVP_MD_free> digest(EVP_MD_fetch(nullptr, oid_text, nullptr));
    const int iterations = count != nullptr ? static_cast<int>(ASN1_INTEGER_get(count)) : 1;
    ossl::Ptr<PKCS7, PKCS7_free> safes = authenticated_safes(container);
    const ASN1_OCTET_STRING *data = safes && PKCS7_type_is_data(safes.get()) ? safes->d.data : nullptr;
    if (!digest || salt == nullptr || data == nullptr || iterations < 1)
        return false;
    unsigned char derived[96], computed[EVP_MAX_MD_SIZE];
    unsigned int computed_len = 0;
    bool ok = PKCS5_PBKDF2_HMAC(password, static_cast<int>(std::strlen(password)), ASN1_STRING_get0_data(salt),
                                ASN1_STRING_length(salt), iterations, digest.get(), sizeof(derived), derived) == 1 &&
              HMAC(digest.get(), derived + sizeof(derived) - kGostMacKeyLen, kGostMacKeyLen,
                   ASN1_STRING_get0_data(data), static_cast<size_t>(ASN1_STRING_length(data)), computed,
                   &computed_len) != nullptr &&
              static_cast<int>(computed_len) == ASN1_STRING_length(mac) &&
              CRYPTO_memcmp(computed, ASN1_STRING_get0_data(mac), computed_len) == 0;
    OPENSSL_cleanse(derived, sizeof(derived));
    if (!ok)
        return false;
    std::vector<unsigned char> salt_copy(ASN1_STRING_get0_data(salt), ASN1_STRING_get0_data(salt) + ASN1_STRING_length(salt));
    return PKCS12_set_mac(container, password, -1, salt_copy.data(), static_cast<int>(salt_copy.size()), iterations,
                          EVP_sha256()) == 1;
}

}  // namespace

namespace backend {

const char *gost_algorithms() { return "provider " ZK_PROVIDER_NAME " (engine-free build)"; }

bool bind()
{
    OSSL_LIB_CTX *context = OSSL_LIB_CTX_new();
    if (context == nullptr || OSSL_PROVIDER_add_builtin(context, ZK_PROVIDER_NAME, OSSL_provider_init) != 1 ||
        OSSL_PROVIDER_load(context, "default") == nullptr ||
        OSSL_PROVIDER_load(context, ZK_PROVIDER_NAME) == nullptr) {
        OSSL_LIB_CTX_free(context);
        return false;
    }
    OSSL_LIB_CTX_set0_default(context);
    return true;
}

bool attach_module(CK_FUNCTION_LIST_PTR functions)
{
    token.f = functions;
    if (functions == nullptr) {
        fail("NULL function list pointer\n");
        return false;
    }
    if (!token_module_initialize(functions)) {
        fail("C_Initialize failed (check PKCS#11 library path or function list pointer).\n");
        return false;
    }
    CK_ULONG count = 0;
    if (functions->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK) {
        fail("C_GetSlotList failed\n");
        return false;
    }
    return true;
}

bool use_session(CK_SESSION_HANDLE session)
{
    token.session = session;
    if (session == 0) {
        fail("set session failed\n");
        return false;
    }
    if (token.f == nullptr) {
        fail("PKCS11_CTRL_SET_SESSION: api not attached\n");
        return false;
    }
    CK_SESSION_INFO info{};
    CK_RV rv = token.f->C_GetSessionInfo(session, &info);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_GetSessionInfo failed for session 0x%lx, rc = 0x%lx\n", session, rv);
        return false;
    }
    token.slot = info.slotID;
    token.session_flags = info.flags;
    return true;
}

bool open_store() { return true; }

bool login(const char *pin)
{
    CK_RV rv = CKR_OK;
    switch (token_user_pin_verdict(token.f, token.slot, false, &rv)) {
    case TokenPinVerdict::info_failed:
        std::fprintf(stderr, "C_GetTokenInfo failed, rc = 0x%lx\n", rv);
        return false;
    case TokenPinVerdict::locked:
        fail("LOGIN: the token's user PIN is locked\n");
        return false;
    case TokenPinVerdict::final_try:
    case TokenPinVerdict::may_try:
        break;
    }
    char buffer[kPinBufferSize + 1] = {};
    if (pin == nullptr || *pin == '\0') {
        // An empty PIN is asked for once more, as the engine does.
        if (EVP_read_pw_string(buffer, kPinBufferSize, "Enter PIN:", 1) != 0) {
            OPENSSL_cleanse(buffer, sizeof(buffer));
            fail("PIN callback cancelled\n");
            return false;
        }
        if (buffer[0] == '\0') {
            fail("Null PIN length\n");
            return false;
        }
        pin = buffer;
    }
    rv = token_user_login(token.f, token.session, pin, std::strlen(pin));
    OPENSSL_cleanse(buffer, sizeof(buffer));
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_Login failed, rc = 0x%lx\n", rv);
        fail("login failed\n");
        return false;
    }
    token.logged_in = true;
    return true;
}

void logout()
{
    if (!token.logged_in) {
        fail("User not logged in\n");
        return;
    }
    CK_RV rv = token.f->C_Logout(token.session);
    if (rv != CKR_OK) {
        std::fprintf(stderr, "C_Logout failed, rc = 0x%lx\n", rv);
        fail("logout failed\n");
        return;
    }
    token.logged_in = false;
}

bool store_certificate(X509 *certificate, const char *label, CK_OBJECT_HANDLE *handle)
{
    const std::vector<unsigned char> gost_pub = gost_public_value(certificate);
    const ASN1_BIT_STRING *bits = X509_get0_pubkey_bitstr(certificate);
    unsigned char default_id[20];
    if (gost_pub.empty() && bits == nullptr) {
        fail("store_object: certificate has no usable public key\n");
        return false;
    }
    if (!gost_pub.empty())
        pkcs11_id_gen(gost_pub.data(), static_cast<unsigned>(gost_pub.size()), default_id);
    else
        SHA1(ASN1_STRING_get0_data(bits), static_cast<size_t>(ASN1_STRING_length(bits)), default_id);
    CertificateObjectId id;
    {
        TokenSession session;
        if (!open_own_session(session) ||
            !token_certificate_id(token.f, session.handle(), certificate, default_id,
                                  gost_pub.empty() ? nullptr : gost_pub.data(),
                                  static_cast<CK_ULONG>(gost_pub.size()), id))
            return false;
    }
    const std::string name = label[0] != '\0' ? label : time_stamped_label("Cert");
    CK_OBJECT_HANDLE made = CK_INVALID_HANDLE;
    if (!token_create_certificate(token.f, token.session, on_token(), certificate, id, name, &made))
        return false;
    if (handle != nullptr)
        *handle = made;
    return true;
}

bool store_private_key(EVP_PKEY *key, const char *label, CK_OBJECT_HANDLE *handle)
{
    return store_key(key, true, label, handle);
}

bool store_public_key(EVP_PKEY *key, const char *label, CK_OBJECT_HANDLE *handle)
{
    return store_key(key, false, label, handle);
}

ossl::X509Ptr get_certificate(const char *label)
{
    TokenSession session;
    std::vector<CK_OBJECT_HANDLE> handles;
    if (!open_own_session(session) || !find_labelled(session.handle(), label, 1, handles) || handles.empty())
        return nullptr;
    return ossl::X509Ptr(
        p11_read_certificate(token.f, session.handle(), handles[0], "C_GetAttributeValue failed, rc = 0x%x\n"));
}

bool delete_certificate(const char *label)
{
    TokenSession session;
    std::vector<CK_OBJECT_HANDLE> handles;
    if (!open_own_session(session) || !find_labelled(session.handle(), label, 0, handles))
        return false;
    for (CK_OBJECT_HANDLE object : handles) {
        CK_RV rv = token.f->C_DestroyObject(session.handle(), object);
        if (rv != CKR_OK) {
            report_rv("C_DestroyObject", rv);
            return false;
        }
    }
    return true;
}

void print_certificate(BIO *out, X509 *certificate) { X509_print(out, certificate); }

bool parse_pkcs12(PKCS12 *container, const char *password, EVP_PKEY **key, X509 **certificate,
                  STACK_OF(X509) **others)
{
    return checked_gost_mac(container, password) && PKCS12_parse(container, password, key, certificate, others) != 0;
}

}  // namespace backend
