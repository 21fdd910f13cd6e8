// Export of a labelled certificate to a PEM or DER file.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/stat.h>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "tool_e2e.h"

namespace {

Bytes read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

using Export = TokencertTest;

TEST_F(Export, PemByDefaultAndForPemNames)
{
    Bytes der = put({"abc"});
    const std::string expected = pem_of(der);
    int n = 0;
    for (const std::vector<std::string> &form :
         {std::vector<std::string>{}, {"-outform", "PEM"}, {"-outform", "pem"}}) {
        std::string path = token_.dir() + "/out" + std::to_string(n++) + ".pem";
        std::vector<std::string> args{"-label", "abc", "-outfile", path};
        args.insert(args.end(), form.begin(), form.end());
        ProcessResult r = tool(on_token(args));
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.out, "Certificate object 'abc' exported to '" + path + "' file\nOK\n");
        Bytes written = read_file(path);
        EXPECT_EQ(std::string(written.begin(), written.end()), expected);
    }
}

TEST_F(Export, DerInAnyCaseWritesTheRawValue)
{
    Bytes der = put({"abc"});
    int n = 0;
    for (const char *form : {"DER", "der", "Der"}) {
        std::string path = token_.dir() + "/out" + std::to_string(n++) + ".der";
        ProcessResult r = tool(on_token({"-label", "abc", "-outfile", path, "-outform", form}));
        EXPECT_EQ(r.exit_status, 0) << form;
        EXPECT_EQ(r.out, "Certificate object 'abc' exported to '" + path + "' file\nOK\n");
        EXPECT_EQ(read_file(path), der) << form;
    }
}

TEST_F(Export, CertificateLargerThanEightKilobytesIsExportedWhole)
{
    Bytes der = put({"big", true, 20, 1, 12000});
    ASSERT_GT(der.size(), 12000u);
    std::string path = token_.dir() + "/big.der";
    ProcessResult r = tool(on_token({"-label", "big", "-outfile", path, "-outform", "der"}));
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_EQ(read_file(path), der);
    path = token_.dir() + "/big.pem";
    r = tool(on_token({"-label", "big", "-outfile", path}));
    EXPECT_EQ(r.exit_status, 0) << r.out;
    Bytes written = read_file(path);
    EXPECT_EQ(std::string(written.begin(), written.end()), pem_of(der));
}

TEST_F(Export, UnknownLabelFailsAndCreatesNoFile)
{
    put({"abc"});
    put({"nozero", false});
    for (const char *form : {"pem", "der"}) {
        for (const char *label : {"none", "nozer"}) {
            std::string path = token_.dir() + "/missing." + form;
            ProcessResult r = tool(on_token({"-label", label, "-outfile", path, "-outform", form}));
            EXPECT_EQ(r.exit_status, 6);
            EXPECT_EQ(r.out, std::string("No certificate object with label '") + label + "' found\n"
                             "output_certificate failed, rc = 0x6\n");
            EXPECT_FALSE(exists(path));
        }
    }
}

TEST_F(Export, FileThatCannotBeOpenedFailsTheExport)
{
    put({"abc"});
    const std::string path = token_.dir() + "/no/such/dir/out";
    for (const char *form : {"pem", "der"}) {
        ProcessResult r = tool(on_token({"-label", "abc", "-outfile", path, "-outform", form}));
        EXPECT_EQ(r.exit_status, 6) << form;
        EXPECT_EQ(r.out, "Can't open file " + path + " for writing: No such file or directory\n"
                         "output_certificate failed, rc = 0x6\n");
    }
}

