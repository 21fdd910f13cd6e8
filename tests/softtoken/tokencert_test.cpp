// tokencert on this module: its listings show the module and its tokens.
#include <filesystem>

#include "st_fixture.h"

namespace sttest {
namespace {

#ifdef TOKENCERT_TOOL_PATH
TEST(TokencertOnSofttoken, ListingsShowTheTokens) {
  char tmpl[] = "/tmp/softtoken-tool-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  std::vector<std::pair<std::string, std::string>> env = {{"SOFTTOKEN_DIR", dir},
                                                          {"SOFTTOKEN_PBKDF2_ITERATIONS", "1000"}};
  RunResult r = run_command({SOFTTOKEN_UTIL_PATH, "--init-token", "--free", "--label", "tool listing", "--so-pin",
                             "87654321", "--pin", "12345678"},
                            "", 60000, env);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string serial = r.out.substr(r.out.size() - 17, 16);
  r = run_command({TOKENCERT_TOOL_PATH, "-p11", SOFTTOKEN_MODULE_PATH, "-p11info", "-slotlist", "-tokeninfo"}, "",
                  60000, env);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("softtoken GOST software token"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tool listing"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(serial), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("softtoken free slot"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace sttest
