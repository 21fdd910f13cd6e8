#include "options.h"

#include <cstring>

#include "tool_state.h"

namespace {

struct OptionDef {
    const char *name;
    uint32_t flag;
    const char *CommandLine::*value;  // null for an option without a value
};

const OptionDef option_table[] = {
    {"-p11", OPT_P11, &CommandLine::module_path},
    {"-slot", OPT_SLOT, &CommandLine::slot},
    {"-p11info", OPT_P11INFO, nullptr},
    {"-slotlist", OPT_SLOTLIST, nullptr},
    {"-tokeninfo", OPT_TOKENINFO, nullptr},
    {"-certlist", OPT_CERTLIST, nullptr},
    {"-attributes", OPT_ATTRIBUTES, nullptr},
    {"-label", OPT_LABEL, &CommandLine::label},
    {"-print", OPT_PRINT, nullptr},
    {"-pkeyfind", OPT_PKEYFIND, nullptr},
    {"-outfile", OPT_OUTFILE, &CommandLine::outfile},
    {"-outform", OPT_OUTFORM, &CommandLine::outform},
    {"-infile", OPT_INFILE, &CommandLine::infile},
    {"-inform", OPT_INFORM, &CommandLine::inform},
    {"-remove", OPT_REMOVE, nullptr},
};

const char *const usage_lines[] = {
    "options:\n",
    "\t-help           - display usage\n",
    "\t-p11info        - display PKCS#11 library info\n",
    "\t-slotlist       - display slots info\n",
    "\t-slot <slot ID> - set token slot ID\n",
    "\t                (first with token present by default)\n",
    "\t-tokeninfo      - display token info\n",
    "\t-certlist       - enumerate all certificates\n",
    "\t-label <label>  - token object label\n",
    "\t-print          - print certificate to standard output\n",
    "\t-pkeyfind       - search for certificate private key\n",
    "\t-attributes     - dump all certificate attributes\n",
    "\t-remove         - remove certificate from the token\n",
    "\t-outfile        - export certificate to output file path\n",
    "\t-outform        - output file format (pem|der)\n",
    "\t\t\t\t       (pem by default)\n",
    "\t-infile         - import from file path\n",
    "\t-inform         - import file format (pem|der|pfx|p12\n",
    "\t\t\t\t       (pem by default).\n",
    "\t    NB: Import from the pfx(p12) format creates\n",
    "\t        private key, public key and certificate\n",
    "\t        objects on the token with the same label.\n",
    "\t        Import from the pem/der format creates\n",
    "\t        the certificate token object only.\n",
};

}  // namespace

bool parse_command_line(int argc, char **argv, CommandLine &out)
{
    out = CommandLine{};
    if (argc < 2)
        return false;
    int unknown = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (arg[0] != '-') {
            if (i == 1)
                return false;
            break;  // the rest of the line is ignored
        }
        if (std::strcmp(arg, "-help") == 0)
            return false;
        const OptionDef *def = nullptr;
        for (const OptionDef &candidate : option_table) {
            if (std::strcmp(arg, candidate.name) == 0) {
                def = &candidate;
                break;
            }
        }
        if (def == nullptr) {
            ++unknown;
            continue;
        }
        out.flags |= def->flag;
        if (def->value != nullptr) {
            if (i + 1 >= argc)
                return false;  // the value is missing
            out.*(def->value) = argv[++i];
        }
    }
    if (unknown > 0 || (out.flags & OPT_P11) == 0)
        return false;
    return true;
}

void write_usage(BIO *bio, const char *program)
{
    BIO_printf(bio, "usage:\t%s -p11 <PKCS#11 library path> [options]\n", program);
    for (const char *line : usage_lines)
        BIO_puts(bio, line);
}

void print_usage(const char *program)
{
    write_usage(bio_err, program);
    exit_tool(-1);
}
