// The token engine's control commands: attaching the module, sessions,
// login, and the settings kept in the engine context.
#define OPENSSL_SUPPRESS_DEPRECATED  // the ENGINE API
#include "pkcs11_ctrl.h"

#include "gost28147_paramset.h"
#include "p11_engine_session.h"
#include "pkcs11_login_on_use.h"
#include "token_login.h"
#include "token_module.h"

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const ENGINE_CMD_DEFN kCommands[] = {
    {PKCS11_CTRL_ATTACH_API, "ATTACH_API", "Attach to PKCS#11 API library", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_OPEN_SESSION, "OPEN_SESSION", "Open session for given slot ID", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_CLOSE_SESSION, "CLOSE_SESSION", "Close current session", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_LOGIN, "LOGIN", "Set PIN for current session", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_LOGOUT, "LOGOUT", "Logout for current session", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_PARAMS_GOST28147, "PARAMS_GOST28147", "GOST 28147 CryptoPro param set", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_DEFAULT_TOKEN_PATH, "DEFAULT_TOKEN_PATH", "Set default token path", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_DEFAULT_TOKEN_SERIAL, "DEFAULT_TOKEN_SERIAL", "Set default token serial", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_ENGINE_ID, "ENGINE_ID", "Set ENGINE ID", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_LABEL_INDEX_PATH, "LABEL_INDEX_PATH", "Keypair label index file path", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_PRIVATE_KEY_EXTRACTABLE, "PRIVATE_KEY_EXTRACTABLE", "Private key CKA_EXTRACTABLE attribute",
     ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_PRIVATE_KEY_SENSITIVE, "PRIVATE_KEY_SENSITIVE", "Private key CKA_SENSITIVE attribute",
     ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_SET_SESSION, "SET_SESSION", "Set already opened session", ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_ATTACH_API_FUNCS, "ATTACH_API_FUNCS", "Attach to PKCS#11 API library function list",
     ENGINE_CMD_FLAG_STRING},
    {PKCS11_CTRL_LOGIN_ON_USE, "LOGIN_ON_USE", "Set PIN to log in with when a token key is first used",
     ENGINE_CMD_FLAG_STRING},
    {0, nullptr, nullptr, 0},
};

// Size of the buffer a PIN callback fills (one more byte is kept as a
// guard, since some readers terminate a full buffer one byte past its end).
constexpr int kPinBufferSize = 80;

int fail(const char *message) {
    fputs(message, stderr);
    return 0;
}

// C_Initialize with OS locking, then without arguments; then a slot-list
// call to see that the module answers.
int initialise_and_probe(P11_ENGINE_CTX *ctx) {
    CK_FUNCTION_LIST *f = ctx->function_list;
    if (!token_module_initialize(f))
        return fail("C_Initialize failed (check PKCS#11 library path or function list pointer).\n");
    CK_ULONG count = 0;
    if (f->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK)
        return fail("C_GetSlotList failed\n");
    return 1;
}

int attach_api(P11_ENGINE_CTX *ctx, const char *path) {
    CK_FUNCTION_LIST *list = nullptr;
    switch (token_module_load(path, &list)) {
    case TokenModuleLoad::not_loaded:
        fprintf(stderr, "Can't load library %s\n", path ? path : "(null)");
        return 0;
    case TokenModuleLoad::no_entry:
        return fail("GetProcAddress failed\n");
    case TokenModuleLoad::no_list:
        return fail("C_GetFunctionList failed\n");
    case TokenModuleLoad::ok:
        break;
    }
    ctx->function_list = list;
    return initialise_and_probe(ctx);
}

int attach_api_funcs(P11_ENGINE_CTX *ctx, void *p) {
    ctx->function_list = static_cast<CK_FUNCTION_LIST *>(p);
    if (!ctx->function_list)
        return fail("NULL function list pointer\n");
    return initialise_and_probe(ctx);
}

int ctrl_open_session(ENGINE *e, P11_ENGINE_CTX *ctx, void *p) {
    if (!p)
        return fail("PKCS11_CTRL_OPEN_SESSION: Session flags not set\n");
    const char *text = static_cast<const char *>(p);
    if (strstr(text, "CKF_SERIAL_SESSION")) {
        ctx->session_flags = CKF_SERIAL_SESSION;
        if (strstr(text, "CKF_RW_SESSION"))
            ctx->session_flags |= CKF_RW_SESSION;
    } else {
        // A flags word, or a text naming neither flag: its first four bytes.
        // A text shorter than that is read up to its terminator only.
        uint32_t word = 0;
        size_t n = strnlen(text, sizeof word);
        memcpy(&word, p, n < sizeof word ? n + 1 : sizeof word);
        ctx->session_flags = word;
    }
    if (!ctx->function_list)
        return fail("PKCS11_CTRL_OPEN_SESSION: api not attached\n");
    if (!open_session(e))
        return fail("PKCS11_CTRL_OPEN_SESSION: open_session failed\n");
    return 1;
}

