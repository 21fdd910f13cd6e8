#include "st_fixture.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>

namespace sttest {

CK_FUNCTION_LIST_PTR module() {
  static CK_FUNCTION_LIST_PTR list = [] {
    void* h = dlopen(SOFTTOKEN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!h) return static_cast<CK_FUNCTION_LIST_PTR>(nullptr);
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(h, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR l = nullptr;
    if (get) get(&l);
    return l;
  }();
  return list;
}

Bytes der_oid(const std::string& dotted) {
  std::vector<unsigned long> arcs;
  size_t pos = 0;
  while (pos <= dotted.size()) {
    size_t dot = dotted.find('.', pos);
    if (dot == std::string::npos) dot = dotted.size();
    arcs.push_back(std::stoul(dotted.substr(pos, dot - pos)));
    pos = dot + 1;
  }
  Bytes content{static_cast<uint8_t>(arcs[0] * 40 + arcs[1])};
  for (size_t i = 2; i < arcs.size(); ++i) {
    Bytes enc;
    unsigned long v = arcs[i];
    enc.push_back(v & 0x7f);
    while (v >>= 7) enc.insert(enc.begin(), static_cast<uint8_t>(0x80 | (v & 0x7f)));
    content.insert(content.end(), enc.begin(), enc.end());
  }
  Bytes der{0x06, static_cast<uint8_t>(content.size())};
  der.insert(der.end(), content.begin(), content.end());
  return der;
}

const Bytes kCurveTest256 = der_oid("1.2.643.2.2.35.0");
const Bytes kCurveA256 = der_oid("1.2.643.2.2.35.1");
const Bytes kCurveB256 = der_oid("1.2.643.2.2.35.2");
const Bytes kCurveC256 = der_oid("1.2.643.2.2.35.3");
const Bytes kCurveXchA = der_oid("1.2.643.2.2.36.0");
const Bytes kCurveXchB = der_oid("1.2.643.2.2.36.1");
const Bytes kCurveTest512 = der_oid("1.2.643.7.1.2.1.2.0");
const Bytes kCurveA512 = der_oid("1.2.643.7.1.2.1.2.1");
const Bytes kCurveB512 = der_oid("1.2.643.7.1.2.1.2.2");
const Bytes kCurveTc26A256 = der_oid("1.2.643.7.1.2.1.1.1");
const Bytes kCurveTc26C512 = der_oid("1.2.643.7.1.2.1.2.3");
bool is_512(const Bytes& curve) { return curve.size() == 11 && curve[9] == 2; }
const Bytes kHash94CryptoPro = der_oid("1.2.643.2.2.30.1");
const Bytes kHash2012_256 = der_oid("1.2.643.7.1.1.2.2");
const Bytes kHash2012_512 = der_oid("1.2.643.7.1.1.2.3");

Bytes from_hex(const std::string& hex) {
  Bytes out;
  std::string h;
  for (char c : hex)
    if (std::isxdigit(static_cast<unsigned char>(c))) h += c;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(h.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes reversed(Bytes b) {
  std::reverse(b.begin(), b.end());
  return b;
}

Template& Template::ulong(CK_ATTRIBUTE_TYPE t, CK_ULONG v) {
  Bytes b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  values_.emplace_back(t, b);
  return *this;
}

Template& Template::boolean(CK_ATTRIBUTE_TYPE t, bool v) {
  values_.emplace_back(t, Bytes{static_cast<uint8_t>(v ? 1 : 0)});
  return *this;
}

Template& Template::bytes(CK_ATTRIBUTE_TYPE t, const Bytes& v) {
  values_.emplace_back(t, v);
  return *this;
}

Template& Template::text(CK_ATTRIBUTE_TYPE t, const std::string& s) {
  values_.emplace_back(t, Bytes(s.begin(), s.end()));
  return *this;
}

CK_ATTRIBUTE_PTR Template::data() {
  attrs_.clear();
  for (auto& [t, v] : values_) attrs_.push_back(CK_ATTRIBUTE{t, v.empty() ? nullptr : v.data(), v.size()});
  return attrs_.empty() ? nullptr : attrs_.data();
}

RunResult run_command(const std::vector<std::string>& argv, const std::string& input, int timeout_ms,
                      const std::vector<std::pair<std::string, std::string>>& env) {
  RunResult r;
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) return r;
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!input.empty()) {
    ssize_t w = write(in[1], input.data(), input.size());
    (void)w;
  }
  close(in[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool out_open = true, err_open = true;
  while (out_open || err_open) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) break;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (poll(fds, 2, left) <= 0) continue;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) (i == 0 ? out_open : err_open) = false;
      else (i == 0 ? r.out : r.err).append(buf, n);
    }
  }
  close(out[0]);
  close(err[0]);
  int status = 0;
  for (;;) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return r;
    }
    usleep(2000);
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

