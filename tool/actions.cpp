#include "actions.h"

#include <cstring>

#include <openssl/bio.h>

#include "cert_export.h"
#include "cert_import.h"
#include "cert_inspect.h"
#include "json_output.h"
#include "listings.h"
#include "p11_module.h"
#include "tool_state.h"

namespace {

// The token check before each action that touches token objects.
void require_initialized_token()
{
    if (!token_has_flags(CKF_TOKEN_INITIALIZED)) {
        BIO_printf(failure_stream(), "Token not initialized\n");
        exit_tool(static_cast<int>(TOOL_FAILURE));
    }
}

constexpr size_t MAX_LABEL_LENGTH = 255;

struct LabelledAction {
    uint32_t flag;
    CK_RV (*run)(const CommandLine &);
    const char *failure_line;
};

CK_RV run_pkeyfind(const CommandLine &cmd) { return find_private_key_for_certificate(cmd.label); }
CK_RV run_dump(const CommandLine &cmd) { return dump_certificate(cmd.label); }
CK_RV run_print(const CommandLine &cmd) { return print_certificate(cmd.label); }
CK_RV run_remove(const CommandLine &cmd) { return remove_certificate(cmd.label); }
CK_RV run_output(const CommandLine &cmd)
{
    return output_certificate(cmd.label, cmd.outfile, cmd.outform);
}

const LabelledAction labelled_actions[] = {
    {OPT_PKEYFIND, run_pkeyfind, "find_private_key_for_certificate failed, rc = 0x%x\n"},
    {OPT_ATTRIBUTES, run_dump, "dump_certificate failed, rc = 0x%x\n"},
    {OPT_PRINT, run_print, "print_certificate failed, rc = 0x%x\n"},
    {OPT_REMOVE, run_remove, "remove_certificate failed, rc = 0x%x\n"},
    {OPT_OUTFILE, run_output, "output_certificate failed, rc = 0x%x\n"},
};

struct ImportFormat {
    const char *names[4];
    CK_RV (*run)(const char *label, const char *path);
    const char *failure_line;
};

const ImportFormat import_formats[] = {
    {{"PEM", "pem", nullptr, nullptr}, input_pem, "input_pem failed, rc = 0x%x\n"},
    {{"DER", "der", nullptr, nullptr}, input_der, "input_der failed, rc = 0x%x\n"},
    {{"PFX", "pfx", "P12", "p12"}, input_p12, "input_p12 failed, rc = 0x%x\n"},
};

// The import reader named by -inform (PEM when absent), or null.
const ImportFormat *import_format(const char *inform)
{
    if (inform == nullptr)
        return &import_formats[0];
    for (const ImportFormat &format : import_formats)
        for (const char *name : format.names)
            if (name != nullptr && std::strcmp(name, inform) == 0)
                return &format;
    return nullptr;
}

void run_import(const CommandLine &cmd)
{
    require_initialized_token();
    const ImportFormat *format = import_format(cmd.inform);
    if (format == nullptr) {
        BIO_printf(bio_err, "Usupported input format: :s\n");
        exit_tool(static_cast<int>(TOOL_FAILURE));
    }
    // Listings read labels into 256 bytes, the zero byte included.
    const size_t label_length = std::strlen(cmd.label);
    if (label_length > MAX_LABEL_LENGTH) {
        BIO_printf(bio_err, "The label is %zu bytes long: labels longer than %zu bytes can't be listed\n",
                   label_length, MAX_LABEL_LENGTH);
        exit_tool(static_cast<int>(TOOL_FAILURE));
    }
    CK_RV rv = format->run(cmd.label, cmd.infile);
    if (rv != CKR_OK) {
        BIO_printf(bio_err, format->failure_line, static_cast<unsigned>(rv));
        exit_tool(static_cast<int>(TOOL_FAILURE));
    }
}

}  // namespace

ActionsOutcome run_actions(const CommandLine &cmd, CK_RV result_so_far)
{
    ActionsOutcome outcome;
    outcome.result = result_so_far;
    const uint32_t flags = cmd.flags;

    if (flags & OPT_TOKENINFO)
        note_listing_result(show_token_info(token_slot));

    if (flags & OPT_CERTLIST) {
        require_initialized_token();
        note_listing_result(list_certificates());
    }

    if (cmd.label == nullptr)
        return outcome;
    for (const LabelledAction &action : labelled_actions) {
        if (!(flags & action.flag))
            continue;
        require_initialized_token();
        CK_RV rv = action.run(cmd);
        if (rv != CKR_OK) {
            BIO_printf(bio_err, action.failure_line, static_cast<unsigned>(rv));
            outcome.result = rv;
            outcome.print_ok = false;
            return outcome;
        }
    }
    if (flags & OPT_INFILE)
        run_import(cmd);
    return outcome;
}
