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

}  // namespace
}  // namespace sttest
