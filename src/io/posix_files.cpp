// Opening files on POSIX systems, where a name is its bytes (UTF-8 passes through as it is).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/files.hpp"

namespace aamsg {

namespace {

OpenResult closeWith(int fd, OpenResult result) {
    close(fd);
    return result;
}

// Hands a checked descriptor to a stream, or closes it.
OpenResult adopt(int fd, const char* mode, std::FILE*& file) {
    file = fdopen(fd, mode);
    return file != nullptr ? OpenResult::kOpened : closeWith(fd, OpenResult::kFailed);
}

}  // namespace

OpenResult openInputFile(const char* name, std::FILE*& file) {
    file = nullptr;
    // O_NONBLOCK keeps a FIFO without a writer from stalling the open; it is refused below.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return OpenResult::kFailed;
    struct stat info {};
    if (fstat(fd, &info) != 0) return closeWith(fd, OpenResult::kFailed);
    if (!S_ISREG(info.st_mode)) return closeWith(fd, OpenResult::kNotRegular);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return closeWith(fd, OpenResult::kFailed);
    return adopt(fd, "rb", file);
}

OpenResult openOutputFile(const char* name, std::FILE* input, std::FILE*& file) {
    file = nullptr;
    struct stat inputInfo {};
    if (fstat(fileno(input), &inputInfo) != 0) return OpenResult::kFailed;
    const auto isInput = [&](const struct stat& info) {
        return info.st_dev == inputInfo.st_dev && info.st_ino == inputInfo.st_ino;
    };
    struct stat info {};
    if (stat(name, &info) == 0 && isInput(info)) return OpenResult::kSameFile;
    // Opened without O_TRUNC and checked again on the open descriptor, so that nothing is
    // truncated before we know it is not the input, even if the name changed in between.
    const int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return OpenResult::kFailed;
    if (fstat(fd, &info) != 0) return closeWith(fd, OpenResult::kFailed);
    if (isInput(info)) return closeWith(fd, OpenResult::kSameFile);
    if (S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0) return closeWith(fd, OpenResult::kFailed);
    return adopt(fd, "wb", file);
}

}  // namespace aamsg
