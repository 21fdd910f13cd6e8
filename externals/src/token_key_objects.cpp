#include "token_key_objects.h"

#include <openssl/asn1.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>
#include <ctime>

int pkcs11_id_gen(const unsigned char *pub_key, unsigned int len, unsigned char id[20])
{
    if (pub_key == nullptr || id == nullptr || len > 255)
        return 0;
    // DER OCTET STRING: short length form below 128 bytes, one length octet above.
    unsigned char header[3] = {V_ASN1_OCTET_STRING, 0, 0};
    std::size_t header_len = 2;
    if (len < 128) {
        header[1] = static_cast<unsigned char>(len);
    } else {
        header[1] = 0x81;
        header[2] = static_cast<unsigned char>(len);
        header_len = 3;
    }
    unsigned char der[3 + 255];
    std::memcpy(der, header, header_len);
    std::memcpy(der + header_len, pub_key, len);
    SHA1(der, header_len + len, id);
    return 1;
}

std::string time_stamped_label(const char *prefix)
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[64];  // 28 characters for any real date
    std::snprintf(buf, sizeof(buf), "%s %.2d/%.2d/%.4d %.2d:%.2d:%.2d", prefix, local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return buf;
}

bool token_create_gost_key(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, const GostKeyObject &key,
                           const std::string &label, CK_OBJECT_HANDLE *object)
{
    CK_OBJECT_CLASS cls = key.is_private ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
    CK_KEY_TYPE key_type = key.key_type;
    CK_BBOOL token = key.on_token, yes = CK_TRUE, no = CK_FALSE;
    CK_BBOOL extractable = key.extractable ? CK_TRUE : CK_FALSE;
    CK_BBOOL sensitive = key.sensitive ? CK_TRUE : CK_FALSE;
    unsigned char id[20];
    auto bytes = [](const unsigned char *p) { return const_cast<unsigned char *>(p); };
    CK_ATTRIBUTE templ[15];
    CK_ULONG n = 0;
    templ[n++] = {CKA_CLASS, &cls, sizeof(cls)};
    templ[n++] = {CKA_KEY_TYPE, &key_type, sizeof(key_type)};
    templ[n++] = {CKA_TOKEN, &token, sizeof(token)};
    if (key.is_private) {
        if (!pkcs11_id_gen(key.pub_key, static_cast<unsigned>(key.pub_key_len), id)) {
            std::fprintf(stderr, "store_object: pkcs11_id_gen failed\n");
            return false;
        }
        templ[n++] = {CKA_PRIVATE, &yes, sizeof(yes)};
        templ[n++] = {CKA_SIGN, &yes, sizeof(yes)};
        templ[n++] = {CKA_DERIVE, &yes, sizeof(yes)};
        templ[n++] = {CKA_DECRYPT, &yes, sizeof(yes)};
    } else {
        templ[n++] = {CKA_PRIVATE, &no, sizeof(no)};
        templ[n++] = {CKA_ENCRYPT, &yes, sizeof(yes)};
        templ[n++] = {CKA_VERIFY, &yes, sizeof(yes)};
    }
    templ[n++] = {CKA_GOSTR3410_PARAMS, bytes(key.params3410), key.params3410_len};
    templ[n++] = {CKA_GOSTR3411_PARAMS, bytes(key.params3411), key.params3411_len};
    templ[n++] = {CKA_GOST28147_PARAMS, bytes(key.params28147), key.params28147_len};
    templ[n++] = {CKA_LABEL, const_cast<char *>(label.data()), static_cast<CK_ULONG>(label.size() + 1)};
    if (key.is_private) {
        templ[n++] = {CKA_ID, id, sizeof(id)};
        templ[n++] = {CKA_VALUE, bytes(key.priv_key), key.priv_key_len};
        if (key.extractable != -1)
            templ[n++] = {CKA_EXTRACTABLE, &extractable, sizeof(extractable)};
        if (key.sensitive != -1)
            templ[n++] = {CKA_SENSITIVE, &sensitive, sizeof(sensitive)};
    } else {
        templ[n++] = {CKA_ID, bytes(key.public_id), key.public_id_len};
        templ[n++] = {CKA_VALUE, bytes(key.pub_key), key.pub_key_len};
    }
    CK_RV rv = f->C_CreateObject(session, templ, n, object);
    if (rv != CKR_OK) {
        std::fprintf(stderr, key.is_private ? "store_object: C_CreateObject failed rc = 0x%x\n"
                                            : "C_CreateObject failed, rc = 0x%x\n",
                     static_cast<unsigned>(rv));
        return false;
    }
    return true;
}
