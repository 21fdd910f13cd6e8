// Hashes its standard input with a digest fetched by name from the
// zk_p11_core_2012 provider, as any OpenSSL 3 program would: no engine, no
// legacy calls.
//
//   provider_digest PROVIDER_DIR NAME < file     prints the digest in hex
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

template <auto Free>
struct Deleter {
    template <class T>
    void operator()(T *p) const { Free(p); }
};

int fail(const char *what)
{
    std::fprintf(stderr, "provider_digest: %s\n", what);
    ERR_print_errors_fp(stderr);
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return fail("usage: provider_digest PROVIDER_DIR NAME < file");
    std::unique_ptr<OSSL_LIB_CTX, Deleter<OSSL_LIB_CTX_free>> lib(OSSL_LIB_CTX_new());
    if (!lib || !OSSL_PROVIDER_set_default_search_path(lib.get(), argv[1]))
        return fail("no library context");
    std::unique_ptr<OSSL_PROVIDER, Deleter<OSSL_PROVIDER_unload>> provider(
        OSSL_PROVIDER_load(lib.get(), "zk_p11_core_2012"));
    if (!provider)
        return fail("cannot load the provider");
    std::unique_ptr<EVP_MD, Deleter<EVP_MD_free>> md(EVP_MD_fetch(lib.get(), argv[2], nullptr));
    std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>> ctx(EVP_MD_CTX_new());
    if (!md || !ctx || !EVP_DigestInit_ex(ctx.get(), md.get(), nullptr))
        return fail("no such digest");
    std::vector<unsigned char> buf(1 << 16);
    for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), stdin)) != 0;)
        if (!EVP_DigestUpdate(ctx.get(), buf.data(), n))
            return fail("digest update failed");
    if (std::ferror(stdin))
        return fail("cannot read the input");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    if (!EVP_DigestFinal_ex(ctx.get(), digest, &len))
        return fail("digest final failed");
    for (unsigned i = 0; i < len; ++i)
        std::printf("%02x", digest[i]);
    std::printf("\n");
    return 0;
}
