// The listings as one JSON document (-json): each listing adds its part to
// the document, which is written on bio_out when the run ends well.
#ifndef TOKENCERT_JSON_OUTPUT_H
#define TOKENCERT_JSON_OUTPUT_H

#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

// True when -json was given.
bool json_mode();

// What a listing read of one certificate object; `*_read` false when the
// module would not give that attribute.
struct CertificateRecord {
    bool label_read = false;
    std::string label;  // up to its first zero byte
    std::vector<unsigned char> id;
    bool value_read = false;
    std::vector<unsigned char> value;  // the DER certificate
};

void json_add_library(const CK_INFO &info);
void json_add_slot(CK_SLOT_ID slot, const CK_SLOT_INFO &slot_info, const CK_TOKEN_INFO &token);
void json_add_token(CK_SLOT_ID slot, const CK_TOKEN_INFO &token);
// Starts the certificate list (empty until certificates are added) of the
// token described by `token`.
void json_begin_certificates(const CK_TOKEN_INFO &token);
void json_add_certificate(const CertificateRecord &record);

// A listing's result; the first failure is kept, and with it the document is
// not written.
void note_listing_result(CK_RV rv);
CK_RV listing_failure();

// Writes the document on bio_out.
void write_json_document();

#endif
