// The hashes and the MAC allocate nothing per call: a counting replacement of
// the global allocation functions sees no allocation between the first and the
// last call of a message (after one warm-up message that may set up the
// process-wide tables).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "gost28147_89.h"
#include "hash_low/gost_r3411_2012.h"
#include "symmetric_test_util.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// The replacements pair malloc with free by design; GCC, seeing operator new
// inlined into callers, takes the frees below for mismatched deletes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(std::size_t n)
{
    ++g_allocations;
    if (void *p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t n)
{
    return operator new(n);
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept
{
    ++g_allocations;
    return std::malloc(n == 0 ? 1 : n);
}
void *operator new[](std::size_t n, const std::nothrow_t &t) noexcept
{
    return operator new(n, t);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

void hash_messages(const Bytes &msg)
{
    for (size_t len : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(200), msg.size()}) {
        GOSTR3411_2012_CTX ctx;
        uint8_t out[64];
        GOSTR3411_2012_256_Init(&ctx);
        GOSTR3411_2012_256_Update(&ctx, msg.data(), len);
        GOSTR3411_2012_256_Final(&ctx, out);
        GOSTR3411_2012_512_Init(&ctx);
        GOSTR3411_2012_512_Update(&ctx, msg.data(), len);
        GOSTR3411_2012_512_Final(&ctx, out);
    }
}

void mac_message(const Bytes &msg)
{
    static const Bytes key = pseudo_random(32, 7);
    GOST28147_89_CTX ctx;
    GOST28147_89_Init(&ctx, 1, &GOST28147_89_TABLE_Z, GOST28147_89_MODE_MAC, 0, 1, 0, nullptr, key.data());
    GOST_DATA_BLOB in = {uint32_t(msg.size()), const_cast<uint8_t *>(msg.data())};
    GOST28147_89_Update(&ctx, &in, nullptr);
    GOST28147_89_Final(&ctx);
}

}  // namespace

TEST(SymmetricNoAllocation, HashesAndMacAllocateNothingPerCall)
{
    const Bytes msg = pseudo_random(5000, 3);
    hash_messages(msg);
    mac_message(msg);
    const long before = g_allocations.load();
    hash_messages(msg);
    mac_message(msg);
    EXPECT_EQ(g_allocations.load(), before);
    // The counter does count: a vector allocates.
    { Bytes probe(10); }
    EXPECT_GT(g_allocations.load(), before);
}
