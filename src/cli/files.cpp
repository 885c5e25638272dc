// The batch's file operations on POSIX systems and on Windows (by UTF-16 names there).
#include "cli/files.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace aamsg {

#ifdef _WIN32

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring wideName(const char* name) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide.data(), length) != length) return {};
    wide.pop_back();
    return wide;
}

// A file's identity: its volume and index, which every name of it shares.
bool identify(const char* name, DWORD access, bool diskFileOnly, BY_HANDLE_FILE_INFORMATION& info) {
    const std::wstring path = wideName(name);
    if (path.empty()) return false;
    const HANDLE handle = CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = (!diskFileOnly || GetFileType(handle) == FILE_TYPE_DISK) && GetFileInformationByHandle(handle, &info) != 0 &&
                       (!diskFileOnly || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0);
    CloseHandle(handle);
    return known;
}

}  // namespace

bool namesInput(const char* input, const char* other) {
    BY_HANDLE_FILE_INFORMATION inputInfo{};
    BY_HANDLE_FILE_INFORMATION info{};
    return identify(input, GENERIC_READ, true, inputInfo) && identify(other, 0, false, info) &&
           info.dwVolumeSerialNumber == inputInfo.dwVolumeSerialNumber && info.nFileIndexHigh == inputInfo.nFileIndexHigh &&
           info.nFileIndexLow == inputInfo.nFileIndexLow;
}

bool replaceFile(const char* from, const char* to) {
    const std::wstring source = wideName(from);
    const std::wstring target = wideName(to);
    return !source.empty() && !target.empty() && MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const char* name) {
    const std::wstring path = wideName(name);
    return !path.empty() && DeleteFileW(path.c_str()) != 0;
}

#else

bool namesInput(const char* input, const char* other) {
    // Opened as the conversion opens it (a FIFO without a writer must not stall here).
    const int fd = open(input, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat inputInfo {};
    const bool regular = fstat(fd, &inputInfo) == 0 && S_ISREG(inputInfo.st_mode);
    close(fd);
    struct stat info {};
    return regular && stat(other, &info) == 0 && info.st_dev == inputInfo.st_dev && info.st_ino == inputInfo.st_ino;
}

bool replaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool removeFile(const char* name) { return unlink(name) == 0; }

#endif

}  // namespace aamsg
