// The run state of one tokencert invocation: plain process-wide data,
// used from the single thread of the tool.
#ifndef TOKENCERT_TOOL_STATE_H
#define TOKENCERT_TOOL_STATE_H

#include <cstdint>
#include <vector>

#include <openssl/bio.h>
#include <openssl/types.h>
#include <p11-kit/pkcs11.h>

// No slot chosen yet.
constexpr CK_SLOT_ID NO_SLOT = 0xFFFFFFFFUL;

// Option flag bits, one per option seen on the command line.
enum OptionFlag : uint32_t {
    OPT_SLOT = 0x04,
    OPT_P11INFO = 0x08,
    OPT_TOKENINFO = 0x10,
    OPT_SLOTLIST = 0x20,
    OPT_P11 = 0x80,
    OPT_CERTLIST = 0x100,
    OPT_ATTRIBUTES = 0x200,
    OPT_OUTFILE = 0x400,
    OPT_OUTFORM = 0x800,
    OPT_LABEL = 0x1000,
    OPT_PRINT = 0x2000,
    OPT_PKEYFIND = 0x4000,
    OPT_INFILE = 0x8000,
    OPT_INFORM = 0x10000,
    OPT_REMOVE = 0x20000,
    OPT_JSON = 0x40000,
    OPT_URI = 0x80000,
    OPT_PIN = 0x100000,
    OPT_PASSIN = 0x200000,
    OPT_VERSION = 0x400000,
};

// Options that change how the actions run, not which ones.
constexpr uint32_t MODIFIER_OPTIONS = OPT_JSON | OPT_PIN | OPT_PASSIN;

// Result of the tool's own failures (a PKCS#11 code otherwise).
constexpr CK_RV TOOL_FAILURE = 6;

extern BIO *bio_err;
extern BIO *bio_out;
extern const char *module_path;
extern uint32_t option_flags;
extern CK_SLOT_ID token_slot;
extern CK_SESSION_HANDLE tool_session;
extern CK_FUNCTION_LIST_PTR p11_functions;
extern std::vector<CK_SLOT_ID> slot_list;
extern CK_ULONG slot_count;
extern void *module_handle;

// Creates bio_err, then bio_out, each bound to standard output, when missing.
void create_output_streams();

// Binds bio_err to standard error (for -json, whose standard output holds
// the document alone).
void send_errors_to_stderr();

// The stream of a failure line that the text listings write on bio_out:
// bio_err under -json.
BIO *failure_stream();

// Flushes both streams and ends the process with `status`.
[[noreturn]] void exit_tool(int status);

#endif
