// Points the tool's output streams at memory for the lifetime of the object:
// standard output alone, or standard error too.
#ifndef TOKENCERT_TESTS_TOOL_CAPTURED_STREAMS_H
#define TOKENCERT_TESTS_TOOL_CAPTURED_STREAMS_H

#include <string>

#include <openssl/bio.h>

#include "memory_bio.h"
#include "tool_state.h"

class CapturedStreams {
public:
    enum Which { kOutputAndErrors, kOutputOnly };

    explicit CapturedStreams(Which which = kOutputAndErrors)
        : memory_(BIO_new(BIO_s_mem())), saved_out_(bio_out), saved_err_(bio_err)
    {
        bio_out = memory_;
        if (which == kOutputAndErrors)
            bio_err = memory_;
    }
    ~CapturedStreams()
    {
        bio_out = saved_out_;
        bio_err = saved_err_;
        BIO_free(memory_);
    }
    CapturedStreams(const CapturedStreams &) = delete;
    CapturedStreams &operator=(const CapturedStreams &) = delete;

    std::string text() const { return memory_bio_text(memory_); }

private:
    BIO *memory_;
    BIO *saved_out_;
    BIO *saved_err_;
};

#endif
