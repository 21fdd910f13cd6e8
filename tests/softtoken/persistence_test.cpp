// Persistence: objects outlive the process, a killed writer loses nothing it
// committed, two processes write at once, and no private value is stored in
// the clear.
#include <poll.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "st_fixture.h"

namespace sttest {
namespace {

using Persistence = SoftTokenTest;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(Persistence, ObjectsAndKeysSurviveAReopen) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  create_data(s, "kept");
  create_data(s, "kept private", true, true);
  create_data(s, "session only", false);
  CK_OBJECT_HANDLE pub, priv;
  generate(s, kCurveA256, kHash2012_256, pub, priv, true);
  Bytes q = attribute(s, pub, CKA_VALUE);
  reopen();
  s = open(slot);
  Template all;
  EXPECT_EQ(find(s, all).size(), 2u);  // the public ones
  ASSERT_EQ(f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), CKR_OK);
  EXPECT_EQ(find(s, all).size(), 4u);
  Template label;
  label.text(CKA_LABEL, "kept private");
  auto found = find(s, label);
  ASSERT_EQ(found.size(), 1u);
  Bytes v = attribute(s, found[0], CKA_VALUE);
  EXPECT_EQ(std::string(v.begin(), v.end()), "value of kept private");
  // The stored private key still signs for the stored public key.
  Bytes digest(32, 0x42), sig(64);
  CK_MECHANISM m{CKM_GOSTR3410, nullptr, 0};
  CK_ULONG len = sig.size();
  ASSERT_EQ(f->C_SignInit(s, &m, priv), CKR_OK);
  ASSERT_EQ(f->C_Sign(s, digest.data(), 32, sig.data(), &len), CKR_OK);
  ASSERT_EQ(f->C_VerifyInit(s, &m, pub), CKR_OK);
  EXPECT_EQ(f->C_Verify(s, digest.data(), 32, sig.data(), len), CKR_OK);
  EXPECT_EQ(attribute(s, pub, CKA_VALUE), q);
}

TEST_F(Persistence, NoPrivateValueIsStoredInTheClear) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  const std::string marker = "PUBLIC-MARKER-0123456789";
  const std::string hidden = "PRIVATE-MARKER-9876543210";
  Bytes key_value(32);
  for (size_t i = 0; i < key_value.size(); ++i) key_value[i] = static_cast<uint8_t>(0xA0 + i);
  Template pubdata;
  pubdata.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_TOKEN, true).text(CKA_LABEL, marker);
  Template privdata;
  privdata.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_TOKEN, true).boolean(CKA_PRIVATE, true).text(CKA_VALUE, hidden);
  // A private key that is not marked private still has its value encrypted.
  Template key;
  key.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_GOSTR3410).boolean(CKA_TOKEN, true)
      .boolean(CKA_PRIVATE, false).boolean(CKA_SIGN, true).bytes(CKA_VALUE, key_value)
      .bytes(CKA_GOSTR3410_PARAMS, kCurveA256);
  CK_OBJECT_HANDLE h1, h2, h3, pub, priv;
  ASSERT_EQ(f->C_CreateObject(s, pubdata.data(), pubdata.size(), &h1), CKR_OK);
  ASSERT_EQ(f->C_CreateObject(s, privdata.data(), privdata.size(), &h2), CKR_OK);
  ASSERT_EQ(f->C_CreateObject(s, key.data(), key.size(), &h3), CKR_OK);
  CK_MECHANISM m{CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
  Template pt, kt;
  pt.bytes(CKA_GOSTR3410_PARAMS, kCurveA256).boolean(CKA_TOKEN, true);
  kt.boolean(CKA_TOKEN, true).boolean(CKA_SENSITIVE, false).boolean(CKA_EXTRACTABLE, true);
  ASSERT_EQ(f->C_GenerateKeyPair(s, &m, pt.data(), pt.size(), kt.data(), kt.size(), &pub, &priv), CKR_OK);
  Bytes generated = attribute(s, priv, CKA_VALUE);
  ASSERT_EQ(generated.size(), 32u);
  // Read what is on disk: the database and its journal, after and before a checkpoint.
  std::string path = db_path(slot);
  std::string disk = read_file(path) + read_file(path + "-wal");
  f->C_CloseSession(s);
  reopen();
  disk += read_file(path) + read_file(path + "-wal");
  EXPECT_NE(disk.find(marker), std::string::npos) << "the search itself must work";
  EXPECT_EQ(disk.find(hidden), std::string::npos);
  EXPECT_EQ(disk.find(std::string(key_value.begin(), key_value.end())), std::string::npos);
  EXPECT_EQ(disk.find(std::string(generated.begin(), generated.end())), std::string::npos);
  EXPECT_EQ(disk.find(kUserPin), std::string::npos);
  EXPECT_EQ(disk.find(kSoPin), std::string::npos);
  // Without a login the key stays visible but its secret cannot be used.
  s = open(slot);
  CK_MECHANISM sm{CKM_GOSTR3410, nullptr, 0};
  EXPECT_EQ(f->C_SignInit(s, &sm, h3), CKR_USER_NOT_LOGGED_IN);
  // The record read without the login is read afresh with it.
  ASSERT_EQ(f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), CKR_OK);
  EXPECT_EQ(f->C_SignInit(s, &sm, h3), CKR_OK);
}

