// softtoken-util as scripts use it: exit statuses and output.
#include <cctype>
#include <filesystem>
#include <fstream>

#include "st_fixture.h"

namespace sttest {
namespace {

class Util : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/softtoken-util-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  RunResult util(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), SOFTTOKEN_UTIL_PATH);
    return run_command(args, input, 60000, {{"SOFTTOKEN_DIR", dir}, {"SOFTTOKEN_PBKDF2_ITERATIONS", "1000"}});
  }
  std::string dir;
};

TEST_F(Util, InitShowAndDeleteATokenLikeAScript) {
  RunResult r = util({"--show-slots"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Token directory: " + dir + "\nSlot 0: free (no token initialised)\n");
  r = util({"--init-token", "--free", "--label", "Demo token", "--so-pin", "87654321", "--pin", "12345678"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out.rfind("Token 'Demo token' initialised in slot 0, serial ", 0), 0u) << r.out;
  std::string serial = r.out.substr(r.out.size() - 17, 16);
  r = util({"--show-slots"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Token directory: " + dir + "\nSlot 0: serial " + serial +
                       ", label 'Demo token', user PIN set\nSlot 1: free (no token initialised)\n");
  r = util({"--delete-token", "--serial", serial});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Token " + serial + " deleted\n");
  r = util({"--delete-token", "--serial", serial});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "softtoken-util: no token with serial " + serial + " in " + dir + "\n");
}

TEST_F(Util, BadArgumentsGiveOneLineAHintAndStatusTwo) {
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{}, "no command given"},
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--init-token", "--free", "--label", "x"},
       "--init-token needs --free, --label, --so-pin-source (or --so-pin) and --pin-source (or --pin)"},
      {{"--init-token", "--free", "--label", "x", "--so-pin", "12", "--pin", "12345678"},
       "PINs must be 4 to 64 bytes long"},
      {{"--init-token", "--free", "--label", "x", "--so-pin-source", "87654321", "--pin", "12345678"},
       "--so-pin-source takes pass:TEXT, env:VAR, file:PATH, fd:N or stdin"},
      {{"--delete-token"}, "--delete-token needs --serial"},
      {{"--delete-token", "--serial", "../../etc/passwd"}, "a serial is 16 hexadecimal digits"},
      {{"--delete-token", "--serial", "0123456789ABCDEG"}, "a serial is 16 hexadecimal digits"},
      {{"--show-slots", "--show-slots"}, "give one command"},
      {{"--label"}, "--label needs a value"},
  };
  for (const auto& c : cases) {
    RunResult r = util(c.args);
    EXPECT_EQ(r.status, 2) << c.line;
    EXPECT_EQ(r.err, "softtoken-util: " + c.line + "\nTry 'softtoken-util --help' for more information.\n");
    EXPECT_TRUE(r.out.empty());
  }
  RunResult r = util({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: softtoken-util", 0), 0u);
}

// PINs from sources, one after the other from one descriptor (the tool's
// tests log in with PINs set so); a serial in lower case names the token.
TEST_F(Util, PinsFromSourcesAndSerialsInAnyCase) {
  const std::string so_pin_file = dir + "/so-pin";
  { std::ofstream(so_pin_file) << "87654321\n"; }
  RunResult r = util({"--init-token", "--free", "--label", "a", "--so-pin-source", "file:" + so_pin_file,
                      "--pin-source", "stdin"}, "12345678\n");
  ASSERT_EQ(r.status, 0) << r.err;
  r = util({"--init-token", "--free", "--label", "b", "--so-pin-source", "stdin", "--pin-source", "fd:0"},
           "87654321\nabcdefgh\n");
  ASSERT_EQ(r.status, 0) << r.err;
  r = util({"--init-token", "--free", "--label", "c", "--so-pin-source", "file:" + dir + "/none",
            "--pin-source", "pass:12345678"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "softtoken-util: can't read the PIN of --so-pin-source: No such file or directory\n");
  r = util({"--show-slots"});
  EXPECT_NE(r.out.find("label 'b', user PIN set"), std::string::npos) << r.out;
  const std::string serial = r.out.substr(r.out.find("serial ") + 7, 16);
  std::string lower = serial;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  r = util({"--delete-token", "--serial", lower});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Token " + serial + " deleted\n");
}

// The PIN commands against tokens the test set up through the module, whose
// flags and logins are then checked in this process.
class PinUtil : public SoftTokenTest {
 protected:
  RunResult util(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), SOFTTOKEN_UTIL_PATH);
    return run_command(args, input, 60000, {{"NEW_PIN", "pin-from-env"}});
  }
  std::string serial_of(CK_SLOT_ID slot) {
    CK_TOKEN_INFO ti;
    EXPECT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
    return std::string(reinterpret_cast<char*>(ti.serialNumber), 16);
  }
  CK_RV login_as_user(CK_SLOT_ID slot, const std::string& pin) {
    CK_SESSION_HANDLE s = open(slot);
    CK_RV rv = f->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR)pin.data(), pin.size());
    f->C_CloseSession(s);
    return rv;
  }
  void expect(const RunResult& r, int status, const std::string& out, const std::string& err) {
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err.empty() ? "" : "softtoken-util: " + err + (status == 2 ? "\nTry 'softtoken-util --help' for more information.\n" : "\n"));
  }
};

