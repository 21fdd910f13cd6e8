// Certificate enumeration, attribute dumps and the private-key search of the
// real binary on a SoftHSM2 token filled through PKCS#11.
#include <algorithm>
#include <regex>
#include <set>
#include <string>

#include "tool_e2e.h"

namespace {

struct ListedLine {
    int number;
    std::string label;
};

// The "N: label: 'L'" lines of a certificate listing.
std::vector<ListedLine> listed(const std::string &out)
{
    std::vector<ListedLine> result;
    static const std::regex line("^([0-9]+): label: '(.*)'$");
    for (const std::string &text : lines_of(out)) {
        std::smatch m;
        if (std::regex_match(text, m, line))
            result.push_back({std::stoi(m[1]), m[2]});
    }
    return result;
}

size_t count_of(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

using CertList = TokencertTest;

TEST_F(CertList, EmptyTokenListsOnlyTheHeading)
{
    ProcessResult r = tool(on_token({"-certlist"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Certificate objects:\nOK\n");
}

TEST_F(CertList, OneCertificate)
{
    put({"abc"});
    ProcessResult r = tool(on_token({"-certlist"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Certificate objects:\n1: label: 'abc'\nOK\n");
}

TEST_F(CertList, EveryCertificateIsNumberedAcrossBatches)
{
    for (size_t count : {10u, 11u, 25u}) {
        SCOPED_TRACE(count);
        SoftHsmToken fresh;
        ASSERT_TRUE(fresh.ok());
        {
            TokenClient c(fresh.module_path(), fresh.slot(), SoftHsmToken::kUserPin);
            for (size_t i = 1; i <= count; ++i)
                c.put_certificate(make_certificate_der("c"), label_with_zero("cert" + std::to_string(i)),
                                  make_id(20, static_cast<unsigned char>(i)));
        }
        ProcessResult r = run_process(
            {kTokencert, "-p11", fresh.module_path(), "-slot", fresh.slot_text(), "-certlist"},
            {"", {fresh.env()}, std::chrono::seconds(60)});
        EXPECT_EQ(r.exit_status, 0);
        std::vector<ListedLine> lines = listed(r.out);
        ASSERT_EQ(lines.size(), count) << r.out;
        std::set<std::string> labels;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].number, static_cast<int>(i + 1));
            labels.insert(lines[i].label);
        }
        EXPECT_EQ(labels.size(), count);
        EXPECT_EQ(labels.count("cert" + std::to_string(count)), 1u);
        EXPECT_EQ(r.out.rfind("Certificate objects:\n", 0), 0u);
        EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");
    }
}

TEST_F(CertList, ReadingInBatchesOfTen)
{
    put_many(11);
    // The second C_FindObjects fails: only the first batch of ten is listed.
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_FindObjects"}, {"FAULTMOD_RV", "0x30"}, {"FAULTMOD_SKIP", "1"}},
                             {"-slot", token_.slot_text(), "-certlist"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(listed(r.out).size(), 10u);
    EXPECT_NE(r.out.find("10: label: '"), std::string::npos);
    EXPECT_NE(r.out.find("C_FindObjects error: 48 ( CKR_DEVICE_ERROR)\nOK\n"), std::string::npos) << r.out;
}

TEST_F(CertList, UnreadableIdLeavesAGapInTheNumbers)
{
    for (int i = 1; i <= 11; ++i) {
        bool long_id = i % 4 == 0;  // two certificates with a 300-byte CKA_ID
        put({(long_id ? "long" : "short") + std::to_string(i), true, long_id ? 300u : 20u,
             static_cast<unsigned char>(i)});
    }
    ProcessResult r = tool(on_token({"-certlist"}));
    EXPECT_EQ(r.exit_status, 0);
    std::vector<ListedLine> lines = listed(r.out);
    ASSERT_EQ(lines.size(), 9u) << r.out;
    std::set<int> numbers;
    for (const ListedLine &line : lines) {
        EXPECT_EQ(line.label.rfind("short", 0), 0u);
        EXPECT_GE(line.number, 1);
        EXPECT_LE(line.number, 11);
        numbers.insert(line.number);
    }
    EXPECT_EQ(numbers.size(), 9u);
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end(),
                               [](const ListedLine &a, const ListedLine &b) { return a.number < b.number; }));
}

TEST_F(CertList, LabelWithoutZeroByteIsListed)
{
    put({"nozero", false});
    ProcessResult r = tool(on_token({"-certlist"}));
    EXPECT_EQ(r.out, "Certificate objects:\n1: label: 'nozero'\nOK\n");
}

TEST_F(CertList, WithAttributesEachLabelLineIsFollowedByItsDump)
{
    put({"abc"});
    put({"def", true, 300, 2});
    ProcessResult r = tool(on_token({"-certlist", "-attributes"}));
    EXPECT_EQ(r.exit_status, 0);
    // Two dumps, also of the certificate whose label line is missing.
    EXPECT_EQ(count_of(r.out, "==================================\nObject handle: 0x"), 2u);
    EXPECT_EQ(count_of(r.out, "----------------------------------\n"), 4u);
    size_t label_line = r.out.find("label: 'abc'\n");
    ASSERT_NE(label_line, std::string::npos);
    EXPECT_EQ(r.out.substr(label_line + 13, 35), "==================================\n");
    EXPECT_EQ(r.out.find("label: 'def'"), std::string::npos);
    const std::string tail = "\n----------------------------------\nOK\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST_F(CertList, FailingSessionOrSearchIsReported)
{
    put({"abc"});
    // The tool's own session is the first; the listing opens the second.
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_OpenSession"}, {"FAULTMOD_RV", "0xB1"}, {"FAULTMOD_SKIP", "1"}},
                             {"-slot", token_.slot_text(), "-certlist"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "C_OpenSession error: 177 ( CKR_SESSION_COUNT)\nOK\n");

    r = faulty({{"FAULTMOD_FUNC", "C_FindObjectsInit"}, {"FAULTMOD_RV", "0x90"}},
               {"-slot", token_.slot_text(), "-certlist"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "C_FindObjectsInit error: 144 ( CKR_OPERATION_ACTIVE)\nOK\n");
}

using AttributeDump = TokencertTest;

TEST_F(AttributeDump, LabelledCertificateDumpsItsAttributes)
{
    Bytes der = put({"abc"});
    ProcessResult r = tool(on_token({"-attributes", "-label", "abc"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out.rfind("label: 'abc'\n==================================\nObject handle: 0x", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n----------------------------------\nCKA_CLASS\n"
                         "0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, \n\n"
                         "CKA_TOKEN\n0x01, \n\n"
                         "CKA_PRIVATE\n0x00, \n\n"
                         "CKA_LABEL\n0x61, 0x62, 0x63, 0x00, \n\n"),
              std::string::npos)
        << r.out;
    // A 20-byte ID: two full lines and one of four.
    Bytes id = make_id(20);
    char expected_id[256];
    std::snprintf(expected_id, sizeof(expected_id), "CKA_ID\n0x%02x, 0x%02x, ", id[0], id[1]);
    EXPECT_NE(r.out.find(expected_id), std::string::npos);
    // The whole value is dumped: one line per eight bytes.
    size_t value = r.out.find("CKA_VALUE\n");
    ASSERT_NE(value, std::string::npos);
    size_t value_end = r.out.find("\n\n", value);
    EXPECT_EQ(count_of(r.out.substr(value, value_end - value), "\n"), (der.size() + 7) / 8);
    // Empty attributes and attributes the object lacks.
    EXPECT_NE(r.out.find("CKA_URL: length 0\n\n"), std::string::npos);
    EXPECT_EQ(r.out.find("CKA_MODULUS"), std::string::npos);
    EXPECT_EQ(r.out.find("CKA_EC_PARAMS"), std::string::npos);
    const std::string tail = "\n\n----------------------------------\nOK\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST_F(AttributeDump, SensitiveAttributeIsNamedSo)
{
    put({"abc"});
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_GetAttributeValue"}, {"FAULTMOD_ATTR", "0x11"},
                              {"FAULTMOD_RV", "0x11"}},
                             {"-slot", token_.slot_text(), "-attributes", "-label", "abc"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find("CKA_LABEL\n0x61, 0x62, 0x63, 0x00, \n\nCKA_VALUE: attribute sensitive\n\n"),
              std::string::npos)
        << r.out;
}

TEST_F(AttributeDump, AbsurdLengthLeavesOutOnlyThatAttribute)
{
    put({"abc"});
    ProcessResult r = faulty({{"FAULTMOD_HUGE_LENGTH", "1"}, {"FAULTMOD_ATTR", "0x11"}},
                             {"-slot", token_.slot_text(), "-attributes", "-label", "abc"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find("CKA_LABEL\n0x61, 0x62, 0x63, 0x00, \n\nCKA_CERTIFICATE_TYPE\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("CKA_VALUE"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");
}

TEST_F(AttributeDump, EveryCertificateWithTheLabelIsDumped)
{
    put({"twin", true, 20, 1});
    put({"twin", true, 20, 2});
    put({"other", true, 20, 3});
    ProcessResult r = tool(on_token({"-attributes", "-label", "twin"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(count_of(r.out, "label: 'twin'\n"), 2u);
    EXPECT_EQ(count_of(r.out, "Object handle: "), 2u);
}

TEST_F(AttributeDump, NoMatchFailsTheAction)
{
    put({"abc"});
    put({"abcd", false});
    for (const std::string label : {"abd", "ab"}) {
        ProcessResult r = tool(on_token({"-attributes", "-label", label}));
        EXPECT_EQ(r.exit_status, 6) << label;
        EXPECT_EQ(r.out, "No certificate object with label '" + label + "' found\ndump_certificate failed, rc = 0x6\n");
    }
}

TEST_F(AttributeDump, FailingSearchFailsTheAction)
{
    put({"abc"});
    ProcessResult r = faulty({{"FAULTMOD_FUNC", "C_FindObjectsFinal"}, {"FAULTMOD_RV", "0x91"}},
                             {"-slot", token_.slot_text(), "-attributes", "-label", "abc"});
    EXPECT_EQ(r.exit_status, 0x91);
    EXPECT_NE(r.out.find("C_FindObjectsFinal error: 145 ( CKR_OPERATION_NOT_INITIALIZED)\n"
                         "dump_certificate failed, rc = 0x91\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("OK\n"), std::string::npos);
}

using KeySearch = TokencertTest;

TEST_F(KeySearch, FindsTheKeyWithTheCertificateId)
{
    put({"abc", true, 20, 7});
    client().put_private_key(label_with_zero("abc-key"), make_id(20, 7));
    ProcessResult r = tool(on_token({"-pkeyfind", "-label", "abc"}), "1234\n");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Certificate label: 'abc'\nPrivate key found, label: 'abc-key'\nOK\n");
    EXPECT_EQ(r.err, "Enter user PIN:\n");
}

TEST_F(KeySearch, KeyMissingIsNoFailure)
{
    put({"abc", true, 20, 7});
    client().put_private_key(label_with_zero("other"), make_id(20, 8));
    ProcessResult r = tool(on_token({"-pkeyfind", "-label", "abc"}), "1234\n");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Certificate label: 'abc'\nPrivate key not found\nOK\n");
    // A key found whose label can't be read is a failure.
    client().put_private_key(label_with_zero(std::string(300, 'k')), make_id(20, 7));
    r = tool(on_token({"-pkeyfind", "-label", "abc"}), "1234\n");
    EXPECT_EQ(r.exit_status, 0x50);  // the low byte of CKR_BUFFER_TOO_SMALL
}

TEST_F(KeySearch, UnknownLabelIsReported)
{
    put({"nozero", false});
    for (const std::string label : {"none", "nozer"}) {
        ProcessResult r = tool(on_token({"-pkeyfind", "-label", label}), "1234\n");
        EXPECT_EQ(r.exit_status, 6);
        EXPECT_EQ(r.out, "No certificate object with label '" + label +
                             "' found\nfind_private_key_for_certificate failed, rc = 0x6\n");
    }
}

TEST_F(KeySearch, IdTooLongToReadHasNoId)
{
    put({"long", true, 300});
    ProcessResult r = tool(on_token({"-pkeyfind", "-label", "long"}), "1234\n");
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "Certificate label: 'long'\n"
                     "C_GetAttributeValue error: 336 ( CKR_BUFFER_TOO_SMALL)\n"
                     "NULL certificate CKA_ID\n"
                     "find_private_key_for_certificate failed, rc = 0x6\n");
}

TEST_F(KeySearch, WrongPinFailsTheLogin)
{
    put({"abc"});
    ProcessResult r = tool(on_token({"-pkeyfind", "-label", "abc"}), "9999\n");
    EXPECT_EQ(r.exit_status, 0xA0);
    EXPECT_EQ(r.out, "C_Login error: 160 ( CKR_PIN_INCORRECT)\n"
                     "find_private_key_for_certificate failed, rc = 0xa0\n");
}

TEST_F(KeySearch, NoPinOrTooLongAPinFailsThePrompt)
{
    put({"abc"});
    // 255 bytes fit the PIN buffer; 256 do not.
    ProcessResult r = tool(on_token({"-pkeyfind", "-label", "abc"}), std::string(255, '1') + "\n");
    EXPECT_EQ(r.exit_status, 0xA0);
    for (const std::string &input : {std::string(), std::string(256, '1') + "\n"}) {
        r = tool(on_token({"-pkeyfind", "-label", "abc"}), input);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, (input.empty() ? "" : "The answer is longer than 255 bytes\n") +
                             std::string("Can't get user PIN\nfind_private_key_for_certificate failed, rc = 0xffffffff\n"));
    }
}

TEST_F(KeySearch, PinIsNotEchoedOnATerminal)
{
    put({"abc", true, 20, 7});
    client().put_private_key(label_with_zero("abc-key"), make_id(20, 7));
    std::vector<std::string> argv{kTokencert};
    for (const std::string &a : on_token({"-pkeyfind", "-label", "abc"}))
        argv.push_back(a);
    ProcessOptions options;
    options.env[token_.env().first] = token_.env().second;
    options.timeout = std::chrono::seconds(30);
    ProcessResult r = run_in_terminal(argv, {{"Enter user PIN:", "1234\r"}}, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("Enter user PIN:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Private key found, label: 'abc-key'"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("1234"), std::string::npos) << r.out;
}

using Print = TokencertTest;

TEST_F(Print, UnknownLabelFailsTheStoreLookup)
{
    put({"abc"});
    ProcessResult r = tool(on_token({"-print", "-label", "none"}));
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, "STORE_get_certificate failed\nprint_certificate failed, rc = 0x6\n");
}

}  // namespace
