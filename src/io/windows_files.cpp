// Opening files on Windows: UTF-8 names become the UTF-16 ones the wide file API takes, which
// can spell every name (the ANSI code page cannot).
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>

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

OpenResult openInputFile(const char* name, std::FILE*& file) {
    file = nullptr;
    const std::wstring path = wideName(name);
    if (path.empty()) return OpenResult::kFailed;
    // A folder cannot be opened without FILE_FLAG_BACKUP_SEMANTICS, so it fails here.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return OpenResult::kFailed;
    BY_HANDLE_FILE_INFORMATION info{};
    // NUL, CON, COM1 and pipes are not files on a disk.
    if (!isDiskFile(handle, info)) return closeWith(handle, OpenResult::kNotRegular);
    return adopt(handle, _O_RDONLY, "rb", file);
}

OpenResult openOutputFile(const char* name, std::FILE* input, std::FILE*& file) {
    file = nullptr;
    const std::wstring path = wideName(name);
    if (path.empty()) return OpenResult::kFailed;
    BY_HANDLE_FILE_INFORMATION inputInfo{};
    const auto inputHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input)));
    if (inputHandle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(inputHandle, &inputInfo) == 0) {
        return OpenResult::kFailed;
    }
    // Opened without truncating, and compared by volume and file index on the open handle:
    // every name of the input (another case, a short name, a hard link) is caught here.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

}  // namespace aamsg
