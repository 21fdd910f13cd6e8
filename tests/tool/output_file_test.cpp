// The export file's rule for a user who is not its owner or may not write it:
// such a file is opened in place, so renaming never does what writing could
// not. Run as root, the checks drop to an unprivileged user in a child.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "output_file.h"
#include "run_process.h"

namespace {

constexpr uid_t kNobody = 65534;

std::string content(const std::string &path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(OutputFile, FilesTheUserMayNotWriteOrDoesNotOwnAreNotReplaced)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    char dir_template[] = "/tmp/output-file-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    ASSERT_EQ(chmod(dir.c_str(), 01777), 0);  // like /tmp: anyone may add names
    const std::string read_only = dir + "/read-only", foreign = dir + "/foreign";
    std::ofstream(read_only) << "old";
    std::ofstream(foreign) << "old";
    ASSERT_EQ(chown(read_only.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(read_only.c_str(), 0444), 0);
    ASSERT_EQ(chmod(foreign.c_str(), 0666), 0);  // root's, but anyone may write it

    ProcessResult r = run_function([&] {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            return 10;
        OutputFile refused(read_only.c_str());
        if (refused.open() != nullptr || errno != EACCES)
            return 11;
        OutputFile shared(foreign.c_str());
        std::FILE *file = shared.open();
        if (file == nullptr || std::fputs("new", file) < 0 || !shared.commit())
            return 12;
        return 0;
    });
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(content(read_only), "old");
    EXPECT_EQ(content(foreign), "new");
    struct stat st {};
    ASSERT_EQ(stat(foreign.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);  // written in place: still root's file
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 2);
    std::filesystem::remove_all(dir);
}

}  // namespace