TEST_F(Export, FileThatCannotBeWrittenFailsTheExport)
{
    if (!exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    put({"abc"});
    for (const char *form : {"pem", "der"}) {
        ProcessResult r = tool(on_token({"-label", "abc", "-outfile", "/dev/full", "-outform", form}));
        EXPECT_EQ(r.exit_status, 6) << form;
        EXPECT_EQ(r.out, "Error writing to file /dev/full: No space left on device\noutput_certificate failed, rc = 0x6\n");
    }
}

// Files in a directory other than the ones an export may leave behind.
std::vector<std::string> names_in(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(Export, FailedWriteLeavesTheFileAsItWas)
{
    put({"big", true, 20, 1, 12000});
    const std::string dir = token_.dir() + "/out";
    std::filesystem::create_directory(dir);
    const std::string path = dir + "/big";
    std::ofstream(path) << "old content";
    for (const char *form : {"pem", "der"}) {
        // Files may not grow past 4 KB: the write fails with EFBIG.
        std::vector<std::string> argv{"bash", "-c", "trap '' XFSZ; ulimit -f 4; exec \"$0\" \"$@\"", kTokencert};
        for (const std::string &a : on_token({"-label", "big", "-outfile", path, "-outform", form}))
            argv.push_back(a);
        ProcessOptions options;
        options.env[token_.env().first] = token_.env().second;
        ProcessResult r = run_process(argv, options);
        EXPECT_EQ(r.exit_status, 6) << form;
        EXPECT_EQ(r.out, "Error writing to file " + path + ": File too large\noutput_certificate failed, rc = 0x6\n");
        Bytes kept = read_file(path);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "old content") << form;
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"big"}) << form;
    }
}

TEST_F(Export, ReplacedFilesKeepTheirModeAndLinksAreWrittenThrough)
{
    Bytes der = put({"abc"});
    const std::string dir = token_.dir() + "/out";
    std::filesystem::create_directory(dir);
    const std::string kept = dir + "/kept.der", fresh = dir + "/fresh.der", target = dir + "/target.der",
                      link = dir + "/link.der";
    std::ofstream(kept) << "old";
    chmod(kept.c_str(), 0640);
    std::ofstream(target) << "old";
    std::filesystem::create_symlink(target, link);
    std::filesystem::create_hard_link(kept, dir + "/hard.der");  // written in place, it stays a link
    for (const std::string &path : {kept, fresh, link}) {
        ProcessResult r = tool(on_token({"-label", "abc", "-outfile", path, "-outform", "der"}));
        EXPECT_EQ(r.exit_status, 0) << path << r.out;
    }
    struct stat st {};
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(read_file(kept), der);
    const mode_t mask = umask(0);
    umask(mask);
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(read_file(target), der);
    EXPECT_TRUE(read_file(dir + "/hard.der") == der && std::filesystem::hard_link_count(kept) == 2);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"fresh.der", "hard.der", "kept.der", "link.der", "target.der"}));
}

