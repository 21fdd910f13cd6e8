// Working memory of the multiple-precision layer.
#include "zkc_bignum_mem.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zkc {

namespace {
void *default_alloc(std::size_t count, std::size_t size)
{
    return std::calloc(count, size);
}
MpAllocFn g_alloc = default_alloc;
}  // namespace

void mp_wipe(void *p, std::size_t n)
{
#if defined(__GNUC__)
    // The empty asm that "reads" the memory keeps the compiler from dropping
    // the memset as a dead store.
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    volatile unsigned char *bytes = static_cast<volatile unsigned char *>(p);
    while (n--)
        *bytes++ = 0;
#endif
}

void mp_fatal_out_of_memory()
{
    // The caption, then the text, on one line of the error stream.
    std::fputs("Arithmetic Error: Unable to allocate working memory for "
               "multiple-precision arithmetic.\n",
               stderr);
    std::fflush(stderr);
    std::exit(1);
}

MpAllocFn mp_set_allocator(MpAllocFn fn)
{
    MpAllocFn previous = g_alloc;
    g_alloc = fn ? fn : default_alloc;
    return previous;
}

MpWork::MpWork(std::size_t n) : digits_(nullptr), n_(n == 0 ? 1 : n)
{
    void *p = g_alloc(n_, sizeof(DIGIT_T));
    if (p == nullptr)
        mp_fatal_out_of_memory();
    // A swapped-in allocator need not zero-fill; the layer promises it does.
    std::memset(p, 0, n_ * sizeof(DIGIT_T));
    digits_ = static_cast<DIGIT_T *>(p);
}

MpWork::~MpWork()
{
    mp_wipe(digits_, n_ * sizeof(DIGIT_T));
    std::free(digits_);
}

}  // namespace zkc
