// Sessions and login: states, sharing of the login, PIN counting and locking.
#include <atomic>
#include <cstring>
#include <thread>

#include "st_fixture.h"

namespace sttest {
namespace {

using SessionsAndLogin = SoftTokenTest;

CK_STATE state_of(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE s) {
  CK_SESSION_INFO si;
  EXPECT_EQ(f->C_GetSessionInfo(s, &si), CKR_OK);
  return si.state;
}

CK_RV login(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE s, CK_USER_TYPE u, const std::string& pin) {
  return f->C_Login(s, u, (CK_UTF8CHAR_PTR)pin.data(), pin.size());
}

CK_FLAGS token_flags(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot) {
  CK_TOKEN_INFO ti;
  EXPECT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
  return ti.flags;
}

TEST_F(SessionsAndLogin, OpenSessionRules) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s;
  EXPECT_EQ(f->C_OpenSession(slot, 0, nullptr, nullptr, &s), CKR_SESSION_PARALLEL_NOT_SUPPORTED);
  EXPECT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(f->C_OpenSession(slot + 9, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_SLOT_ID_INVALID);
  CK_SESSION_HANDLE ro = open(slot, false), rw = open(slot, true);
  EXPECT_NE(ro, rw);
  CK_SESSION_INFO si;
  ASSERT_EQ(f->C_GetSessionInfo(rw, &si), CKR_OK);
  EXPECT_EQ(si.slotID, slot);
  EXPECT_EQ(si.flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
  EXPECT_EQ(si.state, CKS_RW_PUBLIC_SESSION);
  EXPECT_EQ(state_of(f, ro), CKS_RO_PUBLIC_SESSION);
  EXPECT_EQ(f->C_CloseSession(ro), CKR_OK);
  EXPECT_EQ(f->C_CloseSession(ro), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(f->C_GetSessionInfo(ro, &si), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(f->C_CloseAllSessions(slot), CKR_OK);
  EXPECT_EQ(f->C_GetSessionInfo(rw, &si), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(SessionsAndLogin, LoginIsSharedByTheApplicationsSessions) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE a = open(slot, true), b = open(slot, false);
  EXPECT_EQ(f->C_Login(a, CKU_USER, nullptr, 0), CKR_ARGUMENTS_BAD);
  ASSERT_EQ(login(f, a, CKU_USER, kUserPin), CKR_OK);
  EXPECT_EQ(state_of(f, a), CKS_RW_USER_FUNCTIONS);
  EXPECT_EQ(state_of(f, b), CKS_RO_USER_FUNCTIONS);
  CK_SESSION_HANDLE c = open(slot, true);
  EXPECT_EQ(state_of(f, c), CKS_RW_USER_FUNCTIONS);
  EXPECT_EQ(login(f, b, CKU_USER, kUserPin), CKR_USER_ALREADY_LOGGED_IN);
  EXPECT_EQ(login(f, b, CKU_SO, kSoPin), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
  EXPECT_EQ(login(f, b, 7, kSoPin), CKR_USER_TYPE_INVALID);
  ASSERT_EQ(f->C_Logout(b), CKR_OK);
  EXPECT_EQ(state_of(f, a), CKS_RW_PUBLIC_SESSION);
  EXPECT_EQ(f->C_Logout(a), CKR_USER_NOT_LOGGED_IN);
  // The SO cannot log in while a read-only session is open.
  EXPECT_EQ(login(f, a, CKU_SO, kSoPin), CKR_SESSION_READ_ONLY_EXISTS);
  f->C_CloseSession(b);
  ASSERT_EQ(login(f, a, CKU_SO, kSoPin), CKR_OK);
  EXPECT_EQ(state_of(f, c), CKS_RW_SO_FUNCTIONS);
  CK_SESSION_HANDLE ro;
  EXPECT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &ro), CKR_SESSION_READ_WRITE_SO_EXISTS);
  // Closing the last session ends the login.
  f->C_CloseSession(a);
  f->C_CloseSession(c);
  a = open(slot, false);
  EXPECT_EQ(state_of(f, a), CKS_RO_PUBLIC_SESSION);
}

TEST_F(SessionsAndLogin, WrongPinsAreCountedAndLockTheToken) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open(slot);
  EXPECT_EQ(login(f, s, CKU_USER, "bad-pin"), CKR_PIN_INCORRECT);
  EXPECT_TRUE(token_flags(f, slot) & CKF_USER_PIN_COUNT_LOW);
  // A right PIN resets the count.
  ASSERT_EQ(login(f, s, CKU_USER, kUserPin), CKR_OK);
  EXPECT_FALSE(token_flags(f, slot) & CKF_USER_PIN_COUNT_LOW);
  ASSERT_EQ(f->C_Logout(s), CKR_OK);
  for (int i = 0; i < 9; ++i) ASSERT_EQ(login(f, s, CKU_USER, "bad-pin"), CKR_PIN_INCORRECT) << i;
  EXPECT_TRUE(token_flags(f, slot) & CKF_USER_PIN_FINAL_TRY);
  EXPECT_EQ(login(f, s, CKU_USER, "bad-pin"), CKR_PIN_INCORRECT);
  EXPECT_TRUE(token_flags(f, slot) & CKF_USER_PIN_LOCKED);
  EXPECT_EQ(login(f, s, CKU_USER, kUserPin), CKR_PIN_LOCKED);
  // The count is kept in the token, not in the process.
  f->C_CloseSession(s);
  reopen();
  EXPECT_TRUE(token_flags(f, slot) & CKF_USER_PIN_LOCKED);
  s = open(slot);
  EXPECT_EQ(login(f, s, CKU_USER, kUserPin), CKR_PIN_LOCKED);
  // The SO unlocks by setting a new user PIN.
  ASSERT_EQ(login(f, s, CKU_SO, kSoPin), CKR_OK);
  ASSERT_EQ(f->C_InitPIN(s, (CK_UTF8CHAR_PTR) "new-user-pin", 12), CKR_OK);
  ASSERT_EQ(f->C_Logout(s), CKR_OK);
  EXPECT_FALSE(token_flags(f, slot) & CKF_USER_PIN_LOCKED);
  EXPECT_EQ(login(f, s, CKU_USER, "new-user-pin"), CKR_OK);
}

TEST_F(SessionsAndLogin, SoPinLocksToo) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open(slot);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(login(f, s, CKU_SO, "bad-so-pin"), CKR_PIN_INCORRECT);
  EXPECT_TRUE(token_flags(f, slot) & CKF_SO_PIN_LOCKED);
  EXPECT_EQ(login(f, s, CKU_SO, kSoPin), CKR_PIN_LOCKED);
  EXPECT_EQ(login(f, s, CKU_USER, kUserPin), CKR_OK);
}

TEST_F(SessionsAndLogin, SetPinAndInitPin) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE ro = open(slot, false);
  EXPECT_EQ(f->C_SetPIN(ro, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin), (CK_UTF8CHAR_PTR) "abcdef", 6),
            CKR_SESSION_READ_ONLY);
  f->C_CloseSession(ro);
  CK_SESSION_HANDLE s = open_user(slot);
  EXPECT_EQ(f->C_SetPIN(s, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin), (CK_UTF8CHAR_PTR) "abc", 3),
            CKR_PIN_LEN_RANGE);
  EXPECT_EQ(f->C_SetPIN(s, (CK_UTF8CHAR_PTR) "not-it", 6, (CK_UTF8CHAR_PTR) "abcdef", 6), CKR_PIN_INCORRECT);
  create_data(s, "secret", true, true);
  ASSERT_EQ(f->C_SetPIN(s, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin), (CK_UTF8CHAR_PTR) "abcdef", 6), CKR_OK);
  EXPECT_EQ(f->C_InitPIN(s, (CK_UTF8CHAR_PTR) "abcdef", 6), CKR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(f->C_Logout(s), CKR_OK);
  EXPECT_EQ(login(f, s, CKU_USER, kUserPin), CKR_PIN_INCORRECT);
  ASSERT_EQ(login(f, s, CKU_USER, "abcdef"), CKR_OK);
  // The private objects are still readable under the new PIN.
  Template t;
  t.text(CKA_LABEL, "secret");
  auto found = find(s, t);
  ASSERT_EQ(found.size(), 1u);
  Bytes v = attribute(s, found[0], CKA_VALUE);
  EXPECT_EQ(std::string(v.begin(), v.end()), "value of secret");
  ASSERT_EQ(f->C_Logout(s), CKR_OK);
  // The SO changes its own PIN when logged in as SO.
  ASSERT_EQ(login(f, s, CKU_SO, kSoPin), CKR_OK);
  ASSERT_EQ(f->C_SetPIN(s, (CK_UTF8CHAR_PTR)kSoPin, std::strlen(kSoPin), (CK_UTF8CHAR_PTR) "so-pin-2", 8), CKR_OK);
  ASSERT_EQ(f->C_Logout(s), CKR_OK);
  EXPECT_EQ(login(f, s, CKU_SO, kSoPin), CKR_PIN_INCORRECT);
  EXPECT_EQ(login(f, s, CKU_SO, "so-pin-2"), CKR_OK);
}

TEST_F(SessionsAndLogin, ThreadsWorkInTheirOwnSessions) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE keep = open_user(slot);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      CK_SESSION_HANDLE s;
      if (f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s) != CKR_OK) {
        ++failures;
        return;
      }
      for (int i = 0; i < 20; ++i) {
        std::string label = "thread-" + std::to_string(t) + "-" + std::to_string(i);
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE a[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_TOKEN, &yes, 1}, {CKA_LABEL, label.data(), label.size()}};
        CK_OBJECT_HANDLE h;
        if (f->C_CreateObject(s, a, 3, &h) != CKR_OK) ++failures;
        CK_ULONG n = 0;
        if (f->C_FindObjectsInit(s, &a[2], 1) != CKR_OK || f->C_FindObjects(s, &h, 1, &n) != CKR_OK || n != 1 ||
            f->C_FindObjectsFinal(s) != CKR_OK)
          ++failures;
      }
      f->C_CloseSession(s);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  Template all;
  EXPECT_EQ(find(keep, all).size(), 80u);
  // The login outlived the threads' sessions: this one is still open.
  EXPECT_EQ(state_of(f, keep), CKS_RW_USER_FUNCTIONS);
}

}  // namespace
}  // namespace sttest
