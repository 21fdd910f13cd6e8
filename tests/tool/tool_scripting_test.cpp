// tokencert in scripts: mistakes on the command line named and refused, PINs
// from sources instead of the prompt, JSON listings checked against the
// module's own answers, and tokens and certificates chosen by PKCS#11 URI on
// SoftHSM2 and on our software token.
#include <ctime>
#include <fstream>
#include <string>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "expected_usage.h"
#include "module_token.h"
#include "tool_e2e.h"

namespace {

using nlohmann::json;
using Scripting = TokencertTest;

TEST_F(Scripting, MistakesAreUsageErrorsNamingTheArgument)
{
    const std::string m = token_.module_path();
    const struct {
        std::vector<std::string> args;
        std::string complaint;  // "" for the usage text alone
    } cases[] = {
        {{}, ""},
        {{"-help"}, ""},
        {{"-bogus", "-help"}, ""},
        {{"p11", m}, "Unexpected argument 'p11'"},
        {{"-p11", m, "-bogus"}, "Unknown option -bogus"},
        {{"-p11", m, "--p11info"}, "Unknown option --p11info"},
        {{"-certlist"}, "No -p11 <PKCS#11 library path> given"},
        {{"-p11", m, "-label"}, "-label needs a value"},
        {{"-p11", m, "-outfile", "x.pem"}, "-outfile needs -label (or -uri with object=)"},
        {{"-p11", m, "-infile", "c.pem"}, "-infile needs -label (or -uri with object=)"},
        {{"-p11", m, "-print", "-remove"}, "-print needs -label (or -uri with object=)"},
        {{"-p11", m, "-pkeyfind"}, "-pkeyfind needs -label (or -uri with object=)"},
        {{"-p11", m, "-attributes"}, "-attributes needs -certlist, or -label (or -uri with object=)"},
        {{"-p11", m, "-certlist", "foo", "-outfile", "y.pem", "-label", "c"}, "Unexpected argument 'foo'"},
        {{"-p11", m, "-slot", "abc"}, "-slot needs a slot number, not 'abc'"},
        {{"-p11", m, "-slot", "-1"}, "-slot needs a slot number, not '-1'"},
        {{"-p11", m, "-slot", "7x"}, "-slot needs a slot number, not '7x'"},
        {{"-p11", m, "-outfile", "a", "-label", "b", "-outform", "xyz"}, "-outform must be pem or der, not 'xyz'"},
        {{"-p11", m, "-outform", "der"}, "-outform goes with -outfile"},
        {{"-p11", m, "-inform", "der"}, "-inform goes with -infile"},
        {{"-p11", m, "-pin", "1234"}, "-pin takes pass:TEXT, env:VAR, file:PATH, fd:N or stdin, not '1234'"},
        {{"-p11", m, "-pin", "fd:x"}, "-pin takes pass:TEXT, env:VAR, file:PATH, fd:N or stdin, not 'fd:x'"},
        // A password typed where its source belongs is not repeated.
        {{"-p11", m, "-passin", "password"},
         "-passin takes pass:TEXT, env:VAR, file:PATH, fd:N or stdin, not 'pass...'"},
        {{"-p11", m, "-json", "-certlist", "-print", "-label", "a"},
         "-json goes only with -p11info, -slotlist, -tokeninfo and -certlist, not with -print"},
        {{"-p11", m, "-uri", "foo:bar?pin-value=1234"}, "-uri 'foo:bar' is no PKCS#11 URI for this tool: URI scheme must be 'pkcs11:'"},
        {{"-p11", m, "-infile", "c.pem", "-label", ""}, "-label needs a label, not ''"},
        {{"-p11", m, "-uri", "pkcs11:object=", "-print"}, "-uri names an object with an empty label"},
        {{"-p11", m, "-uri", "pkcs11:type=private;object=a", "-print"},
         "-uri 'pkcs11:type=private;object=a' is no PKCS#11 URI for this tool: the object it names is no certificate"},
        {{"-p11", m, "-uri", "pkcs11:token=a", "-slot", "1"}, "-uri names the token: give it without -slot"},
        {{"-p11", m, "-uri", "pkcs11:token=a;object=c", "-label", "b"}, "-uri names the object: give it without -label"},
        {{"-p11", m, "-uri", "pkcs11:id=%01", "-label", "b"}, "-uri names the object: give it without -label"},
        {{"-p11", m, "-uri", "pkcs11:token=a;id=%01", "-infile", "c.pem"},
         "-infile needs -label (or -uri with object=)"},
        {{"-version", "-p11", m}, "-version goes alone, not with -p11"},
        {{"-certlist", "-version"}, "-version goes alone, not with -certlist"},
        {{"-version", "-bogus"}, "Unknown option -bogus"},
        {{"-version", "-help"}, ""},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const auto &a : c.args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        ProcessResult r = tool(c.args);
        EXPECT_EQ(r.exit_status, 255);
        const bool json = std::find(c.args.begin(), c.args.end(), "-json") != c.args.end();  // stdout: JSON only
        EXPECT_EQ(json ? r.err : r.out, (c.complaint.empty() ? "" : c.complaint + "\n") + expected_usage(kTokencert));
        EXPECT_EQ(json ? r.out : r.err, "");
    }
}

TEST_F(Scripting, PinFromEverySourceReplacesThePrompt)
{
    put({"abc"});
    client().put_private_key(label_with_zero("abc-key"), make_id(20, 1));
    const std::string lines = token_.dir() + "/pin.txt";
    std::ofstream(lines) << "1234\nnot this line\n";
    const std::string crlf = token_.dir() + "/pin-crlf.txt";
    std::ofstream(crlf) << "1234\r\n";
    const std::string empty = token_.dir() + "/empty.txt";
    std::ofstream{empty};
    const std::string found = "Certificate label: 'abc'\nPrivate key found, label: 'abc-key'\nOK\n";
    const struct {
        std::string source;
        std::string input;  // standard input
        int status;
        std::string out;
    } cases[] = {
        {"pass:1234", "", 0, found},
        {"env:TOKEN_PIN", "", 0, found},
        {"file:" + lines, "", 0, found},
        {"file:" + crlf, "", 0, found},
        {"fd:0", "1234\n", 0, found},
        {"stdin", "1234", 0, found},
        {"pass:9999", "", 0xA0, "C_Login error: 160 ( CKR_PIN_INCORRECT)\nfind_private_key_for_certificate failed, rc = 0xa0\n"},
        {"file:/nonexistent/pin", "", 6,
         "Can't read the user PIN from file:/nonexistent/pin (-pin): No such file or directory\n"},
        {"file:" + empty, "", 6, "Can't read the user PIN from file:" + empty + " (-pin): nothing to read\n"},
        {"fd:9", "", 6, "Can't read the user PIN from fd:9 (-pin): Bad file descriptor\n"},
        {"stdin", "", 6, "Can't read the user PIN from stdin (-pin): nothing to read\n"},
        {"env:NO_SUCH_PIN", "", 6, "Can't read the user PIN from env:NO_SUCH_PIN (-pin): no such variable in the environment\n"},
        {"pass:", "", 6, "The user PIN from pass: (-pin) is empty\n"},
        {"stdin", "\n", 6, "The user PIN from stdin (-pin) is empty\n"},
        {"pass:" + std::string(256, '1'), "", 6, "The user PIN from pass: (-pin) is longer than 255 bytes\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source);
        ProcessResult r = tool(on_token({"-pkeyfind", "-label", "abc", "-pin", c.source}), c.input,
                               {{"TOKEN_PIN", "1234"}});
        EXPECT_EQ(r.exit_status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");  // no prompt
    }
    // Through the engine's login, too.
    ProcessResult r = tool(on_token({"-remove", "-label", "abc", "-pin", "pass:1234"}));
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(r.out, "Certificate object 'abc' removed from the token\nOK\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(client().count_certificates(), 0u);
}

// A token's labels never drive the terminal: control bytes are escaped.
TEST_F(Scripting, LabelsAreShownWithControlBytesEscaped)
{
    const std::string label = "a\x1b[2J\x07\xd0\x90", shown = "a\\x1b[2J\\x07\xd0\x90";
    put({label});
    const std::string out = token_.dir() + "/c.pem";
    ProcessResult r = tool(on_token({"-certlist", "-pkeyfind", "-attributes", "-outfile", out, "-label", label, "-pin", "pass:1234"}));
    for (const std::string &line : {"1: label: '" + shown + "'", "Certificate label: '" + shown + "'",
                                    "\nlabel: '" + shown + "'", "Certificate object '" + shown + "' exported to '" + out + "' file"})
        EXPECT_NE(r.out.find(line + "\n"), std::string::npos) << line;
    r = tool(on_token({"-remove", "-label", label + "\x1b", "-pin", "pass:1234"}));
    EXPECT_EQ(r.out, "No certificate object with label '" + shown + "\\x1b' found\nremove_certificate failed, rc = 0x6\n");
}

// ---- JSON listings and URIs, on both modules ----

class ModuleScripting : public ::testing::TestWithParam<ModuleKind> {
protected:
    void SetUp() override
    {
        token_ = make_module_token(GetParam());
        ASSERT_TRUE(token_->ok()) << token_->error();
    }

    ProcessResult tool(std::vector<std::string> args)
    {
        args.insert(args.begin(), {kTokencert, "-p11", token_->module_path()});
        ProcessOptions options;
        options.env = token_->env();
        options.timeout = std::chrono::seconds(60);
        ProcessResult r = run_process(args, options);
        EXPECT_FALSE(r.timed_out);
        return r;
    }

    // Runs tokencert and parses standard output as one JSON document.
    json tool_json(const std::vector<std::string> &args)
    {
        ProcessResult r = tool(args);
        EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        return json::parse(r.out, nullptr, false);
    }

    // A second initialised token beside the test's own, made with the
    // module's own utility.
    void add_second_token(const std::string &label)
    {
        ProcessOptions options;
        options.env = token_->env();
        options.timeout = std::chrono::seconds(60);
        std::vector<std::string> argv =
            GetParam() == ModuleKind::softhsm
                ? std::vector<std::string>{"softhsm2-util", "--init-token", "--free", "--label", label, "--so-pin",
                                           "87654321", "--pin", "1234"}
                : std::vector<std::string>{TOKENCERT_BINARY_DIR "/softtoken/softtoken-util", "--init-token", "--free",
                                           "--label", label, "--so-pin-source", "pass:87654321", "--pin-source",
                                           "pass:12345678"};
        ProcessResult r = run_process(argv, options);
        ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    }

    Bytes put(const std::string &name, const Bytes &label, const Bytes &id)
    {
        Bytes der = make_certificate_der(name);
        CK_SESSION_HANDLE s = token_->open_session(true);
        CK_OBJECT_HANDLE h = 0;
        EXPECT_EQ(create_certificate(token_->functions(), s, der, label, id, &h), CKR_OK);
        token_->functions()->C_CloseSession(s);
        return der;
    }

    std::unique_ptr<ModuleToken> token_;
};

std::string text_field(const unsigned char *bytes, size_t n)
{
    std::string s(reinterpret_cast<const char *>(bytes), n);
    return s.erase(s.find_last_not_of(' ') + 1);
}

// Bytes as "%XX" escapes (as in a URI), or as plain hex digits.
std::string escaped_bytes(const Bytes &bytes, const char *format = "%%%02X")
{
    std::string text;
    for (unsigned char b : bytes) {
        char one[4];
        std::snprintf(one, sizeof one, format, b);
        text += one;
    }
    return text;
}

time_t utc_seconds(const json &text)
{
    struct tm t {};
    EXPECT_TRUE(text.is_string());
    if (!text.is_string() || strptime(text.get<std::string>().c_str(), "%Y-%m-%dT%H:%M:%SZ", &t) == nullptr)
        return 0;
    return timegm(&t);
}

TEST_P(ModuleScripting, JsonListingsMatchTheModulesOwnAnswers)
{
    const Bytes alpha_id = make_id(20, 1);
    put("alpha", label_with_zero("alpha"), alpha_id);
    put("beta", label_without_zero("beta"), Bytes{0xbe, 0x7a});
    CK_FUNCTION_LIST *f = token_->functions();
    CK_INFO info{};
    ASSERT_EQ(f->C_GetInfo(&info), CKR_OK);
    CK_TOKEN_INFO ti{};
    ASSERT_EQ(f->C_GetTokenInfo(token_->slot(), &ti), CKR_OK);

    json doc = tool_json({"-slot", token_->slot_text(), "-p11info", "-slotlist", "-tokeninfo", "-certlist", "-json"});
    ASSERT_TRUE(doc.is_object()) << "not one JSON document";

    const json &lib = doc["library"];
    EXPECT_EQ(lib["manufacturer"], text_field(info.manufacturerID, 32));
    EXPECT_EQ(lib["description"], text_field(info.libraryDescription, 32));
    EXPECT_EQ(lib["flags"], info.flags);
    EXPECT_EQ(lib["cryptoki_version"],
              std::to_string(info.cryptokiVersion.major) + "." + std::to_string(info.cryptokiVersion.minor));

    CK_ULONG count = 0;
    ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    std::vector<CK_SLOT_ID> slots(count);
    ASSERT_EQ(f->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
    ASSERT_EQ(doc["slots"].size(), count);
    for (size_t i = 0; i < count; ++i)
        EXPECT_EQ(doc["slots"][i]["id"], slots[i]);

    const json *listed = nullptr;  // the token as the slot listing shows it
    for (const json &slot : doc["slots"])
        if (slot["id"] == token_->slot())
            listed = &slot["token"];
    ASSERT_NE(listed, nullptr) << "the token's slot is not listed";
    for (const json *token : std::vector<const json *>{&doc["token"], listed}) {
        EXPECT_EQ((*token)["slot"], token_->slot());
        EXPECT_EQ((*token)["label"], text_field(ti.label, 32));
        EXPECT_EQ((*token)["serial"], text_field(ti.serialNumber, 16));
        EXPECT_EQ((*token)["model"], text_field(ti.model, 16));
        EXPECT_EQ((*token)["flags"], ti.flags);
        EXPECT_EQ((*token)["min_pin_length"], ti.ulMinPinLen);
        EXPECT_NE(std::find((*token)["flag_names"].begin(), (*token)["flag_names"].end(), "TOKEN_INITIALIZED"),
                  (*token)["flag_names"].end());
    }
    // The token's URI names this token again.
    json again = tool_json({"-uri", doc["token"]["uri"], "-tokeninfo", "-json"});
    EXPECT_EQ(again["token"]["slot"], token_->slot());

    const json &certs = doc["certificates"];
    ASSERT_EQ(certs.size(), 2u) << certs.dump();
    for (const json &cert : certs) {
        const bool alpha = cert["label"] == "alpha";
        SCOPED_TRACE(cert.dump());
        EXPECT_EQ(cert["label"], alpha ? "alpha" : "beta");
        EXPECT_EQ(cert["id"], alpha ? escaped_bytes(alpha_id, "%02x") : "be7a");
        EXPECT_EQ(cert["subject"], alpha ? "CN=alpha" : "CN=beta");
        EXPECT_EQ(cert["issuer"], cert["subject"]);
        EXPECT_EQ(cert["serial"], "1234");
        EXPECT_EQ(cert["key_algorithm"], "id-ecPublicKey");
        EXPECT_EQ(cert["key_algorithm_oid"], "1.2.840.10045.2.1");
        const time_t from = utc_seconds(cert["not_before"]);
        EXPECT_LE(std::labs(static_cast<long>(from - std::time(nullptr))), 600L);
        EXPECT_EQ(utc_seconds(cert["not_after"]) - from, 365L * 24 * 3600);
        const std::string uri = cert["uri"];
        EXPECT_NE(uri.find(";id=" + (alpha ? escaped_bytes(alpha_id) : "%BE%7A") + ";"), std::string::npos) << uri;
        EXPECT_NE(uri.find(alpha ? ";object=alpha" : ";object=beta"), std::string::npos) << uri;
        EXPECT_NE(uri.find(";type=cert"), std::string::npos) << uri;
        // The certificate's URI takes an action to that certificate.
        ProcessResult r = tool({"-uri", cert["uri"], "-attributes"});
        EXPECT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(r.out.rfind("label: '" + cert["label"].get<std::string>() + "'\n", 0), 0u) << r.out;
    }

    // Errors stay text, with their status, and no document follows.
    ProcessResult r = tool({"-slot", "7", "-certlist", "-json"});
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.err, "C_OpenSession error: 3 ( CKR_SLOT_ID_INVALID)\n");
    EXPECT_EQ(r.out, "");
}

TEST_P(ModuleScripting, UriChoosesTheTokenAndTheCertificate)
{
    ASSERT_NO_FATAL_FAILURE(add_second_token("other"));
    const Bytes id = make_id(20, 7);
    const Bytes der = put("alpha", label_with_zero("alpha"), id);
    CK_TOKEN_INFO ti{};
    ASSERT_EQ(token_->functions()->C_GetTokenInfo(token_->slot(), &ti), CKR_OK);
    const std::string serial = text_field(ti.serialNumber, 16);
    // p11-kit's form of the manufacturer and model, blanks escaped.
    auto escaped = [](std::string s) {
        for (size_t at; (at = s.find(' ')) != std::string::npos;)
            s.replace(at, 1, "%20");
        return s;
    };
    const std::string manufacturer = escaped(text_field(ti.manufacturerID, 32));
    const std::string model = escaped(text_field(ti.model, 16));

    const struct {
        std::string uri;
        const char *label;  // of the token chosen, or null: none matches
    } cases[] = {
        {"pkcs11:token=tokencert-test", "tokencert-test"},
        {"pkcs11:token=other", "other"},
        {"pkcs11:serial=" + serial, "tokencert-test"},
        {"pkcs11:model=" + model + ";serial=" + serial, "tokencert-test"},
        {"pkcs11:manufacturer=" + manufacturer + ";token=other", "other"},
        {"pkcs11:serial=" + serial + ";token=other", nullptr},
        {"pkcs11:model=no%20such%20model", nullptr},
        {"pkcs11:manufacturer=nobody?pin-value=1234", nullptr},  // the PIN is never shown
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.uri);
        ProcessResult r = tool({"-uri", c.uri, "-tokeninfo", "-json"});
        if (c.label == nullptr) {
            EXPECT_EQ(r.exit_status, 6);
            EXPECT_EQ(r.err, "No token matches the PKCS#11 URI '" + c.uri.substr(0, c.uri.find('?')) + "'\n");
            continue;
        }
        ASSERT_EQ(r.exit_status, 0) << r.out;
        EXPECT_EQ(json::parse(r.out)["token"]["label"], c.label);
    }

    // The second token opens with the user PIN its utility took from a source.
    ProcessResult login = tool({"-uri", "pkcs11:token=other;object=none", "-pkeyfind", "-pin",
                                std::string("pass:") + token_->user_pin()});
    EXPECT_EQ(login.out, "No certificate object with label 'none' found\n"
                         "find_private_key_for_certificate failed, rc = 0x6\n");

    // The object, by label or by identifier; on the other token there is none.
    // One file per module: both cases may run at once.
    const std::string out = testing::TempDir() + "/uri-export-" + module_kind_name(GetParam()) + "-" +
                            std::to_string(getpid()) + ".der";
    const std::string hex_id = escaped_bytes(id, "%%%02x");  // either case is read
    const struct {
        std::string uri;
        int status;
        std::string out;
        std::string label = "";  // given with -label
    } objects[] = {
        {"pkcs11:token=tokencert-test;object=alpha", 0, "Certificate object 'alpha' exported to '" + out + "' file\nOK\n"},
        {"pkcs11:token=tokencert-test", 0, "Certificate object 'alpha' exported to '" + out + "' file\nOK\n", "alpha"},
        {"pkcs11:serial=" + serial + ";id=" + hex_id, 0, "Certificate object 'alpha' exported to '" + out + "' file\nOK\n"},
        {"pkcs11:token=tokencert-test;object=alpha;id=" + hex_id + ";type=cert", 0, "Certificate object 'alpha' exported to '" + out + "' file\nOK\n"},
        {"pkcs11:token=other;object=alpha", 6, "No certificate object with label 'alpha' found\noutput_certificate failed, rc = 0x6\n"},
        {"pkcs11:token=tokencert-test;id=%ff", 6, "No certificate object matches the PKCS#11 URI 'pkcs11:token=tokencert-test;id=%ff'\n"},
        {"pkcs11:object=beta;id=" + hex_id, 6, "No certificate object matches the PKCS#11 URI 'pkcs11:object=beta;id=" + hex_id + "'\n"},
    };
    for (const auto &c : objects) {
        SCOPED_TRACE(c.uri);
        std::remove(out.c_str());
        std::vector<std::string> args{"-uri", c.uri, "-outfile", out, "-outform", "DER"};
        if (!c.label.empty())
            args.insert(args.end(), {"-label", c.label});
        ProcessResult r = tool(args);
        EXPECT_EQ(r.exit_status, c.status);
        EXPECT_EQ(r.out, c.out);
        std::ifstream written(out, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(written), {}), c.status == 0 ? der : Bytes{});
    }
    std::remove(out.c_str());
}

INSTANTIATE_TEST_SUITE_P(BothModules, ModuleScripting, ::testing::Values(ModuleKind::softhsm, ModuleKind::softtoken),
                         [](const ::testing::TestParamInfo<ModuleKind> &info) { return module_kind_name(info.param); });

}  // namespace
