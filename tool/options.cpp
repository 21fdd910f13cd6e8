#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "secret_source.h"
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
    {"-pin", OPT_PIN, &CommandLine::pin},
    {"-passin", OPT_PASSIN, &CommandLine::passin},
    {"-json", OPT_JSON, nullptr},
    {"-uri", OPT_URI, &CommandLine::uri_text},
    {"-version", OPT_VERSION, nullptr},
};

// The actions that name one certificate, with -label or -uri.
const uint32_t labelled_options[] = {OPT_PKEYFIND, OPT_PRINT, OPT_REMOVE, OPT_OUTFILE, OPT_INFILE};

// -json writes the listings; these actions write text only.
constexpr uint32_t TEXT_ONLY_ACTIONS = OPT_ATTRIBUTES | OPT_PRINT | OPT_PKEYFIND | OPT_OUTFILE | OPT_INFILE | OPT_REMOVE;

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
    "\t-pin <source>   - user PIN from pass:TEXT, env:VAR, file:PATH,\n",
    "\t                fd:N or stdin (prompted for by default)\n",
    "\t-passin <src>   - container password, the same forms as -pin\n",
    "\t-json           - -p11info, -slotlist, -tokeninfo and -certlist\n",
    "\t                as one JSON document\n",
    "\t-uri <uri>      - token and object as a PKCS#11 URI\n",
    "\t                (pkcs11:token=...;object=...) for -slot and -label\n",
    "\t-version        - display the tokencert and OpenSSL versions and\n",
    "\t                the GOST algorithms' origin (engine or provider)\n",
};

const char *name_of(uint32_t flag)
{
    for (const OptionDef &def : option_table)
        if (def.flag == flag)
            return def.name;
    return "";
}

bool is_slot_number(const char *text)
{
    if (*text < '0' || *text > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    std::strtoul(text, &end, 10);
    return *end == '\0' && errno == 0;
}

// The checks that need the whole line: "" when it holds together.
std::string whole_line_complaint(CommandLine &out)
{
    const uint32_t flags = out.flags;
    // -version needs no module and runs nothing else.
    if (flags & OPT_VERSION) {
        for (const OptionDef &def : option_table)
            if (flags & def.flag & ~OPT_VERSION)
                return std::string("-version goes alone, not with ") + def.name;
        return std::string();
    }
    if ((flags & OPT_P11) == 0)
        return "No -p11 <PKCS#11 library path> given";
    if ((flags & OPT_SLOT) && !is_slot_number(out.slot))
        return std::string("-slot needs a slot number, not '") + out.slot + "'";
    if ((flags & OPT_OUTFORM) &&
        strcasecmp(out.outform, "pem") != 0 && strcasecmp(out.outform, "der") != 0)
        return std::string("-outform must be pem or der, not '") + out.outform + "'";
    if ((flags & OPT_OUTFORM) && !(flags & OPT_OUTFILE))
        return "-outform goes with -outfile";
    if ((flags & OPT_INFORM) && !(flags & OPT_INFILE))
        return "-inform goes with -infile";
    for (uint32_t flag : {OPT_PIN, OPT_PASSIN}) {
        const char *source = flag == OPT_PIN ? out.pin : out.passin;
        if ((flags & flag) && !is_secret_source_form(source))
            return std::string(name_of(flag)) + " takes pass:TEXT, env:VAR, file:PATH, fd:N or stdin, not '" +
                   (std::strncmp(source, "pass", 4) == 0 ? "pass..." : source) + "'";
    }
    if (flags & OPT_URI) {
        if (flags & OPT_SLOT)
            return "-uri names the token: give it without -slot";
        out.uri = std::make_shared<TokenUri>();
        std::string why;
        if (!out.uri->parse(out.uri_text, why))
            return "-uri '" + shown_uri(out.uri_text) + "' is no PKCS#11 URI for this tool: " + why;
        // -label may name the object on the token the URI names.
        if ((flags & OPT_LABEL) && (out.uri->has_label() || out.uri->has_id()))
            return "-uri names the object: give it without -label";
        if (out.uri->has_label())
            out.label = out.uri->label().c_str();
    }
    if (out.label != nullptr && *out.label == '\0')
        return (flags & OPT_LABEL) ? "-label needs a label, not ''" : "-uri names an object with an empty label";
    const bool has_label = out.label != nullptr;
    const bool has_id = out.uri && out.uri->has_id();
    for (uint32_t flag : labelled_options) {
        if (!(flags & flag))
            continue;
        // An import makes new objects: it needs a label, an identifier will not do.
        if (!has_label && !(has_id && flag != OPT_INFILE))
            return std::string(name_of(flag)) + " needs -label (or -uri with object=)";
    }
    if ((flags & OPT_ATTRIBUTES) && !(flags & OPT_CERTLIST) && !has_label && !has_id)
        return "-attributes needs -certlist, or -label (or -uri with object=)";
    if ((flags & OPT_JSON) && (flags & TEXT_ONLY_ACTIONS)) {
        for (const OptionDef &def : option_table)
            if (flags & def.flag & TEXT_ONLY_ACTIONS)
                return std::string("-json goes only with -p11info, -slotlist, -tokeninfo and -certlist, not with ") +
                       def.name;
    }
    return std::string();
}

}  // namespace

bool parse_command_line(int argc, char **argv, CommandLine &out)
{
    out = CommandLine{};
    if (argc < 2)
        return false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "-help") == 0) {
            out.complaint.clear();
            return false;
        }
        const OptionDef *def = nullptr;
        for (const OptionDef &candidate : option_table) {
            if (std::strcmp(arg, candidate.name) == 0) {
                def = &candidate;
                break;
            }
        }
        if (def == nullptr) {
            // Go on: a later -help still asks for the usage text alone.
            if (out.complaint.empty())
                out.complaint = arg[0] == '-' ? std::string("Unknown option ") + arg
                                              : std::string("Unexpected argument '") + arg + "'";
            continue;
        }
        out.flags |= def->flag;
        if (def->value != nullptr) {
            if (i + 1 >= argc) {
                if (out.complaint.empty())
                    out.complaint = std::string(arg) + " needs a value";
                return false;
            }
            out.*(def->value) = argv[++i];
        }
    }
    if (out.complaint.empty())
        out.complaint = whole_line_complaint(out);
    return out.complaint.empty();
}

void write_usage(BIO *bio, const char *program)
{
    BIO_printf(bio, "usage:\t%s -p11 <PKCS#11 library path> [options]\n", program);
    for (const char *line : usage_lines)
        BIO_puts(bio, line);
}

void print_usage(const char *program, const std::string &complaint)
{
    if (!complaint.empty())
        BIO_printf(bio_err, "%s\n", complaint.c_str());
    write_usage(bio_err, program);
    exit_tool(-1);
}
