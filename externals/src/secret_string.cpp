#include "secret_string.h"

#include <openssl/crypto.h>

#include <cstring>
#include <utility>

void secure_wipe(void *p, size_t n) {
    if (p && n)
        OPENSSL_cleanse(p, n);
}

SecretString::SecretString(SecretString &&other) noexcept : buf_(std::move(other.buf_)) { other.buf_.clear(); }

SecretString &SecretString::operator=(SecretString &&other) noexcept {
    if (this != &other) {
        clear();
        buf_ = std::move(other.buf_);
        other.buf_.clear();
    }
    return *this;
}

void SecretString::assign(const char *text, size_t len) {
    clear();
    if (!text)
        return;
    // Reserve first so that the vector never reallocates (and leaves an
    // unwiped copy behind) while the secret is copied in.
    buf_.reserve(len + 1);
    buf_.assign(text, text + len);
    buf_.push_back('\0');
}

void SecretString::clear() {
    secure_wipe(buf_.data(), buf_.size());
    buf_.clear();
    buf_.shrink_to_fit();
}
