// The arithmetic layer's only failure: working memory that cannot be had ends
// the process with the caption and text on one line of stderr, status 1.
#include <gtest/gtest.h>

#include "zkc_bignum.h"
#include "zkc_bignum_mem.h"

namespace {

void *no_memory(std::size_t, std::size_t)
{
    return nullptr;
}

void modular_multiply_without_memory()
{
    zkc::mp_set_allocator(no_memory);
    DIGIT_T x[2] = {3, 0}, m[2] = {7, 0}, r[2];
    mpModMult(r, x, x, m, 2);
}

TEST(BignumFatalDeathTest, OutOfMemoryIsOneLineAndStatusOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(modular_multiply_without_memory(), ::testing::ExitedWithCode(1),
                "^Arithmetic Error: Unable to allocate working memory for "
                "multiple-precision arithmetic\\.\n$");
}

}  // namespace