void SoftTokenTest::SetUp() {
  f = module();
  ASSERT_NE(f, nullptr) << "cannot load " << SOFTTOKEN_MODULE_PATH;
  char tmpl[] = "/tmp/softtoken-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir = tmpl;
  setenv("SOFTTOKEN_DIR", dir.c_str(), 1);
  setenv("SOFTTOKEN_PBKDF2_ITERATIONS", "1000", 1);
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
}

void SoftTokenTest::TearDown() {
  if (f) f->C_Finalize(nullptr);
  if (!dir.empty()) std::filesystem::remove_all(dir);
}

void SoftTokenTest::reopen() {
  ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
}

CK_SLOT_ID SoftTokenTest::init_token(const std::string& label) {
  CK_ULONG n = 0;
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  std::vector<CK_SLOT_ID> slots(n);
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, slots.data(), &n), CKR_OK);
  CK_SLOT_ID slot = slots.back();  // the free slot is last
  unsigned char lab[32];
  std::memset(lab, ' ', 32);
  std::memcpy(lab, label.data(), std::min<size_t>(32, label.size()));
  EXPECT_EQ(f->C_InitToken(slot, (CK_UTF8CHAR_PTR)kSoPin, std::strlen(kSoPin), lab), CKR_OK);
  CK_SESSION_HANDLE s = open(slot);
  EXPECT_EQ(f->C_Login(s, CKU_SO, (CK_UTF8CHAR_PTR)kSoPin, std::strlen(kSoPin)), CKR_OK);
  EXPECT_EQ(f->C_InitPIN(s, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), CKR_OK);
  EXPECT_EQ(f->C_Logout(s), CKR_OK);
  EXPECT_EQ(f->C_CloseSession(s), CKR_OK);
  return slot;
}

CK_SESSION_HANDLE SoftTokenTest::open(CK_SLOT_ID slot, bool rw) {
  CK_SESSION_HANDLE s = 0;
  EXPECT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION | (rw ? CKF_RW_SESSION : 0), nullptr, nullptr, &s), CKR_OK);
  return s;
}

CK_SESSION_HANDLE SoftTokenTest::open_user(CK_SLOT_ID slot, bool rw) {
  CK_SESSION_HANDLE s = open(slot, rw);
  CK_RV rv = f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin));
  EXPECT_TRUE(rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) << std::hex << rv;
  return s;
}

CK_OBJECT_HANDLE SoftTokenTest::create_data(CK_SESSION_HANDLE s, const std::string& label, bool token, bool priv) {
  Template t;
  t.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_TOKEN, token).boolean(CKA_PRIVATE, priv).text(CKA_LABEL, label)
      .text(CKA_VALUE, "value of " + label);
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(f->C_CreateObject(s, t.data(), t.size(), &h), CKR_OK);
  return h;
}

std::vector<CK_OBJECT_HANDLE> SoftTokenTest::find(CK_SESSION_HANDLE s, Template& t) {
  std::vector<CK_OBJECT_HANDLE> out;
  EXPECT_EQ(f->C_FindObjectsInit(s, t.data(), t.size()), CKR_OK);
  CK_OBJECT_HANDLE buf[7];
  CK_ULONG n = 0;
  do {
    EXPECT_EQ(f->C_FindObjects(s, buf, 7, &n), CKR_OK);
    out.insert(out.end(), buf, buf + n);
  } while (n == 7);
  EXPECT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
  return out;
}

Bytes SoftTokenTest::attribute(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type, CK_RV* rv) {
  CK_ATTRIBUTE a{type, nullptr, 0};
  CK_RV r = f->C_GetAttributeValue(s, o, &a, 1);
  if (rv) *rv = r;
  if (r != CKR_OK) return {};
  Bytes v(a.ulValueLen);
  a.pValue = v.data();
  r = f->C_GetAttributeValue(s, o, &a, 1);
  if (rv) *rv = r;
  return v;
}

void SoftTokenTest::generate(CK_SESSION_HANDLE s, const Bytes& curve, const Bytes& hash, CK_OBJECT_HANDLE& pub,
                             CK_OBJECT_HANDLE& priv, bool token) {
  bool big = is_512(curve);
  CK_MECHANISM m{big ? CKM_GOSTR3410_512_KEY_PAIR_GEN : CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
  Template pt, kt;
  pt.boolean(CKA_TOKEN, token).bytes(CKA_GOSTR3410_PARAMS, curve).bytes(CKA_GOSTR3411_PARAMS, hash)
      .boolean(CKA_VERIFY, true);
  kt.boolean(CKA_TOKEN, token).boolean(CKA_PRIVATE, true).boolean(CKA_SIGN, true).boolean(CKA_DERIVE, true);
  ASSERT_EQ(f->C_GenerateKeyPair(s, &m, pt.data(), pt.size(), kt.data(), kt.size(), &pub, &priv), CKR_OK);
}

std::string SoftTokenTest::db_path(CK_SLOT_ID slot) {
  CK_TOKEN_INFO ti;
  EXPECT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
  return dir + "/" + std::string(reinterpret_cast<char*>(ti.serialNumber), 16) + ".db";
}

}  // namespace sttest
