#include "output_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The mode a new file gets from fopen: 0666 less the umask.
mode_t new_file_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(const char *path) : path_(path) {}

OutputFile::~OutputFile()
{
    if (file_)
        std::fclose(file_);
    if (!temp_.empty())
        unlink(temp_.c_str());
}

std::FILE *OutputFile::open()
{
    struct stat st {};
    const bool exists = lstat(path_.c_str(), &st) == 0;
    // Renaming must not do what writing could not: a file we may not write,
    // or one of another user's (a sticky directory refuses the rename), is
    // opened in place and fails or succeeds as it always did.
    const bool ours = exists && (st.st_uid == geteuid() || geteuid() == 0) && access(path_.c_str(), W_OK) == 0;
    if (!exists || (S_ISREG(st.st_mode) && st.st_nlink == 1 && ours)) {
        std::string temp = path_ + ".XXXXXX";
        const int fd = mkstemp(temp.data());
        if (fd >= 0) {
            temp_ = temp;
            const mode_t mode = exists ? (st.st_mode & 07777) : new_file_mode();
            if (exists && geteuid() == 0)
                (void)fchown(fd, st.st_uid, st.st_gid);
            if (fchmod(fd, mode) == 0 && (file_ = fdopen(fd, "wb")) != nullptr)
                return file_;
            const int saved = errno;
            close(fd);
            errno = saved;
            return nullptr;
        }
    }
    errno = 0;
    file_ = std::fopen(path_.c_str(), "wb");
    return file_;
}

bool OutputFile::commit()
{
    std::FILE *file = file_;
    file_ = nullptr;
    if (std::ferror(file)) {  // errno still tells why the write failed
        const int reason = errno;
        std::fclose(file);
        errno = reason;
        return false;
    }
    // Buffered bytes are only known to be written once the file is closed.
    errno = 0;
    if (std::fclose(file) != 0)
        return false;
    if (temp_.empty())
        return true;
    if (rename(temp_.c_str(), path_.c_str()) != 0)
        return false;
    temp_.clear();
    return true;
}
