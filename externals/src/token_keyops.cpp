#include "token_keyops.h"

#include "secret_string.h"
#include "token_session.h"

#include <cstring>

namespace {

constexpr std::size_t kParamsMax = 16;  // parameter-set OIDs read from the token
constexpr std::size_t kIdMax = 255;
constexpr std::size_t kValueMax = 128;

CK_BBOOL kTrue = CK_TRUE;
CK_BBOOL kFalse = CK_FALSE;

void take(std::vector<unsigned char> &to, const unsigned char *from, const CK_ATTRIBUTE &attr) {
    to.assign(from, from + (attr.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : attr.ulValueLen));
}

}  // namespace

CK_RV token_read_key_info(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, bool with_value,
                          TokenKeyInfo &info) {
    unsigned char id[kIdMax], p3410[kParamsMax], p3411[kParamsMax], value[kValueMax];
    CK_ATTRIBUTE templ[] = {
        {CKA_ID, id, sizeof id},
        {CKA_GOSTR3410_PARAMS, p3410, sizeof p3410},
        {CKA_GOSTR3411_PARAMS, p3411, sizeof p3411},
        {CKA_KEY_TYPE, &info.key_type, sizeof info.key_type},
        {CKA_VALUE, value, sizeof value},
    };
    CK_RV rv = f->C_GetAttributeValue(session, object, templ, with_value ? 5 : 4);
    // A 512-bit key may leave out its digest parameters.
    if (rv == CKR_ATTRIBUTE_TYPE_INVALID && templ[2].ulValueLen == CK_UNAVAILABLE_INFORMATION &&
        templ[0].ulValueLen != CK_UNAVAILABLE_INFORMATION && templ[1].ulValueLen != CK_UNAVAILABLE_INFORMATION &&
        (!with_value || templ[4].ulValueLen != CK_UNAVAILABLE_INFORMATION))
        rv = CKR_OK;
    if (rv != CKR_OK)
        return rv;
    take(info.id, id, templ[0]);
    take(info.params3410, p3410, templ[1]);
    take(info.params3411, p3411, templ[2]);
    if (with_value)
        take(info.value, value, templ[4]);
    return CKR_OK;
}

CK_RV token_sign(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key,
                 const unsigned char *data, CK_ULONG data_len, unsigned char *out, CK_ULONG *out_len,
                 const char **failed_call) {
    CK_MECHANISM mech{mechanism, nullptr, 0};
    CK_RV rv = f->C_SignInit(session, &mech, key);
    if (rv != CKR_OK) {
        *failed_call = "C_SignInit";
        return rv;
    }
    rv = f->C_Sign(session, const_cast<unsigned char *>(data), data_len, out, out_len);
    if (rv != CKR_OK)
        *failed_call = "C_Sign";
    return rv;
}

CK_RV token_vko_derive(CK_FUNCTION_LIST *f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE priv,
                       const unsigned char *peer_pub, std::size_t peer_pub_len, const unsigned char *ukm,
                       std::size_t ukm_len, const unsigned char *cipher_params, std::size_t cipher_params_len,
                       unsigned char *out, const char **failed_call) {
    *failed_call = nullptr;
    std::vector<unsigned char> pub(peer_pub, peer_pub + peer_pub_len), ukm_copy(ukm, ukm + ukm_len),
        params(cipher_params, cipher_params + cipher_params_len);
    CK_GOSTR3410_DERIVE_PARAMS derive{CKD_NULL, pub.data(), pub.size(), ukm_copy.data(), ukm_copy.size()};
    CK_MECHANISM mech{peer_pub_len == 128 ? CKM_GOSTR3410_12_DERIVE : CKM_GOSTR3410_DERIVE, &derive, sizeof derive};
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_KEY_TYPE type = CKK_GOST28147;
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &cls, sizeof cls},
        {CKA_KEY_TYPE, &type, sizeof type},
        {CKA_TOKEN, &kFalse, sizeof kFalse},
        {CKA_PRIVATE, &kFalse, sizeof kFalse},
        {CKA_ENCRYPT, &kTrue, sizeof kTrue},
        {CKA_DECRYPT, &kTrue, sizeof kTrue},
        {CKA_WRAP, &kTrue, sizeof kTrue},
        {CKA_UNWRAP, &kTrue, sizeof kTrue},
        {CKA_GOST28147_PARAMS, params.data(), params.size()},
        {CKA_EXTRACTABLE, &kTrue, sizeof kTrue},
        {CKA_SENSITIVE, &kFalse, sizeof kFalse},
    };
    TokenObjectGuard agreed(f, session);
    CK_RV rv = f->C_DeriveKey(session, &mech, priv, tmpl, sizeof tmpl / sizeof tmpl[0], agreed.out());
    if (rv != CKR_OK) {
        *failed_call = "C_DeriveKey";
        return rv;
    }
    SecretBytes<kTokenVkoKeyLen> value;
    CK_ATTRIBUTE get{CKA_VALUE, value.data, value.size()};
    rv = f->C_GetAttributeValue(session, agreed.get(), &get, 1);
    if (rv != CKR_OK) {
        *failed_call = "C_GetAttributeValue";
        return rv;
    }
    if (get.ulValueLen != kTokenVkoKeyLen)
        return CKR_KEY_SIZE_RANGE;
    rv = agreed.destroy();
    if (rv != CKR_OK) {
        *failed_call = "C_DestroyObject";
        return rv;
    }
    std::memcpy(out, value.data, kTokenVkoKeyLen);
    return CKR_OK;
}
