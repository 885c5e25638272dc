// Block-buffered byte streams over an open file or over memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace aamsg {

inline constexpr std::size_t kDefaultBlockSize = std::size_t{1} << 16;

// Where a stream's bytes come from when they are not a file: memory, or a reader of the
// caller's (tests make failing streams this way). Every function is given the source itself.
struct ByteSource {
    const void* context = nullptr;
    std::uint64_t size = 0;
    // Up to `count` bytes from `offset`; fewer at the end of the data; `failed` on an I/O error.
    std::size_t (*read)(const ByteSource& self, std::uint64_t offset, std::uint8_t* dst, std::size_t count,
                        bool& failed) = nullptr;
    // Whether the read position may move to `offset` (null: it always may).
    bool (*seek)(const ByteSource& self, std::uint64_t offset) = nullptr;
};

// Where a stream's bytes go when they are not a file: memory, or a writer of the caller's.
struct ByteSink {
    void* context = nullptr;
    // Takes the bytes; false if not all of them could be kept.
    bool (*write)(const ByteSink& self, const std::uint8_t* src, std::size_t count) = nullptr;
    // Drops everything written, to write it again; false if that cannot be done.
    bool (*rewind)(const ByteSink& self) = nullptr;
};

// A reader that fetches its bytes a block at a time, so that the many small reads of the
// conversions cost a copy, not a library call. Either `file` is set, or the bytes come from
// `source`.
struct InStream {
    std::FILE* file = nullptr;
    ByteSource source;
    std::vector<std::uint8_t> buffer;  // one block
    std::uint64_t bufferStart = 0;  // stream offset of buffer[0]
    std::size_t pos = 0;            // next byte to hand out
    std::size_t end = 0;            // bytes valid in the buffer
    bool ioError = false;           // a read failed for a reason other than the end of the data
};

// A writer that collects bytes into blocks, for `file` or else for `sink`.
struct OutStream {
    std::FILE* file = nullptr;
    ByteSink sink;
    std::vector<std::uint8_t> buffer;
    std::size_t used = 0;
    bool failed = false;   // once set, stays set: the stream takes no more bytes
    bool durable = false;  // the file's bytes are on the disk before it is closed (it is to replace another)
};

InStream fileInput(std::FILE* file, std::size_t blockSize = kDefaultBlockSize);
InStream memoryInput(std::span<const std::uint8_t> bytes, std::size_t blockSize = kDefaultBlockSize);
InStream sourceInput(const ByteSource& source, std::size_t blockSize = kDefaultBlockSize);
OutStream fileOutput(std::FILE* file, std::size_t blockSize = kDefaultBlockSize);
// A file whose bytes closeOutput puts on the disk before it closes it: a file that is to be
// renamed over another must not turn out empty after a power cut.
OutStream durableFileOutput(std::FILE* file, std::size_t blockSize = kDefaultBlockSize);
OutStream memoryOutput(std::vector<std::uint8_t>& sink, std::size_t blockSize = kDefaultBlockSize);
OutStream sinkOutput(const ByteSink& sink, std::size_t blockSize = kDefaultBlockSize);

// Bytes held in a file (a scratch file) until they are final: a rewind writes them again from
// the file's start, and the first `length` bytes are what was written since.
struct HeldBytes {
    std::FILE* file = nullptr;
    std::uint64_t length = 0;
};
OutStream heldOutput(HeldBytes& held, std::size_t blockSize = kDefaultBlockSize);

// Hands the held bytes, from the start, to `sink` (a block at a time); false if reading them back
// or the sink fails.
bool releaseHeld(HeldBytes& held, const ByteSink& sink);

// Slow path of readBytes: refills the buffer; false at the end of the data or on an error.
bool refillInput(InStream& in);

// Reads up to `count` bytes; fewer means the end of the data or an error (see `ioError`).
inline std::size_t readBytes(InStream& in, std::uint8_t* dst, std::size_t count) {
    if (in.end - in.pos >= count) {
        std::memcpy(dst, in.buffer.data() + in.pos, count);
        in.pos += count;
        return count;
    }
    std::size_t done = 0;
    while (done < count) {
        if (in.pos == in.end && !refillInput(in)) break;
        const std::size_t take = std::min(count - done, in.end - in.pos);
        std::memcpy(dst + done, in.buffer.data() + in.pos, take);
        in.pos += take;
        done += take;
    }
    return done;
}

// The bytes already buffered at the read position, for a caller that works through a block in
// place; consumeBytes then moves past the ones it used.
inline std::span<const std::uint8_t> peekBytes(const InStream& in) {
    return {in.buffer.data() + in.pos, in.end - in.pos};
}

inline void consumeBytes(InStream& in, std::size_t count) { in.pos += std::min(count, in.end - in.pos); }

// The read position: bytes handed out so far, plus any seeks.
inline std::uint64_t tellInput(const InStream& in) { return in.bufferStart + in.pos; }

// Moves the read position by `delta` bytes from where it is. Moving past the end is allowed
// (the next read comes up short); moving before the start fails.
bool seekRelative(InStream& in, std::int64_t delta);

// The whole length of the input, if it can be measured.
std::optional<std::uint64_t> inputSize(const InStream& in);

// Slow path of writeBytes: hands the buffer on; false once any write has failed.
bool drainOutput(OutStream& out);

inline bool writeBytes(OutStream& out, const std::uint8_t* src, std::size_t count) {
    while (count > 0) {
        if (out.used == out.buffer.size() && !drainOutput(out)) return false;
        const std::size_t take = std::min(count, out.buffer.size() - out.used);
        std::memcpy(out.buffer.data() + out.used, src, take);
        out.used += take;
        src += take;
        count -= take;
    }
    return !out.failed;
}

inline bool writeByte(OutStream& out, std::uint8_t value) {
    if (out.used == out.buffer.size() && !drainOutput(out)) return false;
    out.buffer[out.used++] = value;
    return true;
}

// Hands every buffered byte on and flushes the file; false if any write so far failed.
bool flushOutput(OutStream& out);

// Flushes, then goes back to the start to write the output again (over what is there); false
// if a write failed or the output cannot be rewound (a pipe, a device).
bool rewindOutput(OutStream& out);

// Flushes, then cuts the output off where the writing stands (after a rewrite that came out
// shorter); false if that fails.
bool truncateOutput(OutStream& out);

// Hands every byte on and closes a file (the stream takes no more bytes); false if any write,
// the flush or the close failed. Success may be claimed only after this.
bool closeOutput(OutStream& out);

}  // namespace aamsg
