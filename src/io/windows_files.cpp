// Opening files on Windows: UTF-8 names become the UTF-16 ones the wide file API takes, which
// can spell every name (the ANSI code page cannot).
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/failure.hpp"
#include "io/files.hpp"

namespace aamsg {

namespace {

// Read and write sharing, so that the output can be opened on the input's file and be
// recognised as such rather than refused as "in use".
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Empty when the name is no valid UTF-8 (or empty): no file has it.
std::wstring wideName(const char* name) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide.data(), length) != length) return {};
    wide.pop_back();  // the terminator, which the string keeps for itself
    return wide;
}

// The system's words for its error `code`, noted as `status`.
OpenResult failed(Status status, DWORD code = GetLastError()) {
    char words[200] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, words,
                                        sizeof words, nullptr);
    std::size_t end = length;
    while (end > 0 && (words[end - 1] == '\r' || words[end - 1] == '\n' || words[end - 1] == '.')) --end;
    words[end] = '\0';
    fail(status, "%s (Windows error %lu)", end > 0 ? words : "no words for it", static_cast<unsigned long>(code));
    return OpenResult::kFailed;
}

OpenResult closeWith(HANDLE handle, OpenResult result) {
    CloseHandle(handle);
    return result;
}

// Hands a checked handle to a C stream, or closes it.
OpenResult adopt(HANDLE handle, int flags, const char* mode, std::FILE*& file, Status whenFailing) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) return closeWith(handle, failed(whenFailing));
    file = _fdopen(fd, mode);
    if (file == nullptr) {
        _close(fd);  // closes the handle too
        return failed(whenFailing);
    }
    return OpenResult::kOpened;
}

bool isDiskFile(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

OpenResult isTheInput() {
    fail(kOutputIsInput, "the output names the input file");
    return OpenResult::kSameFile;
}

// A name no other file has yet, in `folder`: ".aamsg-" and ten random letters.
std::wstring temporaryName(const std::wstring& folder, unsigned attempt) {
    std::uint64_t x = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                      (std::uint64_t{GetCurrentProcessId()} << 32) ^ reinterpret_cast<std::uintptr_t>(&folder) ^
                      (std::uint64_t{attempt} * 0x9E3779B97F4A7C15u);
    std::wstring name = folder;
    if (!name.empty() && name.back() != L'\\' && name.back() != L'/') name += L'\\';
    name += L".aamsg-";
    for (int i = 0; i < 10; ++i) {
        x += 0x9E3779B97F4A7C15u;
        std::uint64_t z = x;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        name += L"abcdefghijklmnopqrstuvwxyz0123456789"[(z ^ (z >> 31)) % 36];
    }
    return name;
}

// Creates a file of its own in `folder`; its name in `name`. INVALID_HANDLE_VALUE if none can be
// made there.
HANDLE createIn(const std::wstring& folder, DWORD access, DWORD flags, std::wstring& name) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        name = temporaryName(folder, attempt);
        const HANDLE handle = CreateFileW(name.c_str(), access, kShareAll, nullptr, CREATE_NEW, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return handle;
    }
    return INVALID_HANDLE_VALUE;
}

// The whole path of a name, and of an open file the path it has after links are followed.
std::wstring fullPath(const std::wstring& name) {
    const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (length == 0) return name;
    std::vector<wchar_t> path(length);
    const DWORD written = GetFullPathNameW(name.c_str(), length, path.data(), nullptr);
    return written > 0 && written < length ? std::wstring(path.data(), written) : name;
}

std::wstring finalPath(HANDLE handle, const std::wstring& otherwise) {
    const DWORD length = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return otherwise;
    std::vector<wchar_t> path(length);
    const DWORD written = GetFinalPathNameByHandleW(handle, path.data(), length, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return written > 0 && written < length ? std::wstring(path.data(), written) : otherwise;
}

std::wstring folderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash + 1);
}

// The output written where it is (a device), or created as it always was where no file can be
// made beside it.
OpenResult openDirectly(const std::wstring& path, const BY_HANDLE_FILE_INFORMATION& inputInfo, std::FILE*& file) {
    // Opened without truncating, and compared by volume and file index on the open handle:
    // every name of the input (another case, a short name, a hard link) is caught here.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failed(kCannotOpenOutput);
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        // A file whose identity cannot be had is not truncated: it might be the input.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!isDiskFile(handle, info)) return closeWith(handle, failed(kCannotOpenOutput));
        if (sameFile(info, inputInfo)) return closeWith(handle, isTheInput());
        if (SetEndOfFile(handle) == 0) return closeWith(handle, failed(kCannotOpenOutput));  // at offset 0
    }
    return adopt(handle, _O_WRONLY, "wb", file, kCannotOpenOutput);
}

}  // namespace

