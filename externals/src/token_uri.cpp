#include "token_uri.h"

#include <cstdlib>
#include <cstring>

#include <p11-kit/uri.h>

void TokenUri::Free::operator()(p11_kit_uri *uri) const { p11_kit_uri_free(uri); }

TokenUri::TokenUri() = default;
TokenUri::~TokenUri() = default;

bool TokenUri::parse(const char *text, std::string &error, bool certificates_only)
{
    uri_.reset(p11_kit_uri_new());
    if (!uri_) {
        error = "out of memory";
        return false;
    }
    int rv = p11_kit_uri_parse(text, P11_KIT_URI_FOR_ANY, uri_.get());
    if (rv != P11_KIT_URI_OK) {
        error = p11_kit_uri_message(rv);
        return false;
    }
    if (p11_kit_uri_any_unrecognized(uri_.get())) {
        error = "it has attributes that are not understood";
        return false;
    }
    if (const CK_ATTRIBUTE *type = p11_kit_uri_get_attribute(uri_.get(), CKA_CLASS)) {
        CK_OBJECT_CLASS object_class = 0;
        if (type->ulValueLen == sizeof(object_class))
            std::memcpy(&object_class, type->pValue, sizeof(object_class));
        has_class_ = true;
        class_ = object_class;
        if (certificates_only && object_class != CKO_CERTIFICATE) {
            error = "the object it names is no certificate";
            return false;
        }
    }
    if (const CK_ATTRIBUTE *label = p11_kit_uri_get_attribute(uri_.get(), CKA_LABEL)) {
        has_label_ = true;
        label_.assign(static_cast<const char *>(label->pValue), label->ulValueLen);
        if (label_.find('\0') != std::string::npos) {
            error = "the object label holds a zero byte";
            return false;
        }
    }
    if (const CK_ATTRIBUTE *id = p11_kit_uri_get_attribute(uri_.get(), CKA_ID)) {
        has_id_ = true;
        const auto *bytes = static_cast<const unsigned char *>(id->pValue);
        id_.assign(bytes, bytes + id->ulValueLen);
    }
    return true;
}

const char *TokenUri::pin_value() const { return p11_kit_uri_get_pin_value(uri_.get()); }
const char *TokenUri::pin_source() const { return p11_kit_uri_get_pin_source(uri_.get()); }
const char *TokenUri::module_path() const { return p11_kit_uri_get_module_path(uri_.get()); }

bool TokenUri::matches_module(const CK_INFO &info) const
{
    return p11_kit_uri_match_module_info(uri_.get(), &info) != 0;
}

bool TokenUri::matches_slot(CK_SLOT_ID slot, const CK_SLOT_INFO &info) const
{
    const CK_SLOT_ID wanted = p11_kit_uri_get_slot_id(uri_.get());
    if (wanted != static_cast<CK_SLOT_ID>(-1) && wanted != slot)
        return false;
    return p11_kit_uri_match_slot_info(uri_.get(), &info) != 0;
}

bool TokenUri::matches_token(const CK_TOKEN_INFO &info) const
{
    return p11_kit_uri_match_token_info(uri_.get(), &info) != 0;
}

namespace {

std::string format_uri(const CK_TOKEN_INFO &token, const std::string *label,
                       const std::vector<unsigned char> *id)
{
    std::unique_ptr<p11_kit_uri, void (*)(p11_kit_uri *)> uri(p11_kit_uri_new(), p11_kit_uri_free);
    if (!uri)
        return std::string();
    std::memcpy(p11_kit_uri_get_token_info(uri.get()), &token, sizeof(token));
    P11KitUriType type = P11_KIT_URI_FOR_TOKEN;
    if (label != nullptr) {
        CK_OBJECT_CLASS object_class = CKO_CERTIFICATE;
        CK_ATTRIBUTE attributes[] = {
            {CKA_CLASS, &object_class, sizeof(object_class)},
            {CKA_LABEL, const_cast<char *>(label->data()), label->size()},
            {CKA_ID, const_cast<unsigned char *>(id->data()), id->size()},
        };
        p11_kit_uri_set_attributes(uri.get(), attributes, 3);
        type = P11_KIT_URI_FOR_OBJECT_ON_TOKEN;
    }
    char *text = nullptr;
    if (p11_kit_uri_format(uri.get(), type, &text) != P11_KIT_URI_OK || text == nullptr)
        return std::string();
    std::string result(text);
    std::free(text);
    return result;
}

}  // namespace

std::string token_uri(const CK_TOKEN_INFO &token) { return format_uri(token, nullptr, nullptr); }

std::string certificate_uri(const CK_TOKEN_INFO &token, const std::string &label,
                            const std::vector<unsigned char> &id)
{
    std::string text = label;
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return format_uri(token, &text, &id);
}

std::string shown_uri(const char *text)
{
    const char *query = std::strchr(text, '?');
    return query != nullptr ? std::string(text, query) : std::string(text);
}