// A stored setting of a token file, as text.
std::string meta(const std::string& path, const std::string& name) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE name = ?1", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      out.assign(static_cast<const char*>(sqlite3_column_blob(st, 0)), sqlite3_column_bytes(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

// PIN keys cost 600,000 PBKDF2 iterations unless a test suite asks for fewer;
// a value below the floor is not taken.
TEST_F(Persistence, PinKeysUseTheHighIterationCount) {
  setenv("SOFTTOKEN_PBKDF2_ITERATIONS", "5", 1);
  CK_SLOT_ID slot = init_token();
  std::string path = db_path(slot);
  EXPECT_EQ(meta(path, "so_iterations"), "600000");
  EXPECT_EQ(meta(path, "user_iterations"), "600000");
  EXPECT_EQ(meta(path, "so_salt").size(), 16u);
  EXPECT_NE(meta(path, "so_salt"), meta(path, "user_salt"));
  // The count in force when a PIN is set is the one kept with it.
  setenv("SOFTTOKEN_PBKDF2_ITERATIONS", "1000", 1);
  CK_SESSION_HANDLE s = open_user(slot);
  ASSERT_EQ(f->C_SetPIN(s, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin), (CK_UTF8CHAR_PTR) "other-pin", 9),
            CKR_OK);
  EXPECT_EQ(meta(path, "user_iterations"), "1000");
  EXPECT_EQ(meta(path, "so_iterations"), "600000");
  ASSERT_EQ(f->C_Logout(s), CKR_OK);
  EXPECT_EQ(f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR) "other-pin", 9), CKR_OK);
}

TEST_F(Persistence, AKilledWriterLeavesOnlyWholeObjects) {
  CK_SLOT_ID slot = init_token();
  (void)slot;
  f->C_Finalize(nullptr);
  // Start the writer, let it commit a few dozen objects, then kill it hard.
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  int in[2];
  ASSERT_EQ(pipe(in), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(in[0], 0);
    close(out[0]);
    close(in[1]);
    execl(SOFTTOKEN_WRITER_PATH, SOFTTOKEN_WRITER_PATH, "killed", "0", nullptr);
    _exit(127);
  }
  close(out[1]);
  close(in[0]);
  std::string pin = std::string(kUserPin) + "\n";
  ASSERT_EQ(write(in[1], pin.data(), pin.size()), static_cast<ssize_t>(pin.size()));
  close(in[1]);
  std::string seen;
  long last = -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buf[256];
  while (last < 40 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, n);
    size_t pos = seen.rfind("created ");
    if (pos != std::string::npos && seen.find('\n', pos) != std::string::npos)
      last = std::atol(seen.c_str() + pos + 8);
  }
  kill(pid, SIGKILL);
  int status;
  waitpid(pid, &status, 0);
  close(out[0]);
  ASSERT_GE(last, 40) << seen;
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  CK_SESSION_HANDLE s = open_user(slot);
  Template all;
  auto objects = find(s, all);
  EXPECT_GE(static_cast<long>(objects.size()), last + 1);
  std::set<std::string> labels;
  for (CK_OBJECT_HANDLE o : objects) {
    CK_RV rv;
    Bytes label = attribute(s, o, CKA_LABEL, &rv);
    ASSERT_EQ(rv, CKR_OK);
    Bytes value = attribute(s, o, CKA_VALUE, &rv);
    ASSERT_EQ(rv, CKR_OK);
    EXPECT_EQ(value.size(), 300u);
    labels.insert(std::string(label.begin(), label.end()));
  }
  for (long i = 0; i <= last; ++i) EXPECT_TRUE(labels.count("killed-" + std::to_string(i))) << i;
  // The token still takes new objects.
  create_data(s, "after the crash");
}

