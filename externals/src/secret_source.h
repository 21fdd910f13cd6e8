// Where a command-line program takes a PIN or a password from, in the forms
// OpenSSL's programs accept: pass:TEXT, env:VAR, file:PATH (its first line),
// fd:N (the first line read from descriptor N) and stdin (the same for 0).
// Header-only, so the tool and the software token's utility share it without
// sharing a library.
#ifndef SECRET_SOURCE_H
#define SECRET_SOURCE_H

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <openssl/crypto.h>

// A secret read from a source: its bytes are wiped when it goes. The buffer
// never grows past its first reservation, so no copy is left behind.
class SourcedSecret {
public:
    static constexpr size_t kMaxLength = 1023;

    SourcedSecret() { bytes_.reserve(kMaxLength + 1); }
    SourcedSecret(const SourcedSecret &) = delete;
    SourcedSecret &operator=(const SourcedSecret &) = delete;
    ~SourcedSecret() { wipe(); }

    void wipe()
    {
        if (!bytes_.empty())
            OPENSSL_cleanse(bytes_.data(), bytes_.size());
        bytes_.clear();
    }
    const char *data() const { return bytes_.data(); }
    size_t size() const { return bytes_.empty() ? 0 : bytes_.size() - 1; }
    // Sets the text; false when it is longer than kMaxLength.
    bool assign(const char *text, size_t length)
    {
        wipe();
        if (length > kMaxLength)
            return false;
        bytes_.insert(bytes_.end(), text, text + length);
        bytes_.push_back('\0');
        return true;
    }

private:
    std::vector<char> bytes_;
};

enum class SecretSourceResult {
    ok,
    malformed,   // not one of the forms: a mistake on the command line
    unreadable,  // a well-formed source that gave nothing: `reason` says why
};

namespace secret_source_detail {

inline bool starts_with(const char *text, const char *prefix, const char **rest)
{
    size_t n = std::strlen(prefix);
    if (std::strncmp(text, prefix, n) != 0)
        return false;
    *rest = text + n;
    return true;
}

// The descriptor number of an fd: source (the text after the colon).
inline bool parse_descriptor(const char *text, int *fd)
{
    if (*text < '0' || *text > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    long n = std::strtol(text, &end, 10);
    if (*end != '\0' || errno != 0 || n > 0x7fffffff)
        return false;
    *fd = static_cast<int>(n);
    return true;
}

// Reads one line from `fd`, a byte at a time so that nothing past the line is
// taken (two secrets may come one after the other from the same descriptor).
// The newline (and a carriage return before it) is not part of the secret.
inline SecretSourceResult read_line(int fd, SourcedSecret &out, std::string &reason)
{
    char line[SourcedSecret::kMaxLength + 1];
    size_t length = 0;
    bool newline = false;
    for (;;) {
        char c = 0;
        ssize_t r = ::read(fd, &c, 1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            reason = std::strerror(errno);
            OPENSSL_cleanse(line, sizeof line);
            return SecretSourceResult::unreadable;
        }
        if (r == 0)
            break;
        if (c == '\n') {
            newline = true;
            break;
        }
        if (length == SourcedSecret::kMaxLength) {
            reason = "the line is too long";
            OPENSSL_cleanse(line, sizeof line);
            return SecretSourceResult::unreadable;
        }
        line[length++] = c;
    }
    // An empty line is an empty secret; nothing at all is no secret.
    if (length == 0 && !newline) {
        reason = "nothing to read";
        return SecretSourceResult::unreadable;
    }
    if (length > 0 && line[length - 1] == '\r')
        --length;
    out.assign(line, length);
    OPENSSL_cleanse(line, sizeof line);
    return SecretSourceResult::ok;
}

}  // namespace secret_source_detail

// True when `source` has one of the accepted forms (whether it can be read
// is only known by reading it).
inline bool is_secret_source_form(const char *source)
{
    using secret_source_detail::starts_with;
    const char *rest = nullptr;
    if (starts_with(source, "pass:", &rest) || starts_with(source, "env:", &rest) ||
        starts_with(source, "file:", &rest) || std::strcmp(source, "stdin") == 0)
        return true;
    int fd = -1;
    return starts_with(source, "fd:", &rest) && secret_source_detail::parse_descriptor(rest, &fd);
}

// Reads the secret named by `source` into `out`. On `unreadable`, `reason`
// says why (the system's reason where there is one); the secret never
// appears in it.
inline SecretSourceResult read_secret_source(const char *source, SourcedSecret &out, std::string &reason)
{
    using namespace secret_source_detail;
    out.wipe();
    const char *rest = nullptr;
    if (starts_with(source, "pass:", &rest)) {
        if (!out.assign(rest, std::strlen(rest))) {
            reason = "the text is too long";
            return SecretSourceResult::unreadable;
        }
        return SecretSourceResult::ok;
    }
    if (starts_with(source, "env:", &rest)) {
        const char *value = *rest != '\0' ? std::getenv(rest) : nullptr;
        if (value == nullptr) {
            reason = "no such variable in the environment";
            return SecretSourceResult::unreadable;
        }
        if (!out.assign(value, std::strlen(value))) {
            reason = "the value is too long";
            return SecretSourceResult::unreadable;
        }
        return SecretSourceResult::ok;
    }
    int fd = -1;
    bool close_after = false;
    if (starts_with(source, "file:", &rest)) {
        fd = ::open(rest, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            reason = std::strerror(errno);
            return SecretSourceResult::unreadable;
        }
        close_after = true;
    } else if (starts_with(source, "fd:", &rest)) {
        if (!parse_descriptor(rest, &fd))
            return SecretSourceResult::malformed;
    } else if (std::strcmp(source, "stdin") == 0) {
        fd = 0;
    } else {
        return SecretSourceResult::malformed;
    }
    SecretSourceResult result = read_line(fd, out, reason);
    if (close_after)
        ::close(fd);
    return result;
}

#endif
