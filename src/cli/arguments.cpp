// The command line's arguments in UTF-8, from the UTF-16 command line on Windows.
#include "cli/arguments.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after windows.h, which it needs
#include <io.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace aamsg {

#ifdef _WIN32

namespace {

// Empty when it cannot be converted (or is empty).
std::string utf8Of(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr) != length) return {};
    text.pop_back();  // the terminator, which the string keeps for itself
    return text;
}

std::wstring wideOfAnsi(const char* narrow) {
    const int length = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide.data(), length) != length) return {};
    wide.pop_back();
    return wide;
}

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words != nullptr && count == argc) {
        for (int i = 0; i < count; ++i) arguments.push_back(utf8Of(words[i]));
    } else {
        // The two parsers disagree on this command line: the narrow names, as far as they go.
        for (int i = 0; i < argc; ++i) arguments.push_back(utf8Of(wideOfAnsi(argv[i]).c_str()));
    }
    if (words != nullptr) LocalFree(words);
    return arguments;
}

std::FILE* openInputArgument(int argc, char** argv, int index) {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::FILE* file = nullptr;
    if (words != nullptr && count == argc) {
        file = _wfopen(words[index], L"rb");
    } else {
        file = std::fopen(argv[index], "rb");
    }
    if (words != nullptr) LocalFree(words);
    // NUL, CON and pipes are no files on a disk.
    if (file != nullptr && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        std::fclose(file);
        file = nullptr;
    }
    return file;
}

#else

std::vector<std::string> utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

std::FILE* openInputArgument(int, char** argv, int index) {
    // O_NONBLOCK keeps a FIFO without a writer from stalling the open; it is refused below.
    const int fd = open(argv[index], O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* file = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0
                          ? fdopen(fd, "rb")
                          : nullptr;
    if (file == nullptr) close(fd);
    return file;
}

#endif

}  // namespace aamsg
