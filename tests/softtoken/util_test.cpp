// softtoken-util as scripts use it: exit statuses and output.
#include <filesystem>

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
  RunResult util(std::vector<std::string> args) {
    args.insert(args.begin(), SOFTTOKEN_UTIL_PATH);
    return run_command(args, "", 60000, {{"SOFTTOKEN_DIR", dir}, {"SOFTTOKEN_PBKDF2_ITERATIONS", "1000"}});
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

TEST_F(Util, BadArgumentsGiveUsageAndStatusTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"--bogus"},
           {"--init-token", "--free", "--label", "x"},
           {"--init-token", "--free", "--label", "x", "--so-pin", "12", "--pin", "12345678"},
           {"--delete-token"},
           {"--delete-token", "--serial", "../../etc/passwd"},
           {"--show-slots", "--show-slots"},
           {"--label"}}) {
    RunResult r = util(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(r.err.find("usage: softtoken-util"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  RunResult r = util({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: softtoken-util", 0), 0u);
}

}  // namespace
}  // namespace sttest
