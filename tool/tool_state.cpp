#include "tool_state.h"

#include <cstdio>
#include <cstdlib>

BIO *bio_err = nullptr;
BIO *bio_out = nullptr;
const char *module_path = nullptr;
uint32_t option_flags = 0;
CK_SLOT_ID token_slot = NO_SLOT;
CK_SESSION_HANDLE tool_session = 0;
CK_FUNCTION_LIST_PTR p11_functions = nullptr;
std::vector<CK_SLOT_ID> slot_list;
CK_ULONG slot_count = 0;
void *module_handle = nullptr;

void create_output_streams()
{
    if (bio_err == nullptr)
        bio_err = BIO_new_fp(stdout, BIO_NOCLOSE | BIO_FP_TEXT);
    if (bio_out == nullptr)
        bio_out = BIO_new_fp(stdout, BIO_NOCLOSE | BIO_FP_TEXT);
}

void send_errors_to_stderr()
{
    (void)BIO_flush(bio_err);
    BIO_set_fp(bio_err, stderr, BIO_NOCLOSE | BIO_FP_TEXT);
}

BIO *failure_stream() { return (option_flags & OPT_JSON) ? bio_err : bio_out; }

void exit_tool(int status)
{
    if (bio_out != nullptr)
        (void)BIO_flush(bio_out);
    if (bio_err != nullptr)
        (void)BIO_flush(bio_err);
    std::exit(status);
}
