// The entry point of the zk_p11_core_2012 provider: start-up (GOST object
// identifiers, the openssl.cnf parameters), the provider's own parameters and
// the table of operations. Each operation lives in a file of its own.
#include <openssl/core_names.h>
#include <openssl/params.h>

#include <cstring>
#include <new>

#include "gost_objects.h"
#include "provider.h"

namespace {

const OSSL_PARAM *gettable_params(void *)
{
    static const OSSL_PARAM kParams[] = {
        OSSL_PARAM_utf8_ptr(OSSL_PROV_PARAM_NAME, nullptr, 0),
        OSSL_PARAM_utf8_ptr(OSSL_PROV_PARAM_VERSION, nullptr, 0),
        OSSL_PARAM_utf8_ptr(OSSL_PROV_PARAM_BUILDINFO, nullptr, 0),
        OSSL_PARAM_int(OSSL_PROV_PARAM_STATUS, nullptr),
        OSSL_PARAM_utf8_ptr(ZK_PROV_PARAM_PKCS11_MODULE_PATH, nullptr, 0),
        OSSL_PARAM_END,
    };
    return kParams;
}

// The configured PKCS#11 module is shown (where the PIN comes from is not).
int get_params(void *provctx, OSSL_PARAM params[])
{
    OSSL_PARAM *p = OSSL_PARAM_locate(params, OSSL_PROV_PARAM_NAME);
    if (p && !OSSL_PARAM_set_utf8_ptr(p, "GOST algorithms and PKCS#11 tokens (" ZK_PROVIDER_NAME ")"))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PROV_PARAM_VERSION);
    if (p && !OSSL_PARAM_set_utf8_ptr(p, "0.1"))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PROV_PARAM_BUILDINFO);
    if (p && !OSSL_PARAM_set_utf8_ptr(p, "tokencert 0.1"))
        return 0;
    p = OSSL_PARAM_locate(params, ZK_PROV_PARAM_PKCS11_MODULE_PATH);
    if (p && !OSSL_PARAM_set_utf8_ptr(p, static_cast<const ProvCtx *>(provctx)->pkcs11_module_path.c_str()))
        return 0;
    p = OSSL_PARAM_locate(params, OSSL_PROV_PARAM_STATUS);
    return p == nullptr || OSSL_PARAM_set_int(p, 1);
}

const OSSL_ALGORITHM *query_operation(void *, int operation_id, int *no_cache)
{
    *no_cache = 0;
    switch (operation_id) {
    case OSSL_OP_DIGEST:
        return zk_digests;
    case OSSL_OP_CIPHER:
        return zk_ciphers;
    case OSSL_OP_MAC:
        return zk_macs;
    case OSSL_OP_KEYMGMT:
        return zk_keymgmt;
    case OSSL_OP_SIGNATURE:
        return zk_signatures;
    case OSSL_OP_KEYEXCH:
        return zk_keyexch;
    case OSSL_OP_ASYM_CIPHER:
        return zk_asym_ciphers;
    case OSSL_OP_ENCODER:
        return zk_encoders;
    case OSSL_OP_DECODER:
        return zk_decoders;
    case OSSL_OP_STORE:
        return zk_stores;
    default:
        return nullptr;
    }
}

const OSSL_ITEM *get_reason_strings(void *) { return zk_reason_strings(); }

void teardown(void *provctx)
{
    auto *prov = static_cast<ProvCtx *>(provctx);
    if (prov != nullptr)
        OSSL_LIB_CTX_free(prov->libctx);
    delete prov;
}

const OSSL_DISPATCH kProviderFunctions[] = {
    {OSSL_FUNC_PROVIDER_TEARDOWN, reinterpret_cast<void (*)(void)>(teardown)},
    {OSSL_FUNC_PROVIDER_GETTABLE_PARAMS, reinterpret_cast<void (*)(void)>(gettable_params)},
    {OSSL_FUNC_PROVIDER_GET_PARAMS, reinterpret_cast<void (*)(void)>(get_params)},
    {OSSL_FUNC_PROVIDER_QUERY_OPERATION, reinterpret_cast<void (*)(void)>(query_operation)},
    {OSSL_FUNC_PROVIDER_GET_REASON_STRINGS, reinterpret_cast<void (*)(void)>(get_reason_strings)},
    {0, nullptr},
};

// The configuration parameters of the provider's section; both optional
// here (the store loader refuses pkcs11: URIs without a module).
bool read_configuration(ProvCtx &prov, OSSL_FUNC_core_get_params_fn *core_get_params)
{
    if (core_get_params == nullptr)
        return true;
    char *module_path = nullptr, *pin_source = nullptr;
    OSSL_PARAM request[] = {
        OSSL_PARAM_utf8_ptr(ZK_PROV_PARAM_PKCS11_MODULE_PATH, &module_path, 0),
        OSSL_PARAM_utf8_ptr(ZK_PROV_PARAM_PKCS11_PIN_SOURCE, &pin_source, 0),
        OSSL_PARAM_END,
    };
    if (!core_get_params(prov.handle, request))
        return false;
    if (module_path)
        prov.pkcs11_module_path = module_path;
    if (pin_source)
        prov.pkcs11_pin_source.assign(pin_source, std::strlen(pin_source));
    return true;
}

}  // namespace

extern "C" int OSSL_provider_init(const OSSL_CORE_HANDLE *handle, const OSSL_DISPATCH *in,
                                  const OSSL_DISPATCH **out, void **provctx)
{
    auto *prov = new (std::nothrow) ProvCtx;
    if (prov == nullptr)
        return 0;
    prov->handle = handle;
    OSSL_FUNC_core_get_params_fn *core_get_params = nullptr;
    for (const OSSL_DISPATCH *fn = in; fn->function_id != 0; ++fn) {
        switch (fn->function_id) {
        case OSSL_FUNC_CORE_GET_PARAMS:
            core_get_params = OSSL_FUNC_core_get_params(fn);
            break;
        case OSSL_FUNC_CORE_NEW_ERROR:
            prov->new_error = OSSL_FUNC_core_new_error(fn);
            break;
        case OSSL_FUNC_CORE_SET_ERROR_DEBUG:
            prov->set_error_debug = OSSL_FUNC_core_set_error_debug(fn);
            break;
        case OSSL_FUNC_CORE_VSET_ERROR:
            prov->vset_error = OSSL_FUNC_core_vset_error(fn);
            break;
        default:
            break;
        }
    }
    // The GOST objects OpenSSL lacks are created now, never aliased.
    prov->libctx = OSSL_LIB_CTX_new_child(handle, in);
    if (prov->libctx == nullptr || !gost_objects_init() || !read_configuration(*prov, core_get_params)) {
        teardown(prov);
        return 0;
    }
    *out = kProviderFunctions;
    *provctx = prov;
    return 1;
}
