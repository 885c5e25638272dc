// Standard input and output, and open files, as the library's reader and writer.
#include "cli/pipes.hpp"

#include <cerrno>
#include <cstdint>

#include "cli/interrupt.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace aamsg {

namespace {

#ifdef _WIN32
constexpr int kStdin = 0;
constexpr int kStdout = 1;
#else
constexpr int kStdin = STDIN_FILENO;
constexpr int kStdout = STDOUT_FILENO;
#endif

int64_t readStandardInput(void*, void* buffer, std::size_t size) {
    for (;;) {
#ifdef _WIN32
        const int got = _read(kStdin, buffer, static_cast<unsigned>(size > INT32_MAX ? INT32_MAX : size));
#else
        const ssize_t got = read(kStdin, buffer, size);
#endif
        if (got >= 0) return got;
        if (errno != EINTR || interrupted()) return -1;
    }
}

int64_t seekStandardInput(void*, int64_t offset, int whence) {
#ifdef _WIN32
    return _lseeki64(kStdin, offset, whence);
#else
    return lseek(kStdin, offset, whence);
#endif
}

int64_t tellStandardInput(void* context) { return seekStandardInput(context, 0, SEEK_CUR); }

int64_t readFile(void* file, void* buffer, std::size_t size) {
    const std::size_t got = std::fread(buffer, 1, size, static_cast<std::FILE*>(file));
    return got == 0 && std::ferror(static_cast<std::FILE*>(file)) != 0 ? -1 : static_cast<int64_t>(got);
}

int64_t tellFile(void* file) {
#ifdef _WIN32
    return _ftelli64(static_cast<std::FILE*>(file));
#else
    return ftello(static_cast<std::FILE*>(file));
#endif
}

int64_t seekFile(void* file, int64_t offset, int whence) {
#ifdef _WIN32
    const bool moved = _fseeki64(static_cast<std::FILE*>(file), offset, whence) == 0;
#else
    const bool moved = fseeko(static_cast<std::FILE*>(file), static_cast<off_t>(offset), whence) == 0;
#endif
    return moved ? tellFile(file) : -1;
}

}  // namespace

aamsg_reader standardInput() {
#ifdef _WIN32
    _setmode(kStdin, _O_BINARY);
#endif
    return {nullptr, readStandardInput, seekStandardInput, tellStandardInput};
}

int writeStandardOutput(void*, const void* data, std::size_t size) {
#ifdef _WIN32
    _setmode(kStdout, _O_BINARY);
#endif
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
#ifdef _WIN32
        const int written = _write(kStdout, bytes, static_cast<unsigned>(size > INT32_MAX ? INT32_MAX : size));
#else
        const ssize_t written = write(kStdout, bytes, size);
#endif
        if (written < 0) {
            if (errno == EINTR && !interrupted()) continue;
            return 1;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

aamsg_reader fileReader(std::FILE* file) { return {file, readFile, seekFile, tellFile}; }

}  // namespace aamsg
