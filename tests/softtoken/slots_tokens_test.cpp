// Library, slots and tokens: listings, token initialisation, mechanisms.
#include <cstring>
#include <filesystem>

#include "st_fixture.h"
#include "st_mechanisms.h"

namespace sttest {
namespace {

using SlotsAndTokens = SoftTokenTest;

std::string field(const unsigned char* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

TEST_F(SlotsAndTokens, InitialiseTwiceAndFinaliseProtocol) {
  EXPECT_EQ(f->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_EQ(f->C_Finalize(reinterpret_cast<void*>(1)), CKR_ARGUMENTS_BAD);
  ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
  CK_ULONG n = 0;
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(f->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
  CK_C_INITIALIZE_ARGS args{};
  args.flags = CKF_OS_LOCKING_OK;
  ASSERT_EQ(f->C_Initialize(&args), CKR_OK);
  ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
  args.pReserved = &args;
  EXPECT_EQ(f->C_Initialize(&args), CKR_ARGUMENTS_BAD);
  // Mutex callbacks without permission to use the system's locks.
  CK_C_INITIALIZE_ARGS cb{};
  cb.CreateMutex = [](void**) -> CK_RV { return CKR_OK; };
  cb.DestroyMutex = [](void*) -> CK_RV { return CKR_OK; };
  cb.LockMutex = [](void*) -> CK_RV { return CKR_OK; };
  cb.UnlockMutex = [](void*) -> CK_RV { return CKR_OK; };
  EXPECT_EQ(f->C_Initialize(&cb), CKR_CANT_LOCK);
  cb.UnlockMutex = nullptr;
  EXPECT_EQ(f->C_Initialize(&cb), CKR_ARGUMENTS_BAD);
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
}

TEST_F(SlotsAndTokens, LibraryInfo) {
  CK_INFO info;
  ASSERT_EQ(f->C_GetInfo(&info), CKR_OK);
  EXPECT_EQ(info.cryptokiVersion.major, 2);
  EXPECT_EQ(info.cryptokiVersion.minor, 30);
  EXPECT_EQ(field(info.manufacturerID, 32).substr(0, 10), "tokencert ");
  EXPECT_EQ(f->version.major, 2);
  EXPECT_EQ(f->C_GetInfo(nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(SlotsAndTokens, MissingDirectoryIsMadeByTheFirstToken) {
  std::string nested = dir + "/a/b";
  setenv("SOFTTOKEN_DIR", nested.c_str(), 1);
  reopen();
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 1u);
  EXPECT_FALSE(std::filesystem::exists(nested));
  init_token();
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  EXPECT_EQ(std::filesystem::status(nested).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(nested)) {
    if (e.path().extension() != ".db") continue;
    ++files;
    EXPECT_EQ(e.status().permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  EXPECT_EQ(files, 1);
}

TEST_F(SlotsAndTokens, EmptyDirectoryHasOneFreeSlot) {
  CK_ULONG n = 99;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  ASSERT_EQ(n, 1u);
  CK_SLOT_ID slot;
  ASSERT_EQ(f->C_GetSlotList(CK_FALSE, &slot, &n), CKR_OK);
  CK_SLOT_INFO si;
  ASSERT_EQ(f->C_GetSlotInfo(slot, &si), CKR_OK);
  EXPECT_TRUE(si.flags & CKF_TOKEN_PRESENT);
  CK_TOKEN_INFO ti;
  ASSERT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
  EXPECT_FALSE(ti.flags & CKF_TOKEN_INITIALIZED);
  EXPECT_FALSE(ti.flags & CKF_USER_PIN_INITIALIZED);
  EXPECT_EQ(field(ti.label, 32), std::string(32, ' '));
  CK_SESSION_HANDLE s;
  EXPECT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_TOKEN_NOT_RECOGNIZED);
  EXPECT_EQ(f->C_GetSlotInfo(slot + 100, &si), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(f->C_GetTokenInfo(slot + 100, &ti), CKR_SLOT_ID_INVALID);
}

TEST_F(SlotsAndTokens, SlotListCountThenListProtocol) {
  init_token("one");
  init_token("two");
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  ASSERT_EQ(n, 3u);
  std::vector<CK_SLOT_ID> ids(n);
  CK_ULONG small = 1;
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, ids.data(), &small), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(small, 3u);
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, ids.data(), &n), CKR_OK);
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, ids.data(), nullptr), CKR_ARGUMENTS_BAD);
  CK_TOKEN_INFO ti;
  ASSERT_EQ(f->C_GetTokenInfo(ids[2], &ti), CKR_OK);
  EXPECT_FALSE(ti.flags & CKF_TOKEN_INITIALIZED);
  // A new process sees both tokens, in the same order, and a free slot last.
  reopen();
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  ASSERT_EQ(n, 3u);
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, ids.data(), &n), CKR_OK);
  std::vector<std::string> labels;
  for (CK_SLOT_ID id : ids) {
    ASSERT_EQ(f->C_GetTokenInfo(id, &ti), CKR_OK);
    labels.push_back(field(ti.label, 32));
  }
  // Tokens are listed in the order they were made.
  EXPECT_EQ(labels[0].substr(0, 4), "one ");
  EXPECT_EQ(labels[1].substr(0, 4), "two ");
  EXPECT_EQ(labels[2], std::string(32, ' '));
}

TEST_F(SlotsAndTokens, TokenInfoOfAnInitialisedToken) {
  CK_SLOT_ID slot = init_token("Signing token");
  CK_TOKEN_INFO ti;
  ASSERT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
  EXPECT_EQ(field(ti.label, 32), "Signing token" + std::string(19, ' '));
  EXPECT_EQ(field(ti.manufacturerID, 32), "tokencert" + std::string(23, ' '));
  EXPECT_EQ(field(ti.model, 16), "softtoken" + std::string(7, ' '));
  std::string serial = field(ti.serialNumber, 16);
  EXPECT_EQ(serial.find_first_not_of("0123456789ABCDEF"), std::string::npos) << serial;
  CK_FLAGS want = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
  EXPECT_EQ(ti.flags, want);
  EXPECT_EQ(ti.ulMinPinLen, 4u);
  EXPECT_EQ(ti.ulMaxPinLen, 64u);
  EXPECT_EQ(ti.ulSessionCount, 0u);
  CK_SESSION_HANDLE ro = open(slot, false), rw = open(slot, true);
  ASSERT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
  EXPECT_EQ(ti.ulSessionCount, 2u);
  EXPECT_EQ(ti.ulRwSessionCount, 1u);
  f->C_CloseSession(ro);
  f->C_CloseSession(rw);
}

TEST_F(SlotsAndTokens, InitTokenRules) {
  CK_ULONG n = 1;
  CK_SLOT_ID slot;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, &slot, &n), CKR_OK);
  unsigned char label[32];
  std::memset(label, ' ', 32);
  EXPECT_EQ(f->C_InitToken(slot, (CK_UTF8CHAR_PTR) "123", 3, label), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(f->C_InitToken(slot, (CK_UTF8CHAR_PTR) "12345", 5, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(f->C_InitToken(slot + 7, (CK_UTF8CHAR_PTR) "12345", 5, label), CKR_SLOT_ID_INVALID);
  slot = init_token("keep");
  CK_SESSION_HANDLE s = open_user(slot);
  create_data(s, "obj");
  EXPECT_EQ(f->C_InitToken(slot, (CK_UTF8CHAR_PTR)kSoPin, std::strlen(kSoPin), label), CKR_SESSION_EXISTS);
  f->C_CloseSession(s);
  EXPECT_EQ(f->C_InitToken(slot, (CK_UTF8CHAR_PTR) "wrong-so", 8, label), CKR_PIN_INCORRECT);
  // Re-initialisation by the SO erases the objects and the user PIN.
  std::memcpy(label, "fresh", 5);
  ASSERT_EQ(f->C_InitToken(slot, (CK_UTF8CHAR_PTR)kSoPin, std::strlen(kSoPin), label), CKR_OK);
  CK_TOKEN_INFO ti;
  ASSERT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
  EXPECT_EQ(field(ti.label, 5), "fresh");
  EXPECT_FALSE(ti.flags & CKF_USER_PIN_INITIALIZED);
  EXPECT_FALSE(ti.flags & CKF_SO_PIN_COUNT_LOW);  // the right PIN cleared the count
  s = open(slot);
  Template all;
  EXPECT_TRUE(find(s, all).empty());
  EXPECT_EQ(f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, std::strlen(kUserPin)), CKR_USER_PIN_NOT_INITIALIZED);
}

TEST_F(SlotsAndTokens, MechanismListAndInfo) {
  CK_ULONG n = 0;
  CK_SLOT_ID slot;
  CK_ULONG one = 1;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, &slot, &one), CKR_OK);
  ASSERT_EQ(f->C_GetMechanismList(slot, nullptr, &n), CKR_OK);
  ASSERT_EQ(n, 12u);
  std::vector<CK_MECHANISM_TYPE> list(n);
  CK_ULONG small = 2;
  EXPECT_EQ(f->C_GetMechanismList(slot, list.data(), &small), CKR_BUFFER_TOO_SMALL);
  ASSERT_EQ(f->C_GetMechanismList(slot, list.data(), &n), CKR_OK);
  std::vector<CK_MECHANISM_TYPE> want = {CKM_GOSTR3410_KEY_PAIR_GEN, CKM_GOSTR3410_512_KEY_PAIR_GEN, CKM_GOSTR3410,
                                         CKM_GOSTR3410_512, CKM_GOSTR3410_WITH_GOSTR3411,
                                         CKM_GOSTR3410_WITH_GOSTR3411_12_256, CKM_GOSTR3410_WITH_GOSTR3411_12_512,
                                         CKM_GOSTR3410_DERIVE, CKM_GOSTR3410_12_DERIVE, CKM_GOSTR3411,
                                         CKM_GOSTR3411_12_256, CKM_GOSTR3411_12_512};
  EXPECT_EQ(list, want);
  CK_MECHANISM_INFO mi;
  ASSERT_EQ(f->C_GetMechanismInfo(slot, CKM_GOSTR3410_512, &mi), CKR_OK);
  EXPECT_EQ(mi.flags, CKF_SIGN | CKF_VERIFY);
  EXPECT_EQ(mi.ulMinKeySize, 512u);
  ASSERT_EQ(f->C_GetMechanismInfo(slot, CKM_GOSTR3410_DERIVE, &mi), CKR_OK);
  EXPECT_EQ(mi.flags, CKF_DERIVE);
  EXPECT_EQ(f->C_GetMechanismInfo(slot, CKM_RSA_PKCS, &mi), CKR_MECHANISM_INVALID);
  EXPECT_EQ(f->C_GetMechanismInfo(slot + 5, CKM_GOSTR3410, &mi), CKR_SLOT_ID_INVALID);
}

TEST_F(SlotsAndTokens, RandomAndUnsupportedFunctions) {
  CK_SLOT_ID slot = init_token();
  CK_SESSION_HANDLE s = open(slot, false);
  uint8_t a[32] = {0}, b[32] = {0};
  ASSERT_EQ(f->C_GenerateRandom(s, a, sizeof a), CKR_OK);
  ASSERT_EQ(f->C_GenerateRandom(s, b, sizeof b), CKR_OK);
  EXPECT_NE(std::memcmp(a, b, 32), 0);
  EXPECT_EQ(f->C_GenerateRandom(s + 100, a, 1), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(f->C_SeedRandom(s, a, 4), CKR_RANDOM_SEED_NOT_SUPPORTED);
  CK_MECHANISM m{CKM_GOST28147_ECB, nullptr, 0};
  EXPECT_EQ(f->C_EncryptInit(s, &m, 1), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(f->C_DigestInit(s, &m), CKR_MECHANISM_INVALID);
  EXPECT_EQ(f->C_WaitForSlotEvent(0, nullptr, nullptr), CKR_FUNCTION_NOT_SUPPORTED);
}

}  // namespace
}  // namespace sttest
