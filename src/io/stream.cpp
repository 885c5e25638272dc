// Block buffering for the conversions' streams, and the platform's file-opening checks.
#include "io/stream.hpp"

#include <algorithm>
#include <climits>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <new>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace aamsg {

namespace {

bool seekFileTo(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

}  // namespace

namespace {

std::size_t readMemory(const ByteSource& self, std::uint64_t offset, std::uint8_t* dst, std::size_t count, bool&) {
    if (offset >= self.size) return 0;
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(count, self.size - offset));
    std::memcpy(dst, static_cast<const std::uint8_t*>(self.context) + offset, take);
    return take;
}

bool appendToMemory(const ByteSink& self, const std::uint8_t* src, std::size_t count) {
    auto& bytes = *static_cast<std::vector<std::uint8_t>*>(self.context);
    bytes.insert(bytes.end(), src, src + count);
    return true;
}

bool clearMemory(const ByteSink& self) {
    static_cast<std::vector<std::uint8_t>*>(self.context)->clear();
    return true;
}

std::vector<std::uint8_t> block(std::size_t blockSize) { return std::vector<std::uint8_t>(std::max<std::size_t>(blockSize, 1)); }

// Our own blocks replace the C library's buffer; a second copy would only cost time.
std::FILE* unbuffered(std::FILE* file) {
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

}  // namespace

InStream fileInput(std::FILE* file, std::size_t blockSize) { return {unbuffered(file), {}, block(blockSize)}; }

InStream sourceInput(const ByteSource& source, std::size_t blockSize) { return {nullptr, source, block(blockSize)}; }

InStream memoryInput(std::span<const std::uint8_t> bytes, std::size_t blockSize) {
    return sourceInput({bytes.data(), bytes.size(), readMemory, nullptr}, blockSize);
}

OutStream fileOutput(std::FILE* file, std::size_t blockSize) { return {unbuffered(file), {}, block(blockSize)}; }

OutStream sinkOutput(const ByteSink& sink, std::size_t blockSize) { return {nullptr, sink, block(blockSize)}; }

OutStream memoryOutput(std::vector<std::uint8_t>& sink, std::size_t blockSize) {
    return sinkOutput({&sink, appendToMemory, clearMemory}, blockSize);
}

bool refillInput(InStream& in) {
    if (in.ioError) return false;
    in.bufferStart += in.end;
    in.pos = 0;
    in.end = 0;
    bool failed = false;
    if (in.file != nullptr) {
        in.end = std::fread(in.buffer.data(), 1, in.buffer.size(), in.file);
        failed = in.end == 0 && std::ferror(in.file) != 0;
    } else {
        in.end = in.source.read(in.source, in.bufferStart, in.buffer.data(), in.buffer.size(), failed);
    }
    in.ioError = failed;
    return in.end > 0;
}

bool seekRelative(InStream& in, std::int64_t delta) {
    const std::uint64_t current = in.bufferStart + in.pos;
    std::uint64_t target = 0;
    if (delta < 0) {
        const std::uint64_t back = 0 - static_cast<std::uint64_t>(delta);
        if (back > current) return false;
        target = current - back;
    } else {
        target = current + static_cast<std::uint64_t>(delta);
    }
    if (target >= in.bufferStart && target - in.bufferStart <= in.end) {
        in.pos = static_cast<std::size_t>(target - in.bufferStart);
        return true;
    }
    const bool moved = in.file != nullptr ? seekFileTo(in.file, target)
                                          : in.source.seek == nullptr || in.source.seek(in.source, target);
    if (!moved) return false;
    in.bufferStart = target;
    in.pos = 0;
    in.end = 0;
    return true;
}

std::optional<std::uint64_t> inputSize(const InStream& in) {
    if (in.file == nullptr) return in.source.size;
#ifdef _WIN32
    struct _stat64 info {};
    if (_fstat64(_fileno(in.file), &info) != 0 || info.st_size < 0) return std::nullopt;
#else
    struct stat info {};
    if (fstat(fileno(in.file), &info) != 0 || info.st_size < 0) return std::nullopt;
#endif
    return static_cast<std::uint64_t>(info.st_size);
}

bool drainOutput(OutStream& out) {
    if (out.failed) return false;
    if (out.used == 0) return true;
    if (out.file != nullptr) {
        out.failed = std::fwrite(out.buffer.data(), 1, out.used, out.file) != out.used;
    } else {
        out.failed = out.sink.write == nullptr || !out.sink.write(out.sink, out.buffer.data(), out.used);
    }
    out.used = 0;
    return !out.failed;
}

bool flushOutput(OutStream& out) {
    if (!drainOutput(out)) return false;
    if (out.file != nullptr && std::fflush(out.file) != 0) out.failed = true;
    return !out.failed;
}

bool rewindOutput(OutStream& out) {
    if (!flushOutput(out)) return false;
    if (out.file == nullptr) return out.sink.rewind != nullptr && out.sink.rewind(out.sink);
    return seekFileTo(out.file, 0);
}

bool truncateOutput(OutStream& out) {
    if (!flushOutput(out)) return false;
    if (out.file == nullptr) return true;  // a sink that was rewound holds only what came after
#ifdef _WIN32
    const __int64 at = _ftelli64(out.file);
    if (at < 0 || _chsize_s(_fileno(out.file), at) != 0) out.failed = true;
#else
    const off_t at = ftello(out.file);
    if (at < 0 || ftruncate(fileno(out.file), at) != 0) out.failed = true;
#endif
    return !out.failed;
}

bool closeOutput(OutStream& out) {
    const bool flushed = flushOutput(out);
    if (out.file != nullptr) {
        const bool closed = std::fclose(out.file) == 0;
        out.file = nullptr;
        out.failed = out.failed || !closed;
    }
    out.sink = {};
    out.failed = out.failed || !flushed;
    return !out.failed;
}

#ifdef _WIN32

namespace {

// Read and write sharing, so that the output can be opened on the input's file and be
// recognised as such rather than refused as "in use".
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OpenResult closeWith(HANDLE handle, OpenResult result) {
    CloseHandle(handle);
    return result;
}

// Hands a checked handle to a C stream, or closes it.
OpenResult adopt(HANDLE handle, int flags, const char* mode, std::FILE*& file) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) return closeWith(handle, OpenResult::kFailed);
    file = _fdopen(fd, mode);
    if (file == nullptr) {
        _close(fd);  // closes the handle too
        return OpenResult::kFailed;
    }
    return OpenResult::kOpened;
}