int ctrl_login(ENGINE *e, P11_ENGINE_CTX *ctx, long i, void *p, void (*f)(void)) {
    ctx->pin.clear();
    ctx->pin_len = 0;

    const char *text = static_cast<const char *>(p);
    p11_pin_callback callback = nullptr;
    const char *prompt = nullptr;
    int verify = 0;
    if (f) {
        callback = reinterpret_cast<p11_pin_callback>(f);
        prompt = text;
        verify = static_cast<int>(i);
    } else if (!text || !*text) {
        callback = EVP_read_pw_string;
        prompt = "Enter PIN:";
        verify = 1;
    }

    if (!ctx->function_list)
        return fail("PKCS11_CTRL_LOGIN: api not attached\n");
    // A locked PIN is not asked for nor tried.
    if (!p11_user_pin_may_be_tried(ctx, false))
        return 0;

    if (!callback) {
        // The PIN is the argument itself; it is not kept after the login.
        ctx->pin.assign(text, strlen(text));
        ctx->pin_len = ctx->pin.size();
        int ok = login(e);
        ctx->pin.clear();
        ctx->pin_len = 0;
        return ok ? 1 : fail("login failed\n");
    }

    ctx->pin_callback = callback;
    char buffer[kPinBufferSize + 1];
    memset(buffer, 0, sizeof buffer);
    int rc = callback(buffer, kPinBufferSize, prompt, verify);
    buffer[kPinBufferSize] = '\0';
    if (rc != 0) {
        secure_wipe(buffer, sizeof buffer);
        return fail("PIN callback cancelled\n");
    }
    size_t len = strnlen(buffer, kPinBufferSize);
    if (len == 0) {
        secure_wipe(buffer, sizeof buffer);
        return fail("Null PIN length\n");
    }
    ctx->pin.assign(buffer, len);
    secure_wipe(buffer, sizeof buffer);
    if (!login(e)) {
        ctx->pin.clear();
        ctx->pin_len = 0;
        return fail("login failed\n");
    }
    return 1;
}

int ctrl_logout(ENGINE *e, P11_ENGINE_CTX *ctx) {
    if (!ctx->logged_in)
        return fail("User not logged in\n");
    if (!logout(e))
        return fail("logout failed\n");
    ctx->logged_in = 0;
    return 1;
}

int ctrl_params_gost28147(P11_ENGINE_CTX *ctx, const char *name) {
    if (!name)
        return 1;
    int nid = gost28147_paramset_nid(name);
    p11_set_default_gost28147_params(ctx);
    ctx->gost28147_params_nid = nid;
    const ASN1_OBJECT *object = OBJ_nid2obj(ctx->gost28147_params_nid);
    if (object) {
        size_t length = OBJ_length(object);
        if (length > sizeof ctx->gost28147_params_der - 2) {
            ctx->gost28147_params_nid = 0;
            return fail("PKCS11_CTRL_PARAMS_GOST28147: object identifier too long\n");
        }
        if (length)
            memcpy(ctx->gost28147_params_der + 2, OBJ_get0_data(object), length);
        ctx->gost28147_params_der[1] = static_cast<unsigned char>(length);
    }
    return 1;
}

int keep_text(std::optional<std::string> &field, const char *p) {
    if (p)
        field = std::string(p);
    return 1;
}

int ctrl_engine_id(ENGINE *e, P11_ENGINE_CTX *ctx, const char *p) {
    if (!p)
        return fail("ENGINE_set_id failed\n");
    // The identifier becomes the first ':'-separated token's text up to its
    // end (leading separators stay in it, as a strtok split leaves them).
    std::string id(p);
    size_t name_start = id.find_first_not_of(':');
    if (name_start != std::string::npos) {
        size_t name_end = id.find(':', name_start);
        if (name_end != std::string::npos)
            id.resize(name_end);
    }
    ctx->engine_id = id;
    if (!ENGINE_set_id(e, ctx->engine_id.c_str()))
        return fail("ENGINE_set_id failed\n");
    ctx->slot_id = p11_slot_from_id(p);
    return 1;
}

int ctrl_private_key_flag(int &field, const char *p, const char *message) {
    if (!p)
        return fail(message);
    field = atoi(p);
    return 1;
}

int ctrl_set_session(P11_ENGINE_CTX *ctx, long i) {
    ctx->session = static_cast<CK_SESSION_HANDLE>(i);
    if (ctx->session == 0)
        return fail("set session failed\n");
    if (!ctx->function_list)
        return fail("PKCS11_CTRL_SET_SESSION: api not attached\n");
    CK_SESSION_INFO info;
    memset(&info, 0, sizeof info);
    CK_RV rv = ctx->function_list->C_GetSessionInfo(ctx->session, &info);
    if (rv != CKR_OK) {
        fprintf(stderr, "C_GetSessionInfo failed for session 0x%lx, rc = 0x%lx\n", ctx->session, rv);
        return 0;
    }
    ctx->slot_id = info.slotID;
    ctx->session_flags = info.flags;
    return 1;
}

}  // namespace

const ENGINE_CMD_DEFN *pkcs11_engine_cmd_defns(void) { return kCommands; }

