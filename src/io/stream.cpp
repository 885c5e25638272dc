// Block buffering for the conversions' streams, over files and over memory.
#include "io/stream.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/failure.hpp"

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace aamsg {

namespace {

// A failed call of the C library, in its words ("No space left on device").
void noteSystemFailure(Status status, const char* what) { fail(status, "%s: %s", what, std::strerror(errno)); }

bool seekFileTo(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

// Whether the file's bytes have reached the disk.
bool syncFile(std::FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
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

OutStream durableFileOutput(std::FILE* file, std::size_t blockSize) {
    OutStream out = fileOutput(file, blockSize);
    out.durable = true;
    return out;
}

OutStream sinkOutput(const ByteSink& sink, std::size_t blockSize) { return {nullptr, sink, block(blockSize)}; }

namespace {

bool holdBytes(const ByteSink& self, const std::uint8_t* bytes, std::size_t count) {
    HeldBytes& held = *static_cast<HeldBytes*>(self.context);
    if (std::fwrite(bytes, 1, count, held.file) != count) {
        noteSystemFailure(kCannotWriteOutput, "the output could not be held in a temporary file");
        return false;
    }
    held.length += count;
    return true;
}

bool holdAgain(const ByteSink& self) {
    HeldBytes& held = *static_cast<HeldBytes*>(self.context);
    held.length = 0;
    return std::fflush(held.file) == 0 && seekFileTo(held.file, 0);
}

}  // namespace

OutStream heldOutput(HeldBytes& held, std::size_t blockSize) { return sinkOutput({&held, holdBytes, holdAgain}, blockSize); }

bool releaseHeld(HeldBytes& held, const ByteSink& sink) {
    if (std::fflush(held.file) != 0 || !seekFileTo(held.file, 0)) {
        noteSystemFailure(kCannotWriteOutput, "the held output could not be read back");
        return false;
    }
    std::vector<std::uint8_t> bytes = block(kDefaultBlockSize);
    for (std::uint64_t left = held.length; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
        if (std::fread(bytes.data(), 1, want, held.file) != want) {
            noteSystemFailure(kCannotWriteOutput, "the held output could not be read back");
            return false;
        }
        if (!sink.write(sink, bytes.data(), want)) return false;
        left -= want;
    }
    return true;
}

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
        if (failed) noteSystemFailure(kCannotReadInput, "reading the input failed");
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
        if (out.failed) noteSystemFailure(kCannotWriteOutput, "writing the output failed");
    } else {
        out.failed = out.sink.write == nullptr || !out.sink.write(out.sink, out.buffer.data(), out.used);
    }
    out.used = 0;
    return !out.failed;
}

bool flushOutput(OutStream& out) {
    if (!drainOutput(out)) return false;
    if (out.file != nullptr && std::fflush(out.file) != 0) {
        noteSystemFailure(kCannotWriteOutput, "writing the output failed");
        out.failed = true;
    }
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
    if (out.file != nullptr && flushed && out.durable && !syncFile(out.file)) {
        noteSystemFailure(kCannotWriteOutput, "writing the output to the disk failed");
        out.failed = true;
    }
    if (out.file != nullptr) {
        const bool closed = std::fclose(out.file) == 0;
        if (!closed && !out.failed) noteSystemFailure(kCannotWriteOutput, "closing the output failed");
        out.file = nullptr;
        out.failed = out.failed || !closed;
    }
    out.sink = {};
    out.failed = out.failed || !flushed;
    return !out.failed;
}

}  // namespace aamsg
