// Real X.509 certificates made with OpenSSL, and a small PKCS#11 client that
// puts them (and matching private keys) on a token with chosen labels and IDs.
#ifndef TOKENCERT_TEST_CERTS_H
#define TOKENCERT_TEST_CERTS_H

#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

using Bytes = std::vector<unsigned char>;

// A self-signed certificate (EC P-256) for `common_name`, DER-encoded. With
// `padding` > 0 it carries a private extension of that many bytes, to make
// large certificates.
Bytes make_certificate_der(const std::string &common_name, size_t padding = 0);

// The PEM text OpenSSL writes for a DER certificate.
std::string pem_of(const Bytes &der);

// A label stored with its terminating zero byte, as this system stores labels.
Bytes label_with_zero(const std::string &text);
// A label stored without it.
Bytes label_without_zero(const std::string &text);
// `length` bytes derived from `seed`, as an object ID.
Bytes make_id(size_t length, unsigned char seed = 1);

// Creates a certificate object (token, public, subject from the certificate)
// with the label and ID in the session; returns the module's code.
CK_RV create_certificate(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const Bytes &der,
                         const Bytes &label, const Bytes &id, CK_OBJECT_HANDLE *handle);
// Creates an EC P-256 private key object (token, private, sensitive, for
// signing, a fixed value) with the label and ID in the session, or a GOST
// R 34.10 key with that value where the token knows no EC keys; returns the
// module's code and sets *handle.
CK_RV create_ec_private_key(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, const Bytes &label,
                            const Bytes &id, CK_OBJECT_HANDLE *handle);

// A PKCS#11 client on one token: loads the module, initialises it (leaving
// it initialised when someone in the process already did), opens a
// read-write session on the slot and logs the user in.
class TokenClient {
public:
    TokenClient(const std::string &module_path, CK_SLOT_ID slot, const std::string &user_pin);
    ~TokenClient();
    TokenClient(const TokenClient &) = delete;
    TokenClient &operator=(const TokenClient &) = delete;

    // Creates a certificate object (token, public); returns its handle.
    CK_OBJECT_HANDLE put_certificate(const Bytes &der, const Bytes &label, const Bytes &id);
    // Creates the private key of create_ec_private_key; returns its handle.
    CK_OBJECT_HANDLE put_private_key(const Bytes &label, const Bytes &id);
    // The number of certificate objects on the token.
    size_t count_certificates();

    CK_FUNCTION_LIST *functions() const { return functions_; }
    CK_SESSION_HANDLE session() const { return session_; }

private:
    void *library_ = nullptr;
    CK_FUNCTION_LIST *functions_ = nullptr;
    CK_SESSION_HANDLE session_ = 0;
    bool initialised_here_ = false;
};

#endif