int pkcs11_engine_ctrl(ENGINE *e, int cmd, long i, void *p, void (*f)(void)) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx)
        return 0;
    if (cmd != PKCS11_CTRL_LOGIN_ON_USE && (cmd < PKCS11_CTRL_FIRST || cmd > PKCS11_CTRL_FIRST + PKCS11_CTRL_COUNT)) {
        fprintf(stderr, "param %d out of range [0, %d]\n", cmd - PKCS11_CTRL_FIRST, PKCS11_CTRL_COUNT);
        return 0;
    }
    const char *text = static_cast<const char *>(p);
    switch (cmd) {
    case PKCS11_CTRL_ATTACH_API:
        return attach_api(ctx, text);
    case PKCS11_CTRL_OPEN_SESSION:
        return ctrl_open_session(e, ctx, p);
    case PKCS11_CTRL_CLOSE_SESSION:
        return close_session(e) ? 1 : fail("close_session failed\n");
    case PKCS11_CTRL_LOGIN:
        return ctrl_login(e, ctx, i, p, f);
    case PKCS11_CTRL_LOGOUT:
        return ctrl_logout(e, ctx);
    case PKCS11_CTRL_PARAMS_GOST28147:
        return ctrl_params_gost28147(ctx, text);
    case PKCS11_CTRL_DEFAULT_TOKEN_PATH:
        return keep_text(ctx->default_token_path, text);
    case PKCS11_CTRL_DEFAULT_TOKEN_SERIAL:
        return keep_text(ctx->default_token_serial, text);
    case PKCS11_CTRL_ENGINE_ID:
        return ctrl_engine_id(e, ctx, text);
    case PKCS11_CTRL_LABEL_INDEX_PATH:
        return keep_text(ctx->label_index_path, text);
    case PKCS11_CTRL_PRIVATE_KEY_EXTRACTABLE:
        return ctrl_private_key_flag(ctx->private_key_extractable, text,
                                     "PKCS11_CTRL_PRIVATE_KEY_EXTRACTABLE: value not set\n");
    case PKCS11_CTRL_PRIVATE_KEY_SENSITIVE:
        return ctrl_private_key_flag(ctx->private_key_sensitive, text,
                                     "PKCS11_CTRL_PRIVATE_KEY_SENSITIVE: value not set\n");
    case PKCS11_CTRL_SET_SESSION:
        return ctrl_set_session(ctx, i);
    case PKCS11_CTRL_ATTACH_API_FUNCS:
        return attach_api_funcs(ctx, p);
    case PKCS11_CTRL_LOGIN_ON_USE:
        return ctrl_login_on_use(ctx, text);
    default:  // PKCS11_CTRL_RESERVED
        return 1;
    }
}

int open_session(ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx)
        return 0;
    CK_FUNCTION_LIST *f = ctx->function_list;
    if (!f)
        return fail("open_session: api not attached\n");
    if (ctx->slot_id == P11_NO_SLOT) {
        std::vector<CK_SLOT_ID> slots;
        CK_RV rv = p11_token_slots(f, slots);
        if (rv != CKR_OK) {
            fprintf(stderr, "C_GetSlotList failed, rc = 0x%lx\n", rv);
            return 0;
        }
        if (slots.empty())
            return fail("Zero slots count\n");
        for (CK_SLOT_ID slot : slots) {
            CK_SLOT_INFO info;
            if (f->C_GetSlotInfo(slot, &info) != CKR_OK)
                return fail("Can't get slot info\n");
            if (info.flags & CKF_TOKEN_PRESENT) {
                ctx->slot_id = slot;
                break;
            }
        }
    }
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = f->C_OpenSession(ctx->slot_id, ctx->session_flags, nullptr, nullptr, &session);
    if (rv != CKR_OK) {
        fprintf(stderr, "C_OpenSession failed, rc = 0x%lx\n", rv);
        return 0;
    }
    ctx->session = session;
    return 1;
}

int close_session(ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx || !ctx->function_list)
        return 0;
    CK_RV rv = ctx->function_list->C_CloseSession(ctx->session);
    if (rv != CKR_OK) {
        fprintf(stderr, "C_CloseSession failed, rc = 0x%lx", rv);
        return 0;
    }
    return 1;
}

int login(ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx)
        return 0;
    ctx->pin_len = ctx->pin.size();
    if (!ctx->function_list)
        return 1;
    return user_login(ctx, ctx->pin);
}

int user_login(P11_ENGINE_CTX *ctx, const SecretString &pin) {
    CK_RV rv = token_user_login(ctx->function_list, ctx->session, pin.c_str(), pin.size());
    if (rv != CKR_OK) {
        fprintf(stderr, "C_Login failed, rc = 0x%lx\n", rv);
        return 0;
    }
    ctx->logged_in = 1;
    return 1;
}

int logout(ENGINE *e) {
    P11_ENGINE_CTX *ctx = p11_engine_ctx_or_report(e);
    if (!ctx || !ctx->function_list)
        return 0;
    CK_RV rv = ctx->function_list->C_Logout(ctx->session);
    if (rv != CKR_OK) {
        fprintf(stderr, "C_Logout failed, rc = 0x%lx\n", rv);
        return 0;
    }
    return 1;
}
