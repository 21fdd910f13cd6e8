// Storage that is damaged, read-only, or changed by another process: what
// the token answers, and that nothing else is lost.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "st_fixture.h"
#include "st_mechanisms.h"

namespace sttest {
namespace {

void sql(const std::string& path, const std::string& statement) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << statement;
  sqlite3_close(db);
}

// Flips one bit of a stored value: `select` yields (rowid, blob).
void flip(const std::string& path, const std::string& select, const std::string& update, size_t offset) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, select.c_str(), -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  sqlite3_int64 id = sqlite3_column_int64(st, 0);
  auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 1));
  Bytes v(p, p + sqlite3_column_bytes(st, 1));
  sqlite3_finalize(st);
  ASSERT_LT(offset, v.size());
  v[offset] ^= 0x01;
  ASSERT_EQ(sqlite3_prepare_v2(db, update.c_str(), -1, &st, nullptr), SQLITE_OK);
  sqlite3_bind_blob(st, 1, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 2, id);
  EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
  sqlite3_finalize(st);
  sqlite3_close(db);
}

// Runs `body` in a child process (as an unprivileged user when `drop` and
// this process is root); returns what the body reported, "" when all held.
std::string in_child(const std::function<std::string()>& body, bool drop = false) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    alarm(120);
    std::string out;
    if (drop && geteuid() == 0) {
      passwd* nobody = getpwnam("nobody");
      if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) out = "cannot drop privileges";
    }
    if (out.empty()) out = body();
    if (write(fds[1], out.data(), out.size()) < 0) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += " (child did not finish)";
  return out;
}

