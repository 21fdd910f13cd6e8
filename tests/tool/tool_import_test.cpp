// Import from PEM, DER and PKCS#12 files: everything up to the store.
#include <fstream>
#include <memory>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "tool_e2e.h"

namespace {

void write_bytes(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A PKCS#12 container (OpenSSL's default algorithms) with a fresh EC key and
// a certificate for it.
std::string make_p12(const std::string &password)
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>("p12"), -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    X509_set_pubkey(cert, key);
    X509_sign(cert, key, EVP_sha256());
    PKCS12 *p12 = PKCS12_create(password.c_str(), "p12", key, cert, nullptr, 0, 0, 0, 0, 0);
    unsigned char *der = nullptr;
    int length = i2d_PKCS12(p12, &der);
    std::string bytes(reinterpret_cast<char *>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    PKCS12_free(p12);
    X509_free(cert);
    EVP_PKEY_free(key);
    return bytes;
}

using Import = TokencertTest;

TEST_F(Import, FormatNamesAreExact)
{
    const std::string path = token_.dir() + "/c.pem";
    write_bytes(path, pem_of(make_certificate_der("x")));
    for (const char *form : {"Pfx", "PEMX", "", "txt"}) {
        ProcessResult r = tool(on_token({"-infile", path, "-inform", form, "-label", "x"}));
        EXPECT_EQ(r.exit_status, 6) << form;
        EXPECT_EQ(r.out, "Usupported input format: :s\n") << form;
    }
}

TEST_F(Import, UnreadableFile)
{
    const std::string path = token_.dir() + "/none";
    ProcessResult r = tool(on_token({"-infile", path, "-label", "x"}));
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Can't read " + path + " file: No such file or directory\ninput_pem failed, rc = 0x6\n");
    r = tool(on_token({"-infile", path, "-inform", "der", "-label", "x"}));
    EXPECT_EQ(r.out, "Can't read " + path + " file: No such file or directory\ninput_der failed, rc = 0x6\n");
    r = tool(on_token({"-infile", path, "-inform", "p12", "-label", "x"}), "secret\n");
    EXPECT_EQ(r.out, "Can't read " + path + " file: No such file or directory\ninput_p12 failed, rc = 0x6\n");
    r = tool(on_token({"-infile", token_.dir(), "-label", "x"}));
    EXPECT_EQ(r.out, "Can't read " + token_.dir() + " file: Is a directory\ninput_pem failed, rc = 0x6\n");
}

TEST_F(Import, LabelsAreNoLongerThanListingsRead)
{
    const std::string path = token_.dir() + "/c.pem", longest(255, 'l');
    write_bytes(path, pem_of(make_certificate_der("x")));
    ProcessResult r = tool(on_token({"-infile", path, "-label", longest + "l"}));
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "The label is 256 bytes long: labels longer than 255 bytes can't be listed\n");
    ASSERT_EQ(tool(on_token({"-infile", path, "-label", longest}), "1234\n").exit_status, 0);
    EXPECT_EQ(tool(on_token({"-certlist"})).out, "Certificate objects:\n1: label: '" + longest + "'\nOK\n");
}

TEST_F(Import, FileWithoutCertificate)
{
    const std::string pem = token_.dir() + "/c.pem";
    write_bytes(pem, pem_of(make_certificate_der("x")));
    const std::string text = token_.dir() + "/t.txt";
    write_bytes(text, "no certificate here\n");
    ProcessResult r = tool(on_token({"-infile", text, "-inform", "PEM", "-label", "x"}));
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Can't load certificate from PEM file " + text + "\ninput_pem failed, rc = 0x6\n");
    r = tool(on_token({"-infile", pem, "-inform", "DER", "-label", "x"}));
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Can't load certificate from DER file " + pem + "\ninput_der failed, rc = 0x6\n");
    r = tool(on_token({"-infile", pem, "-inform", "pfx", "-label", "x"}), "secret\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Can't convert DER file " + pem + " to P12\ninput_p12 failed, rc = 0x6\n");
}

TEST_F(Import, ContainerGivenAsPemIsNoCertificate)
{
    const std::string path = token_.dir() + "/a.p12";
    write_bytes(path, make_p12("secret"));
    ProcessResult r = tool(on_token({"-infile", path, "-inform", "pem", "-label", "x"}));
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Can't load certificate from PEM file " + path + "\ninput_pem failed, rc = 0x6\n");
}

TEST_F(Import, WrongContainerPasswordFailsBeforeThePin)
{
    const std::string path = token_.dir() + "/a.p12";
    write_bytes(path, make_p12("secret"));
    ProcessResult r = tool(on_token({"-infile", path, "-inform", "p12", "-label", "x"}), "wrong\n1234\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "PKCS12_parse failed\ninput_p12 failed, rc = 0x6\n");
    EXPECT_EQ(r.err, "Enter " + path + " container password:\n");
}

TEST_F(Import, WrongPinStoresNothing)
{
    const std::string p12 = token_.dir() + "/a.p12";
    write_bytes(p12, make_p12("secret"));
    const std::string pem = token_.dir() + "/c.pem";
    write_bytes(pem, pem_of(make_certificate_der("x")));
    ProcessResult r = tool(on_token({"-infile", pem, "-label", "x"}), std::string(255, '9') + "\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Token LOGIN failed\ninput_pem failed, rc = 0x6\n");
    EXPECT_EQ(client().count_certificates(), 0u);
}

// OpenSSL opens a container protected with its standard algorithms; a key
// that is not GOST is refused before the PIN is asked.
TEST_F(Import, ContainerWithANonGostKeyIsRefusedBeforeThePin)
{
    const std::string p12 = token_.dir() + "/a.p12";
    write_bytes(p12, make_p12("secret"));
    ProcessResult r = tool(on_token({"-infile", p12, "-inform", "P12", "-label", "x"}), "secret\n1234\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "The key in " + p12 + " is not a GOST key\ninput_p12 failed, rc = 0x6\n");
    EXPECT_EQ(r.err, "Enter " + p12 + " container password:\n");
    EXPECT_EQ(client().count_certificates(), 0u);
}

TEST_F(Import, PemAndDerCertificatesAreStoredUnderTheLabel)
{
    const Bytes der = make_certificate_der("imported");
    const std::string pem_path = token_.dir() + "/c.pem", der_path = token_.dir() + "/c.der";
    write_bytes(pem_path, pem_of(der));
    write_bytes(der_path, std::string(der.begin(), der.end()));
    ProcessResult r = tool(on_token({"-infile", pem_path, "-label", "from pem"}), "1234\n");
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Certificate object 'from pem' imported from '" + pem_path + "' file\nOK\n");
    r = tool(on_token({"-infile", der_path, "-inform", "der", "-label", "from der"}), "1234\n");
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(client().count_certificates(), 2u);
    for (const char *label : {"from pem", "from der"}) {
        const std::string out = token_.dir() + "/back.der";
        r = tool(on_token({"-label", label, "-outfile", out, "-outform", "der"}));
        EXPECT_EQ(r.exit_status, 0) << r.out;
        std::ifstream in(out, std::ios::binary);
        Bytes back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(back, der) << label;
    }
}

TEST_F(Import, PasswordTooLongFailsThePrompt)
{
    const std::string path = token_.dir() + "/a.p12";
    write_bytes(path, make_p12("secret"));
    ProcessResult r = tool(on_token({"-infile", path, "-inform", "p12", "-label", "x"}),
                           std::string(256, 'p') + "\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "The answer is longer than 255 bytes\nCan't get container password\ninput_p12 failed, rc = 0x6\n");
}

}  // namespace
