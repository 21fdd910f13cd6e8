// The token engine as the tool has it after start-up, attached to our
// software token (a fresh token per test, the user logged in, as the
// softtoken tests set it up) through a function list that can inject
// faults; keys generated through OpenSSL.
#ifndef KEYOPS_FIXTURE_H
#define KEYOPS_FIXTURE_H

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <openssl/evp.h>

#include "faulty_module.h"
#include "gost_key.h"
#include "gost_objects.h"
#include "gost_params.h"
#include "gost_reference.h"
#include "gost_test_keys.h"
#include "pkcs11_core_eng.h"
#include "st_fixture.h"

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

ENGINE *token_engine();

// Every key algorithm with every curve of its table.
struct AlgCurve {
    GostObj alg;
    const GostKeyAlg *props;
    const GostParamSet *set;
    std::string name() const;
};
std::vector<AlgCurve> every_alg_and_curve();

// Runs `fill` with a buffer of `room` bytes and that size, checks that
// nothing was written past the buffer, and returns the bytes it reported
// (empty when it failed); its result goes to *rc when given.
Bytes into_buffer(std::size_t room, int *rc, const std::function<int(unsigned char *, std::size_t *)> &fill);

// stderr of a call, captured.
class Stderr {
public:
    Stderr() { testing::internal::CaptureStderr(); }
    std::string text() { return testing::internal::GetCapturedStderr(); }
};

struct MdCtxFree {
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

class TokenEngineTest : public sttest::SoftTokenTest {
protected:
    void SetUp() override;
    void TearDown() override;

    P11_ENGINE_CTX *ctx() const { return p11_engine_ctx(token_engine()); }
    // Objects of the given class on the token (any class when 0xFFFFFFFF),
    // as a fresh session sees them.
    std::size_t count_objects(CK_OBJECT_CLASS cls = ~CK_OBJECT_CLASS(0));
    // Handles with the CKA_ID.
    std::vector<CK_OBJECT_HANDLE> find_by_id(const unsigned char *id);
    Bytes attribute(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) { return SoftTokenTest::attribute(session_, h, type); }
    // Adopts a session of the test's own with the given flags (SET_SESSION).
    void adopt_session(CK_FLAGS flags);

    // A key pair generated through OpenSSL with the "paramset" string; null
    // on failure, with stderr in *err.
    PkeyPtr generate(GostObj alg, const std::string &paramset, std::string *err = nullptr, int *rc = nullptr);
    // A key pair on the given curve (by its OID).
    PkeyPtr generate(const AlgCurve &c) { return generate(c.alg, c.set->oid); }
    CK_SLOT_ID slot_ = 0;
    CK_SESSION_HANDLE session_ = 0;  // the test's own, user logged in
};

#endif
