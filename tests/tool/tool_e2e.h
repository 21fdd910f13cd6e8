// Runs the real tokencert binary against a fresh SoftHSM2 token.
#ifndef TOKENCERT_TESTS_TOOL_E2E_H
#define TOKENCERT_TESTS_TOOL_E2E_H

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_process.h"
#include "softhsm_token.h"
#include "test_certs.h"

// This build's binary, or the one TOKENCERT_TOOL names (another build's).
inline const std::string kTokencert =
    std::getenv("TOKENCERT_TOOL") ? std::getenv("TOKENCERT_TOOL") : TOKENCERT_BINARY_DIR "/tool/tokencert";
inline const std::string kFaultModule = TOKENCERT_BINARY_DIR "/tests/modules/libfaultmod.so";
inline const std::string kNoEntryModule = TOKENCERT_BINARY_DIR "/tests/modules/libno_entry_module.so";

// What a test puts on the token.
struct CertSpec {
    std::string label;
    bool label_zero = true;  // store the label with its terminating zero byte
    size_t id_length = 20;
    unsigned char id_seed = 1;
    size_t padding = 0;  // extra certificate bytes
};

class TokencertTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(token_.ok()) << token_.error(); }

    // Runs tokencert with `args` on the token's module, without a terminal.
    ProcessResult tool(const std::vector<std::string> &args, const std::string &input = "",
                       const std::map<std::string, std::string> &env = {})
    {
        std::vector<std::string> argv{kTokencert};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.stdin_text = input;
        options.env = env;
        options.env[token_.env().first] = token_.env().second;
        options.timeout = std::chrono::seconds(60);
        ProcessResult result = run_process(argv, options);
        EXPECT_FALSE(result.timed_out) << "tokencert did not finish";
        return result;
    }

    // The same, through the fault module with the given settings.
    ProcessResult faulty(const std::map<std::string, std::string> &faults,
                         const std::vector<std::string> &args, const std::string &input = "")
    {
        std::vector<std::string> all{"-p11", kFaultModule};
        all.insert(all.end(), args.begin(), args.end());
        return tool(all, input, faults);
    }

    // -p11 <SoftHSM2> -slot <token slot> followed by `args`.
    std::vector<std::string> on_token(const std::vector<std::string> &args) const
    {
        std::vector<std::string> all{"-p11", token_.module_path(), "-slot", token_.slot_text()};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    TokenClient &client()
    {
        if (!client_)
            client_ = std::make_unique<TokenClient>(token_.module_path(), token_.slot(),
                                                    SoftHsmToken::kUserPin);
        return *client_;
    }

    // Puts a certificate on the token; returns its DER.
    Bytes put(const CertSpec &spec)
    {
        Bytes der = make_certificate_der(spec.label.empty() ? "test" : spec.label, spec.padding);
        client().put_certificate(der, spec.label_zero ? label_with_zero(spec.label)
                                                      : label_without_zero(spec.label),
                                 make_id(spec.id_length, spec.id_seed));
        return der;
    }

    // Puts `count` certificates labelled <prefix>1 ... <prefix>N.
    void put_many(size_t count, const std::string &prefix = "cert")
    {
        for (size_t i = 1; i <= count; ++i)
            put({prefix + std::to_string(i), true, 20, static_cast<unsigned char>(i)});
    }

    SoftHsmToken token_;
    std::unique_ptr<TokenClient> client_;
};

// The lines of a text, each without its newline.
inline std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

#endif