bool isDiskFile(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::vector<const PathChar*> argumentPaths(int argc, char** argv) {
    // The narrow argv holds names in the ANSI code page, which cannot spell every name; the
    // UTF-16 command line can. Its words are kept for the whole run (never freed).
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<const PathChar*> paths;
    if (words == nullptr || count != argc) {
        // The two parsers disagree on this command line: fall back to the narrow names.
        for (int i = 0; i < argc; ++i) {
            const int length = MultiByteToWideChar(CP_ACP, 0, argv[i], -1, nullptr, 0);
            auto* wide = new (std::nothrow) wchar_t[static_cast<std::size_t>(std::max(length, 1))];
            if (wide == nullptr) return {};
            wide[0] = L'\0';
            if (length > 0) MultiByteToWideChar(CP_ACP, 0, argv[i], -1, wide, length);
            paths.push_back(wide);
        }
        return paths;
    }
    paths.assign(words, words + count);
    return paths;
}

OpenResult openInputFile(const PathChar* path, std::FILE*& file) {
    file = nullptr;
    // A folder cannot be opened without FILE_FLAG_BACKUP_SEMANTICS, so it fails here.
    const HANDLE handle = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return OpenResult::kFailed;
    BY_HANDLE_FILE_INFORMATION info{};
    // NUL, CON, COM1 and pipes are not files on a disk.
    if (!isDiskFile(handle, info)) return closeWith(handle, OpenResult::kNotRegular);
    return adopt(handle, _O_RDONLY, "rb", file);
}

OpenResult openOutputFile(const PathChar* path, std::FILE* input, std::FILE*& file) {
    file = nullptr;
    BY_HANDLE_FILE_INFORMATION inputInfo{};
    const auto inputHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input)));
    if (inputHandle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(inputHandle, &inputInfo) == 0) {
        return OpenResult::kFailed;
    }
    // Opened without truncating, and compared by volume and file index on the open handle:
    // every name of the input (another case, a short name, a hard link) is caught here.
    const HANDLE handle = CreateFileW(path, GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return OpenResult::kFailed;
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        // A file whose identity cannot be had is not truncated: it might be the input.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!isDiskFile(handle, info)) return closeWith(handle, OpenResult::kFailed);
        if (info.dwVolumeSerialNumber == inputInfo.dwVolumeSerialNumber && info.nFileIndexHigh == inputInfo.nFileIndexHigh &&
            info.nFileIndexLow == inputInfo.nFileIndexLow) {
            return closeWith(handle, OpenResult::kSameFile);
        }
        if (SetEndOfFile(handle) == 0) return closeWith(handle, OpenResult::kFailed);  // at offset 0
    }
    return adopt(handle, _O_WRONLY, "wb", file);
}

