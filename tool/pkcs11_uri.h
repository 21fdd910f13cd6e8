// PKCS#11 URIs (RFC 7512): naming a token and an object the way other PKCS#11
// tools do, through p11-kit's parser and formatter.
#ifndef TOKENCERT_PKCS11_URI_H
#define TOKENCERT_PKCS11_URI_H

#include <memory>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

struct p11_kit_uri;

class TokenUri {
public:
    TokenUri();
    ~TokenUri();
    TokenUri(const TokenUri &) = delete;
    TokenUri &operator=(const TokenUri &) = delete;

    // Parses `text`: true, or false with `error` saying why.
    bool parse(const char *text, std::string &error);

    bool has_label() const { return has_label_; }
    const std::string &label() const { return label_; }
    bool has_id() const { return has_id_; }
    const std::vector<unsigned char> &id() const { return id_; }

    // Whether the module, a slot and its token match every attribute the URI
    // gives for them (an attribute left out matches anything).
    bool matches_module(const CK_INFO &info) const;
    bool matches_slot(CK_SLOT_ID slot, const CK_SLOT_INFO &info) const;
    bool matches_token(const CK_TOKEN_INFO &info) const;

private:
    struct Free {
        void operator()(p11_kit_uri *uri) const;
    };
    std::unique_ptr<p11_kit_uri, Free> uri_;
    bool has_label_ = false;
    bool has_id_ = false;
    std::string label_;
    std::vector<unsigned char> id_;
};

// A URI as a message may show it: without its query attributes (everything
// from '?' on), where a PIN may stand.
std::string shown_uri(const char *text);

// The URI of a token, and of a certificate object on it (label and CKA_ID
// as the token holds them; a terminating zero byte of the label is left out).
std::string token_uri(const CK_TOKEN_INFO &token);
std::string certificate_uri(const CK_TOKEN_INFO &token, const std::string &label,
                            const std::vector<unsigned char> &id);

#endif
