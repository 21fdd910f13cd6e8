// PKCS#11 URIs (RFC 7512): naming a token and an object the way other PKCS#11
// tools do, through p11-kit's parser and formatter.
#ifndef TOKEN_URI_H
#define TOKEN_URI_H

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

    // Parses `text`: true, or false with `error` saying why. With
    // certificates_only, a URI naming another type of object is refused.
    bool parse(const char *text, std::string &error, bool certificates_only = true);

    bool has_label() const { return has_label_; }
    const std::string &label() const { return label_; }
    bool has_id() const { return has_id_; }
    const std::vector<unsigned char> &id() const { return id_; }
    // The object class of a `type` attribute.
    bool has_class() const { return has_class_; }
    CK_OBJECT_CLASS object_class() const { return class_; }
    // Query attributes; nullptr when not given.
    const char *pin_value() const;
    const char *pin_source() const;
    const char *module_path() const;

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
    bool has_class_ = false;
    CK_OBJECT_CLASS class_ = 0;
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