#define CHILD_CHECK(call, want)                                                             \
  do {                                                                                     \
    CK_RV got_ = (call);                                                                   \
    if (got_ != (want)) return std::string(#call) + " gave 0x" + hex_of(got_) + "\n"; \
  } while (0)

std::string hex_of(CK_RV rv) {
  char b[20];
  std::snprintf(b, sizeof b, "%lx", rv);
  return b;
}

enum class Effect { Unreadable, RecordSkipped, PinKeyDamaged, ReadOnly };

struct Damage {
  const char* name;
  Effect effect;
  // Damages the first token's file (the module is finalised meanwhile).
  std::function<void(const std::string& db, const std::string& dir)> apply;
};

const Damage kDamage[] = {
    {"truncated", Effect::Unreadable,
     [](const std::string& db, const std::string&) {
       std::filesystem::resize_file(db, std::filesystem::file_size(db) / 2);
     }},
    {"not_a_database", Effect::Unreadable,
     [](const std::string& db, const std::string&) { std::ofstream(db, std::ios::trunc) << "not a database"; }},
    {"settings_row_missing", Effect::Unreadable,
     [](const std::string& db, const std::string&) { sql(db, "DELETE FROM meta WHERE name = 'label'"); }},
    {"serial_of_another_token", Effect::Unreadable,
     [](const std::string& db, const std::string&) {
       sql(db, "UPDATE meta SET value = CAST('0000000000000001' AS BLOB) WHERE name = 'serial'");
     }},
    {"flipped_byte_in_an_open_record", Effect::RecordSkipped,
     [](const std::string& db, const std::string&) {
       flip(db, "SELECT id, clear FROM objects WHERE private = 0 ORDER BY id LIMIT 1",
            "UPDATE objects SET clear = ?1 WHERE id = ?2", 14);
     }},
    {"flipped_byte_in_a_sealed_record", Effect::RecordSkipped,
     [](const std::string& db, const std::string&) {
       flip(db, "SELECT id, sealed FROM objects WHERE private = 1 ORDER BY id LIMIT 1",
            "UPDATE objects SET sealed = ?1 WHERE id = ?2", 20);
     }},
    {"flipped_byte_in_the_wrapped_user_key", Effect::PinKeyDamaged,
     [](const std::string& db, const std::string&) {
       flip(db, "SELECT rowid, value FROM meta WHERE name = 'user_key'", "UPDATE meta SET value = ?1 WHERE rowid = ?2",
            30);
     }},
    {"read_only_directory", Effect::ReadOnly,
     [](const std::string& db, const std::string& dir) {
       for (const auto& e : std::filesystem::directory_iterator(dir)) chmod(e.path().c_str(), 0444);
       chmod(dir.c_str(), 0555);
       (void)db;
     }},
    {"read_only_file", Effect::ReadOnly,
     [](const std::string& db, const std::string& dir) {
       chmod(dir.c_str(), 0777);
       chmod(db.c_str(), 0444);
     }},
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class DamagedStorage : public SoftTokenTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedStorage, IsReportedAndHidesNothingElse) {
  const Damage& d = GetParam();
  CK_SLOT_ID first = init_token("first"), second = init_token("second");
  std::string db = db_path(first);
  CK_SESSION_HANDLE s = open_user(first);
  for (const char* label : {"one", "two", "three"}) create_data(s, label);
  create_data(s, "hidden", true, true);
  CK_OBJECT_HANDLE pub, priv;
  generate(s, kCurveA256, kHash2012_256, pub, priv, true);
  ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
  d.apply(db, dir);
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  ASSERT_EQ(n, 3u) << "the damaged token keeps its slot";
  CK_TOKEN_INFO ti;
  ASSERT_EQ(f->C_GetTokenInfo(second, &ti), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(ti.label), 6), "second") << "other slots do not shift";
  ASSERT_EQ(f->C_GetTokenInfo(first, &ti), CKR_OK);
  EXPECT_TRUE(ti.flags & CKF_TOKEN_INITIALIZED);
  unsigned char label[32];
  std::memset(label, ' ', sizeof label);

  switch (d.effect) {
    case Effect::Unreadable: {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(ti.label), 16), "unreadable token");
      EXPECT_EQ(f->C_OpenSession(first, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_DEVICE_ERROR);
      EXPECT_EQ(f->C_InitToken(first, (CK_UTF8CHAR_PTR)kSoPin, std::strlen(kSoPin), label), CKR_DEVICE_ERROR);
      EXPECT_NE(std::filesystem::file_size(db), 0u) << "nothing was written over it";
      break;
    }
    case Effect::RecordSkipped: {
      s = open_user(first);
      Template all;
      testing::internal::CaptureStderr();
      auto objects = find(s, all);
      find(s, all);
      std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(objects.size(), 5u) << "one of six records is damaged";
      size_t at = err.find("damaged object record");
      EXPECT_NE(at, std::string::npos) << err;
      EXPECT_EQ(err.find("damaged object record", at + 1), std::string::npos) << "said once: " << err;
      for (CK_OBJECT_HANDLE o : objects) {
        CK_RV rv;
        attribute(s, o, CKA_LABEL, &rv);
        EXPECT_EQ(rv, CKR_OK);
      }
      break;
    }
    case Effect::PinKeyDamaged: {
      s = open(first);
      EXPECT_EQ(f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), CKR_DEVICE_ERROR);
      EXPECT_EQ(f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)"wrong-pin", 9), CKR_DEVICE_ERROR);
      ASSERT_EQ(f->C_GetTokenInfo(first, &ti), CKR_OK);
      EXPECT_FALSE(ti.flags & (CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_LOCKED)) << "no failure counted";
      EXPECT_EQ(f->C_Login(s, CKU_SO, (CK_UTF8CHAR_PTR)kSoPin, std::strlen(kSoPin)), CKR_OK);
      break;
    }
    case Effect::ReadOnly: {
      // Checked by a process that really cannot write (root can).
      f->C_Finalize(nullptr);
      std::string failures = in_child(
          [&]() -> std::string {
            CK_FUNCTION_LIST_PTR m = module();
            CHILD_CHECK(m->C_Initialize(nullptr), CKR_OK);
            CK_TOKEN_INFO info;
            CHILD_CHECK(m->C_GetTokenInfo(first, &info), CKR_OK);
            if (!(info.flags & CKF_WRITE_PROTECTED)) return "not write-protected\n";
            CK_SESSION_HANDLE h;
            CHILD_CHECK(m->C_OpenSession(first, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
            CHILD_CHECK(m->C_Login(h, CKU_USER, (CK_UTF8CHAR_PTR)"wrong-pin", 9), CKR_PIN_INCORRECT);
            CHILD_CHECK(m->C_Login(h, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), CKR_OK);
            // Reading and signing work.
            CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
            CK_ATTRIBUTE q{CKA_CLASS, &cls, sizeof cls};
            CK_OBJECT_HANDLE key;
            CK_ULONG found = 0;
            CHILD_CHECK(m->C_FindObjectsInit(h, &q, 1), CKR_OK);
            CHILD_CHECK(m->C_FindObjects(h, &key, 1, &found), CKR_OK);
            CHILD_CHECK(m->C_FindObjectsFinal(h), CKR_OK);
            if (found != 1) return "no key found\n";
            CK_MECHANISM mech{CKM_GOSTR3410_WITH_GOSTR3411_12_256, nullptr, 0};
            uint8_t msg[3] = {1, 2, 3}, sig[64];
            CK_ULONG sig_len = sizeof sig;
            CHILD_CHECK(m->C_SignInit(h, &mech, key), CKR_OK);
            CHILD_CHECK(m->C_Sign(h, msg, 3, sig, &sig_len), CKR_OK);
            // Deriving makes a session object: that works too.
            uint8_t peer[64] = {0}, ukm[8] = {1};
            CK_OBJECT_CLASS pub_cls = CKO_PUBLIC_KEY;
            CK_ATTRIBUTE pq{CKA_CLASS, &pub_cls, sizeof pub_cls}, value{CKA_VALUE, peer, sizeof peer};
            CK_OBJECT_HANDLE pub_key, derived;
            CHILD_CHECK(m->C_FindObjectsInit(h, &pq, 1), CKR_OK);
            CHILD_CHECK(m->C_FindObjects(h, &pub_key, 1, &found), CKR_OK);
            CHILD_CHECK(m->C_FindObjectsFinal(h), CKR_OK);
            CHILD_CHECK(m->C_GetAttributeValue(h, pub_key, &value, 1), CKR_OK);
            CK_GOSTR3410_DERIVE_PARAMS dp{CKD_NULL, peer, sizeof peer, ukm, sizeof ukm};
            CK_MECHANISM dm{CKM_GOSTR3410_DERIVE, &dp, sizeof dp};
            CHILD_CHECK(m->C_DeriveKey(h, &dm, key, nullptr, 0, &derived), CKR_OK);
            // Writes are refused as such.
            CK_BBOOL yes = CK_TRUE;
            CK_OBJECT_CLASS data = CKO_DATA;
            CK_ATTRIBUTE t[] = {{CKA_CLASS, &data, sizeof data}, {CKA_TOKEN, &yes, 1}};
            CK_OBJECT_HANDLE made;
            CHILD_CHECK(m->C_CreateObject(h, t, 2, &made), CKR_TOKEN_WRITE_PROTECTED);
            CHILD_CHECK(m->C_CreateObject(h, t, 1, &made), CKR_OK);  // a session object
            CK_ATTRIBUTE rename{CKA_LABEL, (void*)"x", 1};
            CHILD_CHECK(m->C_SetAttributeValue(h, key, &rename, 1), CKR_TOKEN_WRITE_PROTECTED);
            CHILD_CHECK(m->C_DestroyObject(h, key), CKR_TOKEN_WRITE_PROTECTED);
            CHILD_CHECK(m->C_SetPIN(h, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin), (CK_UTF8CHAR_PTR)"new-pin-1", 9),
                        CKR_TOKEN_WRITE_PROTECTED);
            CHILD_CHECK(m->C_Finalize(nullptr), CKR_OK);
            return "";
          },
          true);
      EXPECT_EQ(failures, "");
      chmod(dir.c_str(), 0700);
      ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedStorage, ::testing::ValuesIn(kDamage),
                         [](const ::testing::TestParamInfo<Damage>& i) { return std::string(i.param.name); });

using OtherProcesses = SoftTokenTest;

// A token deleted elsewhere takes no more writes, and leaves the slot list
// at the next count; one made elsewhere joins it.
TEST_F(OtherProcesses, DeletedTokenTakesNoWritesAndLeavesTheList) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  create_data(s, "before");
  std::string db = db_path(slot);
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db + suffix);
  Template t;
  t.ulong(CKA_CLASS, CKO_DATA).boolean(CKA_TOKEN, true);
  CK_OBJECT_HANDLE h;
  EXPECT_EQ(f->C_CreateObject(s, t.data(), t.size(), &h), CKR_DEVICE_REMOVED);
  EXPECT_FALSE(std::filesystem::exists(db)) << "nothing written into a new file";
  CK_TOKEN_INFO ti;
  EXPECT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_TOKEN_NOT_PRESENT);
  ASSERT_EQ(f->C_CloseSession(s), CKR_OK);
  EXPECT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_TOKEN_NOT_PRESENT);
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 1u);
  RunResult r = run_command({SOFTTOKEN_UTIL_PATH, "--init-token", "--free", "--label", "elsewhere", "--so-pin",
                             "12345678", "--pin", "87654321"},
                            "", 60000);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 2u);
}