bool namesFile(const PathChar* path, std::FILE* input) {
    BY_HANDLE_FILE_INFORMATION inputInfo{};
    BY_HANDLE_FILE_INFORMATION info{};
    const auto inputHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input)));
    if (inputHandle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(inputHandle, &inputInfo) == 0) return false;
    const HANDLE handle = CreateFileW(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return known && info.dwVolumeSerialNumber == inputInfo.dwVolumeSerialNumber &&
           info.nFileIndexHigh == inputInfo.nFileIndexHigh && info.nFileIndexLow == inputInfo.nFileIndexLow;
}

bool replaceFile(const PathChar* from, const PathChar* to) { return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != 0; }

bool removeFile(const PathChar* path) { return DeleteFileW(path) != 0; }

void setBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

#else

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

std::vector<const PathChar*> argumentPaths(int argc, char** argv) { return {argv, argv + argc}; }

OpenResult openInputFile(const PathChar* path, std::FILE*& file) {
    file = nullptr;
    // O_NONBLOCK keeps a FIFO without a writer from stalling the open; it is refused below.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return OpenResult::kFailed;
    struct stat info {};
    if (fstat(fd, &info) != 0) return closeWith(fd, OpenResult::kFailed);
    if (!S_ISREG(info.st_mode)) return closeWith(fd, OpenResult::kNotRegular);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return closeWith(fd, OpenResult::kFailed);
    return adopt(fd, "rb", file);
}

OpenResult openOutputFile(const PathChar* path, std::FILE* input, std::FILE*& file) {
    file = nullptr;
    struct stat inputInfo {};
    if (fstat(fileno(input), &inputInfo) != 0) return OpenResult::kFailed;
    const auto isInput = [&](const struct stat& info) {
        return info.st_dev == inputInfo.st_dev && info.st_ino == inputInfo.st_ino;
    };
    struct stat info {};
    if (stat(path, &info) == 0 && isInput(info)) return OpenResult::kSameFile;
    // Opened without O_TRUNC and checked again on the open descriptor, so that nothing is
    // truncated before we know it is not the input, even if the name changed in between.
    const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return OpenResult::kFailed;
    if (fstat(fd, &info) != 0) return closeWith(fd, OpenResult::kFailed);
    if (isInput(info)) return closeWith(fd, OpenResult::kSameFile);
    if (S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0) return closeWith(fd, OpenResult::kFailed);
    return adopt(fd, "wb", file);
}

bool namesFile(const PathChar* path, std::FILE* input) {
    struct stat inputInfo {};
    struct stat info {};
    return fstat(fileno(input), &inputInfo) == 0 && stat(path, &info) == 0 && info.st_dev == inputInfo.st_dev &&
           info.st_ino == inputInfo.st_ino;
}

bool replaceFile(const PathChar* from, const PathChar* to) { return std::rename(from, to) == 0; }

bool removeFile(const PathChar* path) { return unlink(path) == 0; }

void setBinaryStdout() {}

#endif

}  // namespace aamsg
