#include "json_output.h"

#include <ctime>
#include <memory>

#include <nlohmann/json.hpp>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include "listings.h"
#include "ossl_ptr.h"
#include "token_uri.h"
#include "tool_state.h"

using json = nlohmann::ordered_json;

namespace {

json document = json::object();
CK_RV first_failure = CKR_OK;
CK_TOKEN_INFO listed_token{};

// A blank-padded text field without its padding.
template <size_t N>
std::string field(const CK_UTF8CHAR (&bytes)[N])
{
    std::string text(reinterpret_cast<const char *>(bytes), N);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string version(const CK_VERSION &v) { return std::to_string(v.major) + "." + std::to_string(v.minor); }

// A count the module may not know.
json count(CK_ULONG value)
{
    return value == CK_UNAVAILABLE_INFORMATION ? json(nullptr) : json(value);
}

std::string hex(const std::vector<unsigned char> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

json token_json(CK_SLOT_ID slot, const CK_TOKEN_INFO &t)
{
    return json{
        {"slot", slot},
        {"label", field(t.label)},
        {"manufacturer", field(t.manufacturerID)},
        {"model", field(t.model)},
        {"serial", field(t.serialNumber)},
        {"flags", t.flags},
        {"flag_names", token_flag_names(t.flags)},
        {"sessions", count(t.ulSessionCount)},
        {"max_sessions", count(t.ulMaxSessionCount)},
        {"rw_sessions", count(t.ulRwSessionCount)},
        {"max_rw_sessions", count(t.ulMaxRwSessionCount)},
        {"min_pin_length", t.ulMinPinLen},
        {"max_pin_length", t.ulMaxPinLen},
        {"free_public_memory", count(t.ulFreePublicMemory)},
        {"total_public_memory", count(t.ulTotalPublicMemory)},
        {"free_private_memory", count(t.ulFreePrivateMemory)},
        {"total_private_memory", count(t.ulTotalPrivateMemory)},
        {"hardware_version", version(t.hardwareVersion)},
        {"firmware_version", version(t.firmwareVersion)},
        {"time", field(t.utcTime)},
        {"uri", token_uri(t)},
    };
}

json name_text(const X509_NAME *name)
{
    ossl::BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0)
        return nullptr;
    char *data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

json time_text(const ASN1_TIME *time)
{
    struct tm parts {};
    char text[32];
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1 ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
        return nullptr;
    return std::string(text);
}

json serial_text(const ASN1_INTEGER *serial)
{
    std::unique_ptr<BIGNUM, void (*)(BIGNUM *)> number(ASN1_INTEGER_to_BN(serial, nullptr), BN_free);
    if (!number)
        return nullptr;
    char *text = BN_bn2hex(number.get());
    if (text == nullptr)
        return nullptr;
    std::string result(text);
    OPENSSL_free(text);
    return result;
}

// The certificate's fields, all null when the value is no certificate.
void add_x509_fields(json &entry, const CertificateRecord &record)
{
    for (const char *key : {"subject", "issuer", "serial", "not_before", "not_after", "key_algorithm",
                            "key_algorithm_oid"})
        entry[key] = nullptr;
    if (!record.value_read)
        return;
    const unsigned char *p = record.value.data();
    ossl::X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(record.value.size())));
    if (!x509)
        return;
    entry["subject"] = name_text(X509_get_subject_name(x509.get()));
    entry["issuer"] = name_text(X509_get_issuer_name(x509.get()));
    entry["serial"] = serial_text(X509_get0_serialNumber(x509.get()));
    entry["not_before"] = time_text(X509_get0_notBefore(x509.get()));
    entry["not_after"] = time_text(X509_get0_notAfter(x509.get()));
    ASN1_OBJECT *algorithm = nullptr;
    if (X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, nullptr, X509_get_X509_PUBKEY(x509.get())) == 1 &&
        algorithm != nullptr) {
        char oid[128];
        if (OBJ_obj2txt(oid, sizeof oid, algorithm, 1) > 0)
            entry["key_algorithm_oid"] = std::string(oid);
        const int nid = OBJ_obj2nid(algorithm);
        entry["key_algorithm"] = nid != NID_undef ? json(OBJ_nid2sn(nid)) : entry["key_algorithm_oid"];
    }
}

}  // namespace

bool json_mode() { return (option_flags & OPT_JSON) != 0; }

void json_add_library(const CK_INFO &info)
{
    document["library"] = json{
        {"cryptoki_version", version(info.cryptokiVersion)},
        {"manufacturer", field(info.manufacturerID)},
        {"flags", info.flags},
        {"description", field(info.libraryDescription)},
        {"version", version(info.libraryVersion)},
    };
}

void json_add_slot(CK_SLOT_ID slot, const CK_SLOT_INFO &s, const CK_TOKEN_INFO &token)
{
    json &slots = document["slots"];
    if (!slots.is_array())
        slots = json::array();
    slots.push_back(json{
        {"id", slot},
        {"description", field(s.slotDescription)},
        {"manufacturer", field(s.manufacturerID)},
        {"flags", s.flags},
        {"flag_names", slot_flag_names(s.flags)},
        {"hardware_version", version(s.hardwareVersion)},
        {"firmware_version", version(s.firmwareVersion)},
        {"token", token_json(slot, token)},
    });
}

void json_add_token(CK_SLOT_ID slot, const CK_TOKEN_INFO &token) { document["token"] = token_json(slot, token); }

void json_begin_certificates(const CK_TOKEN_INFO &token)
{
    listed_token = token;
    document["certificates"] = json::array();
}

void json_add_certificate(const CertificateRecord &record)
{
    json entry{
        {"label", record.label_read ? json(record.label) : json(nullptr)},
        {"id", record.label_read ? json(hex(record.id)) : json(nullptr)},
    };
    add_x509_fields(entry, record);
    entry["uri"] = record.label_read ? json(certificate_uri(listed_token, record.label, record.id)) : json(nullptr);
    document["certificates"].push_back(std::move(entry));
}

void note_listing_result(CK_RV rv)
{
    if (first_failure == CKR_OK)
        first_failure = rv;
}

CK_RV listing_failure() { return first_failure; }

void write_json_document()
{
    // Texts from a token are not always UTF-8: bytes that are not become U+FFFD.
    std::string text = document.dump(2, ' ', false, json::error_handler_t::replace);
    text += '\n';
    BIO_write(bio_out, text.data(), static_cast<int>(text.size()));
}
