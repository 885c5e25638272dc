// Opening files on POSIX systems, where a name is its bytes (UTF-8 passes through as it is).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/failure.hpp"
#include "io/files.hpp"

namespace aamsg {

namespace {

OpenResult closeWith(int fd, OpenResult result) {
    if (fd >= 0) close(fd);
    return result;
}

// Hands a checked descriptor to a stream, or closes it.
OpenResult adopt(int fd, const char* mode, std::FILE*& file) {
    file = fdopen(fd, mode);
    if (file != nullptr) return OpenResult::kOpened;
    fail(kCannotOpenOutput, "%s", std::strerror(errno));
    return closeWith(fd, OpenResult::kFailed);
}

OpenResult failed(Status status) {
    fail(status, "%s", std::strerror(errno));
    return OpenResult::kFailed;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

OpenResult isTheInput() {
    fail(kOutputIsInput, "the output names the input file");
    return OpenResult::kSameFile;
}

// A name no other file has yet, with `folder` before it: ".aamsg-" and ten random letters.
std::string temporaryName(const std::string& folder, unsigned attempt) {
    std::uint64_t x = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                      (static_cast<std::uint64_t>(getpid()) << 32) ^ reinterpret_cast<std::uintptr_t>(&folder) ^
                      (std::uint64_t{attempt} * 0x9E3779B97F4A7C15u);
    std::string name = folder + "/.aamsg-";
    for (int i = 0; i < 10; ++i) {
        // splitmix64, a letter at a time
        x += 0x9E3779B97F4A7C15u;
        std::uint64_t z = x;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        name += "abcdefghijklmnopqrstuvwxyz0123456789"[(z ^ (z >> 31)) % 36];
    }
    return name;
}

// Creates a file of its own in `folder` (created, never opened: no link, no other file's name),
// with `mode` as open() takes it; its name in `name`. -1 if none can be made there.
int createIn(const std::string& folder, mode_t mode, int access, std::string& name) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        name = temporaryName(folder, attempt);
        const int fd = open(name.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

std::string folderOf(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

// The name a chain of symbolic links leads to: the file to replace, which may not exist yet. A
// chain that cannot be followed (a loop, a broken step) is left to the open, which fails on it.
std::string followLinks(std::string name) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
        std::vector<char> target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t length = readlink(name.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return name;
        const std::string next(target.data(), static_cast<std::size_t>(length));
        name = next.front() == '/' ? next : folderOf(name) + "/" + next;
    }
    return name;
}

// The output written where it is: a device, a FIFO, or a file whose folder takes no new file.
OpenResult openDirectly(const char* name, const struct stat& inputInfo, std::FILE*& file) {
    // Opened without O_TRUNC and checked again on the open descriptor, so that nothing is
    // truncated before we know it is not the input, even if the name changed in between.
    const int fd = open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return failed(kCannotOpenOutput);
    struct stat info {};
    if (fstat(fd, &info) != 0) return closeWith(fd, failed(kCannotOpenOutput));
    if (sameFile(info, inputInfo)) return closeWith(fd, isTheInput());
    if (S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0) return closeWith(fd, failed(kCannotOpenOutput));
    return adopt(fd, "wb", file);
}

}  // namespace

OutputFile::~OutputFile() {
    if (file != nullptr) std::fclose(file);
    if (!temporary.empty()) unlink(temporary.c_str());
}

OpenResult openInputFile(const char* name, std::FILE*& file) {
    file = nullptr;
    // O_NONBLOCK keeps a FIFO without a writer from stalling the open; it is refused below.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return failed(kCannotOpenInput);
    struct stat info {};
    if (fstat(fd, &info) != 0) return closeWith(fd, failed(kCannotOpenInput));
    if (!S_ISREG(info.st_mode)) {
        fail(kCannotOpenInput, S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file (a device or a pipe)");
        return closeWith(fd, OpenResult::kNotRegular);
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return closeWith(fd, failed(kCannotOpenInput));
    file = fdopen(fd, "rb");
    return file != nullptr ? OpenResult::kOpened : closeWith(fd, failed(kCannotOpenInput));
}

OpenResult openOutputFile(const char* name, std::FILE* input, OutputFile& output) {
    // No input file: an identity that no file has.
    struct stat inputInfo {};
    inputInfo.st_ino = 0;
    inputInfo.st_dev = static_cast<dev_t>(-1);
    if (input != nullptr && fstat(fileno(input), &inputInfo) != 0) return failed(kCannotOpenOutput);
    const std::string target = followLinks(name);
    struct stat info {};
    const bool exists = stat(target.c_str(), &info) == 0;
    if (exists && sameFile(info, inputInfo)) return isTheInput();
    if (exists && !S_ISREG(info.st_mode)) return openDirectly(name, inputInfo, output.file);
    int existing = -1;
    if (exists) {
        // Replaced only where it may be written: opened for writing, not truncated, to learn that.
        existing = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (existing < 0) return failed(kCannotOpenOutput);
        if (fstat(existing, &info) != 0) return closeWith(existing, failed(kCannotOpenOutput));
        if (sameFile(info, inputInfo)) return closeWith(existing, isTheInput());
        if (!S_ISREG(info.st_mode)) return closeWith(existing, openDirectly(name, inputInfo, output.file));
    }
    std::string temporary;
    const int fd = createIn(folderOf(target), 0666, O_WRONLY, temporary);
    if (fd < 0) {
        if (!exists) return openDirectly(name, inputInfo, output.file);
        // A folder where only the file itself may be written: it is written where it is.
        const int flags = fcntl(existing, F_GETFL);
        if (flags < 0 || fcntl(existing, F_SETFL, flags & ~O_NONBLOCK) != 0 || ftruncate(existing, 0) != 0) {
            return closeWith(existing, failed(kCannotOpenOutput));
        }
        return adopt(existing, "wb", output.file);
    }
    output.target = target;
    output.temporary = temporary;
    output.existed = exists;
    if (exists) {
        // The permissions of the file it replaces (open() gave those of a new file), and, where
        // this process may give it (as root), its owner.
        // this process may give it (root may), its owner; elsewhere the file is this user's, as a
        // file made anew would be.
        fchmod(fd, info.st_mode & 0777);
        if ((info.st_uid != geteuid() || info.st_gid != getegid()) && fchown(fd, info.st_uid, info.st_gid) != 0) errno = 0;
        close(existing);
    }
    return adopt(fd, "wb", output.file);
}

bool placeOutput(OutputFile& output) {
    if (output.temporary.empty()) return true;
    if (std::rename(output.temporary.c_str(), output.target.c_str()) != 0) {
        fail(kCannotWriteOutput, "the finished output could not replace the file: %s", std::strerror(errno));
        unlink(output.temporary.c_str());
        output.temporary.clear();
        return false;
    }
    output.temporary.clear();
    return true;
}

std::FILE* openScratchFile(Status whenFailing) {
    const char* folder = std::getenv("TMPDIR");
    const std::string in = folder != nullptr && *folder != '\0' ? folder : "/tmp";
    int fd = -1;
#ifdef O_TMPFILE
    // A file with no name at all, where the file system has them.
    fd = open(in.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        std::string name;
        fd = createIn(in, 0600, O_RDWR, name);
        if (fd >= 0) unlink(name.c_str());
    }
    if (fd < 0) {
        fail(whenFailing, "no temporary file can be made in %s: %s", in.c_str(), std::strerror(errno));
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "w+b");
    if (file == nullptr) {
        fail(whenFailing, "%s", std::strerror(errno));
        close(fd);
    }
    return file;
}

}  // namespace aamsg