TEST_F(Persistence, TwoProcessesCreateObjectsAtOnce) {
  CK_SLOT_ID slot = init_token();
  f->C_Finalize(nullptr);
  const int kEach = 40;
  RunResult a, b;
  std::thread ta([&] { a = run_command({SOFTTOKEN_WRITER_PATH, "left", std::to_string(kEach)}, std::string(kUserPin) + "\n", 120000); });
  std::thread tb([&] { b = run_command({SOFTTOKEN_WRITER_PATH, "right", std::to_string(kEach)}, std::string(kUserPin) + "\n", 120000); });
  ta.join();
  tb.join();
  EXPECT_EQ(a.status, 0) << a.out << a.err;
  EXPECT_EQ(b.status, 0) << b.out << b.err;
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  CK_SESSION_HANDLE s = open_user(slot);
  Template all;
  auto objects = find(s, all);
  std::set<std::string> labels;
  for (CK_OBJECT_HANDLE o : objects) {
    Bytes label = attribute(s, o, CKA_LABEL);
    labels.insert(std::string(label.begin(), label.end()));
  }
  EXPECT_EQ(objects.size(), 2u * kEach);
  EXPECT_EQ(labels.size(), 2u * kEach);
  EXPECT_TRUE(labels.count("left-0") && labels.count("right-" + std::to_string(kEach - 1)));
}

TEST_F(Persistence, ForeignAndDamagedFilesAreNotTokens) {
  CK_SLOT_ID slot = init_token();
  std::string real = db_path(slot);
  f->C_Finalize(nullptr);
  std::ofstream(dir + "/FFFFFFFFFFFFFFF0.db") << "this is not a database";
  std::ofstream(dir + "/notes.txt") << "nothing";
  // A copy of a real token under another name does not pass for a second token.
  std::filesystem::copy_file(real, dir + "/FFFFFFFFFFFFFFF1.db");
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  // Both take a slot of their own (and answer as damaged), the free slot
  // stays last.
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 4u);
  CK_SESSION_HANDLE s = open_user(slot);
  create_data(s, "still works");
}

// Another process re-initialises the token while we are logged in: nothing
// gets sealed with the old token key, and the stale login ends.
TEST_F(Persistence, ReinitialisationElsewhereEndsOurLogin) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  create_data(s, "before", true, true);
  RunResult r = run_command({SOFTTOKEN_WRITER_PATH, "--reinit", "0"}, std::string(kSoPin) + "\n", 60000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  Template t;
  t.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_TOKEN, true).boolean(CKA_PRIVATE, true);
  CK_OBJECT_HANDLE h;
  EXPECT_EQ(f->C_CreateObject(s, t.data(), t.size(), &h), CKR_DEVICE_REMOVED);
  CK_SESSION_INFO si;
  ASSERT_EQ(f->C_GetSessionInfo(s, &si), CKR_OK);
  EXPECT_EQ(si.state, CKS_RW_PUBLIC_SESSION);
  Template all;
  EXPECT_TRUE(find(s, all).empty());
  EXPECT_EQ(f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), CKR_USER_PIN_NOT_INITIALIZED);
  // Public writes fail too, until the sessions of the old token are gone.
  EXPECT_EQ(f->C_CreateObject(s, t.data(), 2, &h), CKR_DEVICE_REMOVED);
  ASSERT_EQ(f->C_CloseSession(s), CKR_OK);
  s = open(slot);
  EXPECT_EQ(f->C_CreateObject(s, t.data(), 2, &h), CKR_OK);
}

TEST_F(Persistence, AnotherProcessSeesNewTokensAndObjects) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  RunResult r = run_command({SOFTTOKEN_WRITER_PATH, "other", "3"}, std::string(kUserPin) + "\n", 60000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  Template t;
  t.text(CKA_LABEL, "other-2");
  EXPECT_EQ(find(s, t).size(), 1u);
  // A token made by another process appears at the next slot count.
  r = run_command({SOFTTOKEN_UTIL_PATH, "--init-token", "--free", "--label", "second", "--so-pin", "12345678", "--pin",
                   "87654321"},
                  "", 60000);
  ASSERT_EQ(r.status, 0) << r.err;
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 3u);
}

}  // namespace
}  // namespace sttest