OutputFile::~OutputFile() {
    if (file != nullptr) std::fclose(file);
    if (!temporary.empty()) DeleteFileW(temporary.c_str());
}

OpenResult openInputFile(const char* name, std::FILE*& file) {
    file = nullptr;
    const std::wstring path = wideName(name);
    if (path.empty()) {
        fail(kCannotOpenInput, "the name is no UTF-8");
        return OpenResult::kFailed;
    }
    // A folder cannot be opened without FILE_FLAG_BACKUP_SEMANTICS, so it fails here.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failed(kCannotOpenInput);
    BY_HANDLE_FILE_INFORMATION info{};
    // NUL, CON, COM1 and pipes are not files on a disk.
    if (!isDiskFile(handle, info)) {
        fail(kCannotOpenInput, "it is not a regular file (a device or a pipe)");
        return closeWith(handle, OpenResult::kNotRegular);
    }
    return adopt(handle, _O_RDONLY, "rb", file, kCannotOpenInput);
}

OpenResult openOutputFile(const char* name, std::FILE* input, OutputFile& output) {
    const std::wstring path = wideName(name);
    if (path.empty()) {
        fail(kCannotOpenOutput, "the name is no UTF-8");
        return OpenResult::kFailed;
    }
    // No input file: an identity that no file has.
    BY_HANDLE_FILE_INFORMATION inputInfo{};
    inputInfo.dwVolumeSerialNumber = 0xFFFFFFFF;
    inputInfo.nFileIndexHigh = 0xFFFFFFFF;
    inputInfo.nFileIndexLow = 0xFFFFFFFF;
    if (input != nullptr) {
        const auto inputHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input)));
        if (inputHandle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(inputHandle, &inputInfo) == 0) {
            return failed(kCannotOpenOutput);
        }
    }
    // Replaced only where it may be written: opened for writing, not truncated, to learn that.
    const HANDLE existing = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::wstring target = fullPath(path);
    if (existing == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return failed(kCannotOpenOutput, error);
    } else {
        // NUL, CON and the like are written where they are.
        if (GetFileType(existing) != FILE_TYPE_DISK) return adopt(existing, _O_WRONLY, "wb", output.file, kCannotOpenOutput);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!isDiskFile(existing, info)) return closeWith(existing, failed(kCannotOpenOutput));
        if (sameFile(info, inputInfo)) return closeWith(existing, isTheInput());
        target = finalPath(existing, target);  // a symbolic link's target
    }
    std::wstring temporary;
    const HANDLE handle = createIn(folderOf(target), GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, temporary);
    if (handle == INVALID_HANDLE_VALUE) {
        if (existing == INVALID_HANDLE_VALUE) return openDirectly(path, inputInfo, output.file);
        // A folder where only the file itself may be written: it is written where it is.
        if (SetEndOfFile(existing) == 0) return closeWith(existing, failed(kCannotOpenOutput));
        return adopt(existing, _O_WRONLY, "wb", output.file, kCannotOpenOutput);
    }
    output.target = target;
    output.temporary = temporary;
    output.existed = existing != INVALID_HANDLE_VALUE;
    if (existing != INVALID_HANDLE_VALUE) CloseHandle(existing);
    return adopt(handle, _O_WRONLY, "wb", output.file, kCannotOpenOutput);
}

bool placeOutput(OutputFile& output) {
    if (output.temporary.empty()) return true;
    // ReplaceFileW keeps the replaced file's attributes and access rights; a new file takes the
    // folder's.
    const bool placed = (output.existed && ReplaceFileW(output.target.c_str(), output.temporary.c_str(), nullptr,
                                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0) ||
                        MoveFileExW(output.temporary.c_str(), output.target.c_str(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!placed) {
        failed(kCannotWriteOutput);
        DeleteFileW(output.temporary.c_str());
    }
    output.temporary.clear();
    return placed;
}

std::FILE* openScratchFile(Status whenFailing) {
    wchar_t folder[MAX_PATH + 2] = L"";
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    std::wstring name;
    // Deleted by the system when the last handle closes, whatever ends the process.
    const HANDLE handle = createIn(length > 0 ? std::wstring(folder, length) : std::wstring(L"."), GENERIC_READ | GENERIC_WRITE,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, name);
    if (handle == INVALID_HANDLE_VALUE) {
        failed(whenFailing);
        return nullptr;
    }
    std::FILE* file = nullptr;
    return adopt(handle, _O_RDWR, "w+b", file, whenFailing) == OpenResult::kOpened ? file : nullptr;
}

}  // namespace aamsg
