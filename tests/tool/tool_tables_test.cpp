// The tool's tables, its error line, its hex dump and its command-line parser.
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/bio.h>

#include "attribute_dump.h"
#include "captured_streams.h"
#include "expected_usage.h"
#include "options.h"
#include "p11_errors.h"
#include "printable_text.h"
#include "tool_state.h"

namespace {

std::string name_of(CK_RV code, const char *initial = "unchanged")
{
    char buffer[1024];
    std::strcpy(buffer, initial);
    ckr_name(code, buffer, sizeof(buffer));
    return buffer;
}

TEST(ReturnCodeNames, TableHasEightyFourDistinctRowsWithLeadingBlank)
{
    ASSERT_EQ(ckr_names_count, 84u);
    std::set<CK_RV> codes;
    for (size_t i = 0; i < ckr_names_count; ++i) {
        codes.insert(ckr_names[i].code);
        EXPECT_EQ(std::string(ckr_names[i].name).rfind(" CKR_", 0), 0u) << ckr_names[i].name;
    }
    EXPECT_EQ(codes.size(), 84u);
}

TEST(ReturnCodeNames, NamesTheStandardCodes)
{
    EXPECT_EQ(name_of(0x0), " CKR_OK");
    EXPECT_EQ(name_of(0x150), " CKR_BUFFER_TOO_SMALL");
    EXPECT_EQ(name_of(0x80000000UL), " CKR_VENDOR_DEFINED");
    EXPECT_EQ(name_of(0xE0), " CKR_TOKEN_NOT_PRESENT");
    EXPECT_EQ(name_of(0x191), " CKR_CRYPTOKI_ALREADY_INITIALIZED");
    EXPECT_EQ(name_of(0x1A1), " CKR_MUTEX_NOT_LOCKED");
}

TEST(ReturnCodeNames, CodeOutsideTheTableLeavesTheBufferAlone)
{
    EXPECT_EQ(name_of(0x130), "unchanged");  // CKR_DOMAIN_PARAMS_INVALID is not in the table
    EXPECT_EQ(name_of(0x200), "unchanged");
    EXPECT_EQ(name_of(0x80000001UL), "unchanged");
}

TEST(ReturnCodeNames, NameIsCutToTheBuffer)
{
    char buffer[8];
    ckr_name(0x150, buffer, sizeof(buffer));
    EXPECT_STREQ(buffer, " CKR_BU");
}

TEST(ErrorLine, ShowsFunctionSignedCodeAndName)
{
    CapturedStreams streams;
    print_p11_error("C_OpenSession", 0xE0);
    print_p11_error("C_GetAttributeValue", 0x150);
    print_p11_error("C_Login", 0x80000000UL);
    print_p11_error("C_FindObjects", 0x130);
    EXPECT_EQ(streams.text(),
              "C_OpenSession error: 224 ( CKR_TOKEN_NOT_PRESENT)\n"
              "C_GetAttributeValue error: 336 ( CKR_BUFFER_TOO_SMALL)\n"
              "C_Login error: -2147483648 ( CKR_VENDOR_DEFINED)\n"
              "C_FindObjects error: 304 ( unknown)\n");
}

TEST(ExitStatus, FailureNeverBecomesSuccess)
{
    EXPECT_EQ(exit_status_for(0), 0);
    EXPECT_EQ(exit_status_for(6), 6);
    EXPECT_EQ(exit_status_for(0xE0), 224);
    EXPECT_EQ(exit_status_for(0x150), 0x50);
    EXPECT_EQ(exit_status_for(0x100), 1);
    EXPECT_EQ(exit_status_for(0x80000000UL), 1);
}

TEST(AttributeNames, EightySevenRowsWithEcParamsTwice)
{
    ASSERT_EQ(attribute_names_count, 87u);
    std::vector<size_t> ec_rows;
    for (size_t i = 0; i < attribute_names_count; ++i)
        if (attribute_names[i].type == 0x180)
            ec_rows.push_back(i);
    ASSERT_EQ(ec_rows.size(), 2u);
    EXPECT_STREQ(attribute_names[ec_rows[0]].name, "CKA_ECDSA_PARAMS");
    EXPECT_STREQ(attribute_names[ec_rows[1]].name, "CKA_EC_PARAMS");
    EXPECT_EQ(ec_rows[1], ec_rows[0] + 1);
    EXPECT_STREQ(attribute_names[0].name, "CKA_CLASS");
    EXPECT_STREQ(attribute_names[3].name, "CKA_LABEL");
    EXPECT_EQ(attribute_names[84].type, 0x250u);
    EXPECT_EQ(attribute_names[85].type, 0x251u);
    EXPECT_EQ(attribute_names[86].type, 0x252u);
    EXPECT_STREQ(attribute_names[86].name, "CKA_GOST28147_PARAMS");
}

TEST(AttributeNames, OnlyEcParamsRepeatsAType)
{
    std::set<CK_ATTRIBUTE_TYPE> types;
    for (size_t i = 0; i < attribute_names_count; ++i)
        types.insert(attribute_names[i].type);
    EXPECT_EQ(types.size(), 86u);
}

TEST(HexDump, EightBytesToALineThenAnEmptyLine)
{
    CapturedStreams streams;
    print_hex(nullptr, 0);
    const unsigned char two[] = {0x30, 0x82};
    print_hex(two, 2);
    const unsigned char nine[] = {0, 1, 2, 3, 4, 5, 6, 7, 0xff};
    print_hex(nine, 9);
    const unsigned char eight[] = {0xa, 0xb, 0xc, 0xd, 0xe, 0xf, 0x10, 0x11};
    print_hex(eight, 8);
    EXPECT_EQ(streams.text(),
              "\n"
              "0x30, 0x82, \n\n"
              "0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, \n0xff, \n\n"
              "0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, \n\n");
}

// Parses a command line given as words after the program name; the words
// stay alive with the result, since the parser points into them.
struct Parsed {
    std::vector<std::string> words;
    bool ok = false;
    CommandLine cmd;
};
std::unique_ptr<Parsed> parse(std::vector<std::string> words)
{
    auto p = std::make_unique<Parsed>();
    p->words = std::move(words);
    p->words.insert(p->words.begin(), "tokencert");
    std::vector<char *> argv;
    for (std::string &w : p->words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    p->ok = parse_command_line(static_cast<int>(p->words.size()), argv.data(), p->cmd);
    return p;
}

TEST(PrintableText, ControlBytesAreEscapedEveryOtherByteKept)
{
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string escaped = "\\x" + std::string("0123456789abcdef").substr(b >> 4, 1) + "0123456789abcdef"[b & 15];
        EXPECT_EQ(printable(one), b < 0x20 || b == 0x7f ? escaped : one) << b;
        EXPECT_EQ(printable("\xc2" + one), b >= 0x80 && b < 0xa0 ? "\\xc2" + escaped : "\xc2" + printable(one)) << b;
    }
}

TEST(CommandLine, UsageCases)
{
    EXPECT_FALSE(parse({})->ok);
    EXPECT_FALSE(parse({"p11"})->ok);                              // first word is no option
    EXPECT_FALSE(parse({"-p11", "m.so", "-bogus"})->ok);           // unknown option
    EXPECT_FALSE(parse({"-bogus", "-help"})->ok);                  // -help
    EXPECT_FALSE(parse({"-p11", "m.so", "-help", "-certlist"})->ok);
    EXPECT_FALSE(parse({"-certlist"})->ok);                        // no -p11
    EXPECT_FALSE(parse({"-p11"})->ok);                             // value missing
    EXPECT_FALSE(parse({"-p11", "m.so", "-label"})->ok);           // value missing
    EXPECT_FALSE(parse({"-p11", "m.so", "--certlist"})->ok);       // no double-dash forms
    EXPECT_FALSE(parse({"-p11=m.so"})->ok);                        // no equals forms
    EXPECT_FALSE(parse({"-P11", "m.so"})->ok);                     // case-sensitive
}

TEST(CommandLine, OptionsSetFlagsAndValues)
{
    auto p = parse({"-p11", "m.so", "-slot", "7", "-label", "a", "-outfile", "f", "-outform", "der",
                      "-infile", "i", "-inform", "pfx", "-certlist", "-attributes", "-print",
                      "-pkeyfind", "-remove", "-p11info", "-slotlist", "-tokeninfo"});
    ASSERT_TRUE(p->ok);
    EXPECT_EQ(p->cmd.flags, 0x3FFBCu);
    EXPECT_STREQ(p->cmd.module_path, "m.so");
    EXPECT_STREQ(p->cmd.slot, "7");
    EXPECT_STREQ(p->cmd.label, "a");
    EXPECT_STREQ(p->cmd.outfile, "f");
    EXPECT_STREQ(p->cmd.outform, "der");
    EXPECT_STREQ(p->cmd.infile, "i");
    EXPECT_STREQ(p->cmd.inform, "pfx");
}

TEST(CommandLine, P11AloneIsExactlyItsFlag)
{
    auto p = parse({"-p11", "m.so"});
    ASSERT_TRUE(p->ok);
    EXPECT_EQ(p->cmd.flags, 0x80u);
}

TEST(CommandLine, ValueIsTakenWhateverItLooksLike)
{
    auto p = parse({"-p11", "m.so", "-label", "-print"});
    ASSERT_TRUE(p->ok);
    EXPECT_STREQ(p->cmd.label, "-print");
    EXPECT_EQ(p->cmd.flags & OPT_PRINT, 0u);
}

TEST(CommandLine, StrayWordIsNamed)
{
    auto p = parse({"-p11", "m.so", "extra", "-certlist", "-bogus"});
    ASSERT_FALSE(p->ok);
    EXPECT_EQ(p->cmd.complaint, "Unexpected argument 'extra'");
}

TEST(CommandLine, RepeatedOptionOverwritesItsValue)
{
    auto p = parse({"-p11", "a.so", "-label", "x", "-p11", "b.so", "-label", "y"});
    ASSERT_TRUE(p->ok);
    EXPECT_STREQ(p->cmd.module_path, "b.so");
    EXPECT_STREQ(p->cmd.label, "y");
}

TEST(Usage, TextIsExact)
{
    BIO *memory = BIO_new(BIO_s_mem());
    write_usage(memory, "prog");
    EXPECT_EQ(memory_bio_text(memory), expected_usage("prog"));
    BIO_free(memory);
}

}  // namespace