// Two processes initialising the free slot at once make two tokens (or one
// of them fails plainly); neither token is initialised over the other.
TEST_F(OtherProcesses, ConcurrentInitialisationsMakeTwoTokens) {
  RunResult a, b;
  auto init = [&](RunResult& r, const char* label) {
    r = run_command({SOFTTOKEN_UTIL_PATH, "--init-token", "--free", "--label", label, "--so-pin", "12345678", "--pin",
                     "87654321"},
                    "", 60000);
  };
  std::thread ta(init, std::ref(a), "left"), tb(init, std::ref(b), "right");
  ta.join();
  tb.join();
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 1u + (a.status == 0) + (b.status == 0)) << a.err << b.err;
  EXPECT_TRUE(a.status == 0 || b.status == 0);
  std::vector<CK_SLOT_ID> slots(n);
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, slots.data(), &n), CKR_OK);
  std::set<std::string> labels;
  for (CK_ULONG i = 0; i + 1 < n; ++i) {
    CK_TOKEN_INFO ti;
    ASSERT_EQ(f->C_GetTokenInfo(slots[i], &ti), CKR_OK);
    labels.insert(std::string(reinterpret_cast<char*>(ti.label), 5));
  }
  EXPECT_EQ(labels.size(), n - 1);
}

// After fork() the child initialises the module afresh, whatever the
// parent had open.
TEST_F(OtherProcesses, ChildOfForkInitialisesAfresh) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open_user(slot);
  create_data(s, "parent's");
  std::string failures = in_child([&]() -> std::string {
    CK_FUNCTION_LIST_PTR m = module();
    CHILD_CHECK(m->C_Initialize(nullptr), CKR_OK);
    CK_SESSION_HANDLE h;
    CHILD_CHECK(m->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
    CHILD_CHECK(m->C_Login(h, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), CKR_OK);
    CK_OBJECT_CLASS data = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &data, sizeof data}, {CKA_TOKEN, &yes, 1}, {CKA_LABEL, (void*)"child's", 7}};
    CK_OBJECT_HANDLE made;
    CHILD_CHECK(m->C_CreateObject(h, t, 3, &made), CKR_OK);
    CHILD_CHECK(m->C_Finalize(nullptr), CKR_OK);
    return "";
  });
  EXPECT_EQ(failures, "");
  // The parent's session and login are untouched, and it sees the child's object.
  Template all;
  EXPECT_EQ(find(s, all).size(), 2u);
}

}  // namespace
}  // namespace sttest