TEST_F(Export, ValueThatIsNoCertificateFailsThePemExport)
{
    Bytes junk = {0x30, 0x03, 0x02, 0x01, 0x01};
    client().put_certificate(make_certificate_der("x"), label_with_zero("real"), make_id(20));
    // SoftHSM2 keeps what it is given as the value.
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    Bytes label = label_with_zero("junk");
    CK_ATTRIBUTE tmpl[] = {
        {CKA_CLASS, &cls, sizeof(cls)},
        {CKA_CERTIFICATE_TYPE, &type, sizeof(type)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_SUBJECT, junk.data(), junk.size()},
        {CKA_VALUE, junk.data(), junk.size()},
        {CKA_LABEL, label.data(), label.size()},
    };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(client().functions()->C_CreateObject(client().session(), tmpl, 6, &handle), CKR_OK);
    const std::string path = token_.dir() + "/junk.pem";
    ProcessResult r = tool(on_token({"-label", "junk", "-outfile", path}));
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Can't decode the certificate value\noutput_certificate failed, rc = 0x6\n");
    EXPECT_FALSE(exists(path));
    // The DER path writes the bytes as they are.
    r = tool(on_token({"-label", "junk", "-outfile", path, "-outform", "der"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(read_file(path), junk);
}

TEST_F(Export, FailingValueReadFailsTheExport)
{
    put({"abc"});
    const std::string path = token_.dir() + "/x.der";
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_GetAttributeValue"}, {"FAULTMOD_ATTR", "0x11"},
                              {"FAULTMOD_RV", "0x30"}},
                             {"-slot", token_.slot_text(), "-label", "abc", "-outfile", path, "-outform", "der"});
    EXPECT_EQ(r.exit_status, 0x30);
    EXPECT_EQ(r.out, "C_GetAttributeValue error: 48 ( CKR_DEVICE_ERROR)\noutput_certificate failed, rc = 0x30\n");
    EXPECT_FALSE(exists(path));
}

TEST_F(Export, AbsurdValueLengthFailsTheExport)
{
    put({"abc"});
    const std::string path = token_.dir() + "/x.der";
    // A module that announces a value larger than any memory.
    ProcessResult r = faulty({{"FAULTMOD_HUGE_LENGTH", "1"}, {"FAULTMOD_ATTR", "0x11"}},
                             {"-slot", token_.slot_text(), "-label", "abc", "-outfile", path, "-outform", "der"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "C_GetAttributeValue error: 2 ( CKR_HOST_MEMORY)\noutput_certificate failed, rc = 0x2\n");
    EXPECT_FALSE(exists(path));
}

TEST_F(Export, ActionsRunInTheirFixedOrder)
{
    put({"abc", true, 20, 3});
    client().put_private_key(label_with_zero("abc"), make_id(20, 3));
    const std::string path = token_.dir() + "/o.der";
    ProcessResult r = tool(on_token({"-outfile", path, "-outform", "der", "-attributes", "-label", "abc",
                                     "-pkeyfind", "-certlist", "-tokeninfo"}),
                           "1234\n");
    EXPECT_EQ(r.exit_status, 0);
    size_t token = r.out.find("Token #");
    size_t list = r.out.find("Certificate objects:\n1: label: 'abc'\n");
    size_t key = r.out.find("Certificate label: 'abc'\nPrivate key found, label: 'abc'\n");
    // -attributes also dumps each listed certificate; the labelled dump has
    // its own line without a number.
    size_t dump = r.out.find("\nlabel: 'abc'\n=====");
    size_t exported = r.out.find("Certificate object 'abc' exported");
    ASSERT_NE(token, std::string::npos);
    ASSERT_NE(list, std::string::npos);
    ASSERT_NE(key, std::string::npos);
    ASSERT_NE(dump, std::string::npos);
    ASSERT_NE(exported, std::string::npos);
    EXPECT_LT(token, list);
    EXPECT_LT(list, key);
    EXPECT_LT(key, dump);
    EXPECT_LT(dump, exported);
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");
}

TEST_F(Export, FailedActionStopsTheLaterOnes)
{
    put({"abc"});
    const std::string path = token_.dir() + "/o.der";
    ProcessResult r = tool(on_token({"-label", "none", "-pkeyfind", "-outfile", path}), "1234\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "No certificate object with label 'none' found\nfind_private_key_for_certificate failed, rc = 0x6\n");
    EXPECT_FALSE(exists(path));
}

}  // namespace

namespace {

using Removal = TokencertTest;

TEST_F(Removal, WrongPinDeletesNothing)
{
    put({"abc"});
    ProcessResult r = tool(on_token({"-remove", "-label", "abc"}), "9999\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Token LOGIN failed\nremove_certificate failed, rc = 0x6\n");
    EXPECT_EQ(client().count_certificates(), 1u);
}

TEST_F(Removal, MissingOrTooLongPinFailsThePrompt)
{
    put({"abc"});
    // The PIN buffer holds 255 bytes.
    for (const std::string &input : {std::string(), std::string(256, '1') + "\n"}) {
        ProcessResult r = tool(on_token({"-remove", "-label", "abc"}), input);
        EXPECT_EQ(r.exit_status, 6);
        EXPECT_EQ(r.out, (input.empty() ? "" : "The answer is longer than 255 bytes\n") +
                             std::string("Can't get user PIN\nremove_certificate failed, rc = 0x6\n"));
    }
    ProcessResult r = tool(on_token({"-remove", "-label", "abc"}), std::string(255, '1') + "\n");
    EXPECT_EQ(r.out, "Token LOGIN failed\nremove_certificate failed, rc = 0x6\n");
    EXPECT_EQ(client().count_certificates(), 1u);
}

TEST_F(Removal, PrintRunsBeforeRemovalWhateverTheOrder)
{
    put({"abc"});
    ProcessResult r = tool(on_token({"-remove", "-label", "none", "-print"}), "1234\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "STORE_get_certificate failed\nprint_certificate failed, rc = 0x6\n");
    EXPECT_EQ(client().count_certificates(), 1u);
}

}  // namespace
