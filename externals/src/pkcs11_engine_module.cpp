// The token engine as a loadable OpenSSL engine module (zk_p11_core_2012.so):
// the entry points OpenSSL's dynamic engine looks for, bind_engine and
// v_check. The engine itself is the same code that tokencert links
// statically; this file only hands it to OpenSSL.
#define OPENSSL_SUPPRESS_DEPRECATED  // the ENGINE API
#include "pkcs11_core_eng.h"

#include <openssl/engine.h>

namespace {

// OpenSSL's configuration module and "-engine /path/to/module.so" bind
// without an identifier: the module then serves under the engine's own
// identifier (not the bind step's built-in default).
int bind_module(ENGINE *e, const char *id) { return bind_zk_p11_core(id ? id : ZK_P11_ENGINE_ID, e); }

}  // namespace

extern "C" {
IMPLEMENT_DYNAMIC_CHECK_FN()
IMPLEMENT_DYNAMIC_BIND_FN(bind_module)
}
