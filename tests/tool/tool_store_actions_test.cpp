// -print and -remove through the engine's object store, labels written by
// other tools, and tokens that refuse read-write sessions.
#include "tool_e2e.h"

#include <openssl/bio.h>
#include <openssl/x509.h>

namespace {

// What X509_print writes for a DER certificate.
std::string x509_text(const Bytes &der)
{
    const unsigned char *p = der.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    BIO *bio = BIO_new(BIO_s_mem());
    X509_print(bio, x);
    char *data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(len));
    BIO_free(bio);
    X509_free(x);
    return text;
}

using StoreActions = TokencertTest;

TEST_F(StoreActions, PrintShowsTheCertificateAsOpenSSLPrintsIt)
{
    put({"other", true, 20, 2});
    Bytes der = put({"abc"});
    ProcessResult r = tool(on_token({"-print", "-label", "abc"}));
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, x509_text(der) + "OK\n");
}

TEST_F(StoreActions, RemoveDeletesEveryCertificateWithTheLabelAndNothingElse)
{
    put({"twin", true, 20, 1});
    put({"twin", true, 20, 2});
    put({"twins", true, 20, 3});
    ProcessResult r = tool(on_token({"-remove", "-label", "twin"}), "1234\n");
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Certificate object 'twin' removed from the token\nOK\n");
    EXPECT_EQ(client().count_certificates(), 1u);
    // Nothing left with the label: a second removal fails.
    r = tool(on_token({"-remove", "-label", "twin"}), "1234\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "No certificate object with label 'twin' found\nremove_certificate failed, rc = 0x6\n");
    EXPECT_EQ(client().count_certificates(), 1u);
}

TEST_F(StoreActions, PrintThenRemoveWhateverTheOrder)
{
    Bytes der = put({"abc"});
    ProcessResult r = tool(on_token({"-remove", "-label", "abc", "-print"}), "1234\n");
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, x509_text(der) + "Certificate object 'abc' removed from the token\nOK\n");
    EXPECT_EQ(client().count_certificates(), 0u);
}

// General PKCS#11 tools store labels without the zero byte: every action
// that takes -label finds such a certificate, and only the exact label.
TEST_F(StoreActions, LabelWithoutZeroByteIsFoundByEveryAction)
{
    Bytes der = put({"nozero", false, 20, 5});
    client().put_private_key(label_with_zero("nozero-key"), make_id(20, 5));
    const std::string path = token_.dir() + "/out.der";
    struct Case {
        std::vector<std::string> args;
        std::string expected_start;
    };
    const Case cases[] = {
        {{"-attributes", "-label", "nozero"}, "label: 'nozero'\n"},
        {{"-pkeyfind", "-label", "nozero"}, "Certificate label: 'nozero'\nPrivate key found, label: 'nozero-key'\n"},
        {{"-outfile", path, "-outform", "der", "-label", "nozero"},
         "Certificate object 'nozero' exported to '" + path + "' file\n"},
        {{"-print", "-label", "nozero"}, x509_text(der)},
        {{"-remove", "-label", "nozero"}, "Certificate object 'nozero' removed from the token\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        ProcessResult r = tool(on_token(c.args), "1234\n");
        EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.compare(0, c.expected_start.size(), c.expected_start), 0) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");
    }
    EXPECT_EQ(client().count_certificates(), 0u);
    // A shorter label does not match the longer one stored without its zero byte.
    put({"nozero", false, 20, 6});
    ProcessResult r = tool(on_token({"-print", "-label", "nozer"}));
    EXPECT_EQ(r.exit_status, 6);
}

TEST_F(StoreActions, LabelWithZeroByteWinsOverTheSameLabelWithout)
{
    put({"same", false, 20, 1});
    Bytes ours = put({"same", true, 20, 2});
    ProcessResult r = tool(on_token({"-print", "-label", "same"}));
    EXPECT_EQ(r.out, x509_text(ours) + "OK\n");
    // Removal deletes what the first search found only.
    r = tool(on_token({"-remove", "-label", "same"}), "1234\n");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(client().count_certificates(), 1u);
}

// A token that refuses read-write sessions (a trust store, a write-protected
// token): the reading actions work in a read-only session; writing ones fail
// with the module's code.
TEST_F(StoreActions, ReadOnlyTokenIsListedPrintedAndExported)
{
    Bytes der = put({"abc"});
    const std::map<std::string, std::string> read_only = {{"FAULTMOD_READ_ONLY", "1"}};
    const std::string path = token_.dir() + "/ro.pem";
    ProcessResult r = faulty(read_only, {"-slot", token_.slot_text(), "-certlist", "-print", "-label", "abc",
                                         "-outfile", path, "-attributes"});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Certificate objects:\n1: label: 'abc'\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(x509_text(der)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Certificate object 'abc' exported to '" + path + "' file\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");

    r = faulty(read_only, {"-slot", token_.slot_text(), "-remove", "-label", "abc"}, "1234\n");
    EXPECT_EQ(r.exit_status, 0xE2);
    EXPECT_EQ(r.out, "C_OpenSession error: 226 ( CKR_TOKEN_WRITE_PROTECTED)\n");
    EXPECT_EQ(client().count_certificates(), 1u);
}

}  // namespace
