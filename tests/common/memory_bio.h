// The text written so far to an OpenSSL memory BIO.
#ifndef TOKENCERT_TEST_MEMORY_BIO_H
#define TOKENCERT_TEST_MEMORY_BIO_H

#include <string>

#include <openssl/bio.h>

inline std::string memory_bio_text(BIO *memory)
{
    char *data = nullptr;
    long length = BIO_get_mem_data(memory, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

#endif
