// A string for secrets (PINs, passwords): its bytes are wiped whenever they
// are replaced or released.
#ifndef SECRET_STRING_H
#define SECRET_STRING_H

#include <cstddef>
#include <vector>

class SecretString {
public:
    SecretString() = default;
    SecretString(const char *text, size_t len) { assign(text, len); }
    SecretString(const SecretString &) = delete;
    SecretString &operator=(const SecretString &) = delete;
    SecretString(SecretString &&other) noexcept;
    SecretString &operator=(SecretString &&other) noexcept;
    ~SecretString() { clear(); }

    // Replaces the content (the old bytes are wiped first).
    void assign(const char *text, size_t len);
    // Wipes and releases the content.
    void clear();

    // True when nothing is held (an assigned empty text is held).
    bool empty() const { return buf_.empty(); }
    size_t size() const { return buf_.empty() ? 0 : buf_.size() - 1; }
    // NUL-terminated; "" when empty.
    const char *c_str() const { return buf_.empty() ? "" : buf_.data(); }
    char *data() { return buf_.empty() ? nullptr : buf_.data(); }

private:
    std::vector<char> buf_;  // content plus a terminating NUL, or nothing
};

// Overwrites n bytes at p with zeros in a way the compiler keeps.
void secure_wipe(void *p, size_t n);

// A value that held a secret (a private key's bytes or digits), zero at the
// start and wiped when it goes out of scope, on every path.
template <class T> struct Wiped {
    T v{};
    Wiped() = default;
    Wiped(const Wiped &) = delete;
    Wiped &operator=(const Wiped &) = delete;
    ~Wiped() { secure_wipe(&v, sizeof v); }
};

// A fixed-size buffer for key material, wiped when it goes out of scope.
template <size_t N>
struct SecretBytes {
    unsigned char data[N] = {};
    SecretBytes() = default;
    SecretBytes(const SecretBytes &) = delete;
    SecretBytes &operator=(const SecretBytes &) = delete;
    ~SecretBytes() { secure_wipe(data, N); }
    static constexpr size_t size() { return N; }
};

#endif
