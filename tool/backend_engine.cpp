#define OPENSSL_SUPPRESS_DEPRECATED  // the ENGINE API

#include <string>

#include <openssl/engine.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "pkcs11_core_eng.h"
#include "store.h"
#include "token_backend.h"

namespace {

ENGINE *token_engine = nullptr;
STORE *token_store = nullptr;

// The attribute list of a store call: the label (its size counting the zero).
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

// The parameter list that asks the store for the handle it made; none
// without a handle to fill.
class HandleParameters {
public:
    explicit HandleParameters(CK_OBJECT_HANDLE *handle)
        : items_{{STORE_PARAM_OBJECT_HANDLE, handle, sizeof(*handle), nullptr}, {STORE_ATTR_END, nullptr, 0, nullptr}},
          wanted_(handle != nullptr)
    {
    }
    OPENSSL_ITEM *items() { return wanted_ ? items_ : nullptr; }

private:
    OPENSSL_ITEM items_[2];
    bool wanted_;
};

}  // namespace

namespace backend {

const char *gost_algorithms() { return "engine " ZK_P11_ENGINE_ID; }

bool bind()
{
    ENGINE_load_zk_p11_core();
    token_engine = ENGINE_by_id(ZK_P11_ENGINE_ID);
    return token_engine != nullptr;
}

bool attach_module(CK_FUNCTION_LIST_PTR functions)
{
    // The engine takes the command's argument as the function-list pointer.
    return ENGINE_ctrl_cmd_string(token_engine, "ATTACH_API_FUNCS", reinterpret_cast<const char *>(functions), 0) != 0;
}

bool use_session(CK_SESSION_HANDLE session)
{
    return ENGINE_ctrl_cmd(token_engine, "SET_SESSION", static_cast<long>(session), nullptr, nullptr, 0) != 0;
}

bool open_store()
{
    token_store = STORE_new_engine(token_engine);
    return token_store != nullptr;
}

bool login(const char *pin) { return ENGINE_ctrl_cmd_string(token_engine, "LOGIN", pin, 0) != 0; }

void logout() { ENGINE_ctrl_cmd(token_engine, "LOGOUT", 0, nullptr, nullptr, 0); }

bool store_certificate(X509 *certificate, const char *label, CK_OBJECT_HANDLE *handle)
{
    LabelAttributes attributes(label);
    HandleParameters parameters(handle);
    return STORE_store_certificate(token_store, certificate, attributes.items(), parameters.items()) != 0;
}

bool store_private_key(EVP_PKEY *key, const char *label, CK_OBJECT_HANDLE *handle)
{
    LabelAttributes attributes(label);
    HandleParameters parameters(handle);
    return STORE_store_private_key(token_store, key, attributes.items(), parameters.items()) != 0;
}

bool store_public_key(EVP_PKEY *key, const char *label, CK_OBJECT_HANDLE *handle)
{
    LabelAttributes attributes(label);
    HandleParameters parameters(handle);
    return STORE_store_public_key(token_store, key, attributes.items(), parameters.items()) != 0;
}

ossl::X509Ptr get_certificate(const char *label)
{
    LabelAttributes attributes(label);
    return ossl::X509Ptr(STORE_get_certificate(token_store, attributes.items(), nullptr));
}

bool delete_certificate(const char *label)
{
    LabelAttributes attributes(label);
    return STORE_delete_certificate(token_store, attributes.items(), nullptr) != 0;
}

void print_certificate(BIO *out, X509 *certificate) { X509_print(out, certificate); }

bool parse_pkcs12(PKCS12 *container, const char *password, EVP_PKEY **key, X509 **certificate,
                  STACK_OF(X509) **others)
{
    return PKCS12_parse(container, password, key, certificate, others) != 0;
}

}  // namespace backend
