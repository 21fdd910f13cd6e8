// Working memory of the multiple-precision layer: zero-filled heap arrays that
// are wiped before they are freed. Running out of memory ends the process with
// the layer's fatal line; there is no error return.
#ifndef ZKC_BIGNUM_MEM_H
#define ZKC_BIGNUM_MEM_H

#include <cstddef>

#include "zkc_bignum.h"

namespace zkc {

// Overwrites n bytes with zeros in a way the compiler may not drop.
void mp_wipe(void *p, std::size_t n);

// Prints "Arithmetic Error: Unable to allocate working memory for
// multiple-precision arithmetic." on stderr and exits with status 1.
[[noreturn]] void mp_fatal_out_of_memory();

// The allocator behind MpWork (calloc by default). Tests swap it to reach the
// out-of-memory path; returns the previous one.
using MpAllocFn = void *(*)(std::size_t count, std::size_t size);
MpAllocFn mp_set_allocator(MpAllocFn fn);

// n digits of zero-filled working memory, wiped and freed on scope exit.
class MpWork {
public:
    explicit MpWork(std::size_t n);
    ~MpWork();
    MpWork(const MpWork &) = delete;
    MpWork &operator=(const MpWork &) = delete;

    DIGIT_T *get() { return digits_; }
    operator DIGIT_T *() { return digits_; }
    std::size_t size() const { return n_; }

private:
    DIGIT_T *digits_;
    std::size_t n_;
};

}  // namespace zkc

#endif  // ZKC_BIGNUM_MEM_H