TEST_F(PinUtil, ChangeByLabelOrSerialFromEverySourceAndEachFailureItsLine) {
  const CK_SLOT_ID slot = init_token("pins");
  const std::string serial = serial_of(slot), twin = serial_of(init_token("twin"));
  const std::string twins = twin + ", " + serial_of(init_token("twin"));
  std::string lower = serial;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const std::string so_pin_file = dir + "/so-pin";
  std::ofstream(so_pin_file) << kSoPin << "\n";
  const std::string changed = "User PIN of token 'pins' (serial " + serial + ") changed\n";
  const std::vector<std::string> label{"--change-pin", "--label", "pins"}, by_serial{"--change-pin", "--serial", lower};
  auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out, err;
  } steps[] = {
      {with(label, {"--pin-source", "pass:user-pin-1", "--new-pin-source", "env:NEW_PIN"}), "", 0, changed, ""},
      {with(label, {"--pin", "user-pin-1", "--new-pin", "other-pin"}), "", 1, "", "the user PIN is incorrect"},
      {with(by_serial, {"--pin-source", "stdin", "--new-pin-source", "fd:0"}), "pin-from-env\nuser-pin-2\n", 0, changed, ""},
      {{"--unblock-pin", "--label", "pins", "--so-pin", "wrong-so", "--new-pin", "x1234"}, "", 1, "", "the SO PIN is incorrect"},
      {{"--change-pin", "--label", "twin", "--pin", "user-pin-1", "--new-pin", "abcd"}, "", 1, "",
       "2 tokens are labelled 'twin' (serials " + twins + "): choose one with --serial"},
      {{"--unblock-pin", "--label", "none", "--so-pin", "a", "--new-pin", "abcd"}, "", 1, "", "no token labelled 'none' in " + dir},
      {{"--change-pin", "--serial", "00000000000000aa", "--pin", "a", "--new-pin", "abcd"}, "", 1, "",
       "no token with serial 00000000000000AA in " + dir},
      {{"--unblock-pin", "--serial", serial, "--so-pin-source", "file:" + so_pin_file, "--new-pin-source", "pass:abc"},
       "", 2, "", "the new PIN must be 4 to 64 bytes long"},
      {{"--unblock-pin", "--serial", serial, "--so-pin-source", "file:" + so_pin_file, "--new-pin", "user-pin-2"}, "", 0,
       "User PIN of token 'pins' (serial " + serial + ") set by the SO\n", ""},
      {with(label, {"--pin-source", "file:" + dir + "/none", "--new-pin", "abcd"}), "", 1, "",
       "can't read the PIN of --pin-source: No such file or directory"},
      {with(label, {"--pin", "user-pin-2", "--new-pin-source", "env:NO_SUCH_PIN"}), "", 1, "",
       "can't read the PIN of --new-pin-source: no such variable in the environment"},
      {with(label, {"--pin-source", "user-pin-2", "--new-pin", "abcd"}), "", 2, "",
       "--pin-source takes pass:TEXT, env:VAR, file:PATH, fd:N or stdin"},
      {with(label, {"--pin", "a", "--pin-source", "pass:a", "--new-pin", "abcd"}), "", 2, "", "give --pin or --pin-source, not both"},
      {with(label, {"--serial", serial, "--pin", "a", "--new-pin", "abcd"}), "", 2, "", "give --label or --serial, not both"},
      {with(label, {"--new-pin", "abcd"}), "", 2, "",
       "--change-pin needs --label (or --serial), --pin-source (or --pin) and --new-pin-source (or --new-pin)"},
      {{"--unblock-pin", "--serial", "12", "--so-pin", "a", "--new-pin", "abcd"}, "", 2, "", "a serial is 16 hexadecimal digits"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.args[0] + " " + step.args[1] + " " + step.args[2] + " " + step.args[3]);
    expect(util(step.args, step.input), step.status, step.out, step.err);
  }
  // Only the changes took: the PIN is the last one set, and no failure is counted.
  EXPECT_EQ(login_as_user(slot, "user-pin-1"), CKR_PIN_INCORRECT);
  EXPECT_EQ(login_as_user(slot, "user-pin-2"), CKR_OK);
}

TEST_F(PinUtil, LockedByWrongTriesUnblockedByTheSo) {
  const CK_SLOT_ID slot = init_token("pins");
  const std::vector<std::string> wrong{"--change-pin", "--label", "pins", "--pin", "wrong-pin", "--new-pin", "abcd"};
  const std::string locked = "the user PIN is incorrect, and now locked: the SO can set a new one with --unblock-pin";
  for (int i = 0; i < 10; ++i)
    expect(util(wrong), 1, "",
           i == 9 ? locked : i == 8 ? "the user PIN is incorrect; one try is left before it locks" : "the user PIN is incorrect");
  expect(util({"--change-pin", "--label", "pins", "--pin", kUserPin, "--new-pin", "abcd"}), 1, "",
         "the user PIN is locked: the SO can set a new one with --unblock-pin");
  CK_TOKEN_INFO ti;
  ASSERT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
  EXPECT_TRUE(ti.flags & CKF_USER_PIN_LOCKED);
  expect(util({"--unblock-pin", "--label", "pins", "--so-pin-source", "stdin", "--new-pin-source", "stdin"},
              std::string(kSoPin) + "\nfresh-pin\n"),
         0, "User PIN of token 'pins' (serial " + serial_of(slot) + ") set by the SO, and unlocked\n", "");
  ASSERT_EQ(f->C_GetTokenInfo(slot, &ti), CKR_OK);
  EXPECT_EQ(ti.flags & (CKF_USER_PIN_LOCKED | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_COUNT_LOW), 0u);
  EXPECT_EQ(login_as_user(slot, kUserPin), CKR_PIN_INCORRECT);
  EXPECT_EQ(login_as_user(slot, "fresh-pin"), CKR_OK);
}

}  // namespace
}  // namespace sttest
