// Shared set-up of the softtoken tests: the module loaded through its
// function list, a fresh token directory per test, templates and children.
#ifndef SOFTTOKEN_TESTS_ST_FIXTURE_H
#define SOFTTOKEN_TESTS_ST_FIXTURE_H

#include <gtest/gtest.h>
#include <pkcs11_vendor.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sttest {

using Bytes = std::vector<uint8_t>;

CK_FUNCTION_LIST_PTR module();

inline const char* kSoPin = "so-secret-1";
inline const char* kUserPin = "user-pin-1";

// DER of the curve OIDs.
Bytes der_oid(const std::string& dotted);
extern const Bytes kCurveTest256, kCurveA256, kCurveB256, kCurveC256, kCurveXchA, kCurveXchB;
extern const Bytes kCurveTest512, kCurveA512, kCurveB512;
// The twisted Edwards curves of RFC 7836 (cofactor 4).
extern const Bytes kCurveTc26A256, kCurveTc26C512;
// Whether a curve OID names a 512-bit curve.
bool is_512(const Bytes& curve);
extern const Bytes kHash94CryptoPro, kHash2012_256, kHash2012_512;

Bytes from_hex(const std::string& hex);
Bytes reversed(Bytes b);

// A template built in place: values are kept alive by the builder.
class Template {
 public:
  Template& ulong(CK_ATTRIBUTE_TYPE t, CK_ULONG v);
  Template& boolean(CK_ATTRIBUTE_TYPE t, bool v);
  Template& bytes(CK_ATTRIBUTE_TYPE t, const Bytes& v);
  Template& text(CK_ATTRIBUTE_TYPE t, const std::string& s);  // without a zero byte
  CK_ATTRIBUTE_PTR data();
  CK_ULONG size() const { return values_.size(); }

 private:
  std::deque<std::pair<CK_ATTRIBUTE_TYPE, Bytes>> values_;
  std::vector<CK_ATTRIBUTE> attrs_;
};

// Runs a command (no controlling terminal, stdin from a string), with a
// timeout; returns the exit status (-1 on timeout or a signal).
struct RunResult {
  int status = -1;
  std::string out, err;
};
RunResult run_command(const std::vector<std::string>& argv, const std::string& input, int timeout_ms,
                      const std::vector<std::pair<std::string, std::string>>& env = {});

class SoftTokenTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Restarts the module (C_Finalize + C_Initialize) on the same directory.
  void reopen();
  // Initialises the free slot's token with the SO and user PINs; returns its slot.
  CK_SLOT_ID init_token(const std::string& label = "test token");
  CK_SESSION_HANDLE open(CK_SLOT_ID slot, bool rw = true);
  CK_SESSION_HANDLE open_user(CK_SLOT_ID slot, bool rw = true);
  CK_OBJECT_HANDLE create_data(CK_SESSION_HANDLE s, const std::string& label, bool token = true, bool priv = false);
  std::vector<CK_OBJECT_HANDLE> find(CK_SESSION_HANDLE s, Template& t);
  Bytes attribute(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type, CK_RV* rv = nullptr);
  void generate(CK_SESSION_HANDLE s, const Bytes& curve, const Bytes& hash, CK_OBJECT_HANDLE& pub,
                CK_OBJECT_HANDLE& priv, bool token = false);
  std::string db_path(CK_SLOT_ID slot);

  CK_FUNCTION_LIST_PTR f = nullptr;
  std::string dir;
};

}  // namespace sttest

#endif
