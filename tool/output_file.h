// The file an export writes. A regular file (or a new one) is written under
// a temporary name beside it and renamed over it once whole, so a failed
// export leaves the path as it was; a device, a pipe, a symbolic link, a
// file with other hard links, a file we may not write or another user's is
// written in place, as is a file whose directory takes no new name.
#ifndef TOKENCERT_OUTPUT_FILE_H
#define TOKENCERT_OUTPUT_FILE_H

#include <cstdio>
#include <string>

class OutputFile {
public:
    explicit OutputFile(const char *path);
    ~OutputFile();  // an uncommitted temporary file is removed
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // The stream to write; nullptr when the file can't be opened (errno says why).
    std::FILE *open();
    // Closes the stream and puts the file in place: false when a write or
    // the close failed (errno says why).
    bool commit();

private:
    std::string path_;
    std::string temp_;  // empty: written in place
    std::FILE *file_ = nullptr;
};

#endif
