// The C API's conversion between the caller's read and write callbacks, in constant memory: an
// input that cannot seek is copied to a temporary file first, and `q`'s message, which it may
// rewrite at the end, is held in one until it is final.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "api/call.hpp"
#include "api/output.hpp"
#include "io/files.hpp"

namespace aamsg {

namespace {

constexpr std::size_t kCopyBlock = std::size_t{1} << 16;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct Writer {
    aamsg_writer write = nullptr;
    void* context = nullptr;
};

bool writeToWriter(const ByteSink& self, const std::uint8_t* bytes, std::size_t count) {
    const Writer& writer = *static_cast<const Writer*>(self.context);
    const int refused = writer.write(writer.context, bytes, count);
    if (refused != 0) fail(kCannotWriteOutput, "the writer returned %d", refused);
    return refused == 0;
}

// The caller's reader as the streams' byte source: read where the stream asks, seeking there
// first when it asks elsewhere than where the reader stands.
struct ReaderSource {
    const aamsg_reader* reader = nullptr;
    std::int64_t base = 0;       // where the input starts in the reader's positions
    std::uint64_t position = 0;  // where the reader stands, from the input's start
};

std::size_t readFromReader(const ByteSource& self, std::uint64_t offset, std::uint8_t* dst, std::size_t count, bool& failed) {
    auto& source = *static_cast<ReaderSource*>(const_cast<void*>(self.context));
    const aamsg_reader& reader = *source.reader;
    if (offset != source.position) {
        const auto target = static_cast<std::int64_t>(offset) + source.base;
        if (offset > static_cast<std::uint64_t>(INT64_MAX - source.base) || reader.seek(reader.context, target, SEEK_SET) != target) {
            failed = true;
            fail(kCannotReadInput, "the reader's seek to byte %llu failed", static_cast<unsigned long long>(offset));
            return 0;
        }
        source.position = offset;
    }
    const std::int64_t got = reader.read(reader.context, dst, count);
    if (got < 0 || static_cast<std::uint64_t>(got) > count) {
        failed = true;
        fail(kCannotReadInput, "the reader returned %lld at byte %llu", static_cast<long long>(got),
             static_cast<unsigned long long>(offset));
        return 0;
    }
    source.position += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

// The reader's length from its start, if it can seek there and back.
bool measure(ReaderSource& source, std::uint64_t& size) {
    const aamsg_reader& reader = *source.reader;
    if (reader.seek == nullptr) return false;
    source.base = reader.tell != nullptr ? reader.tell(reader.context) : 0;
    if (source.base < 0) return false;
    const std::int64_t end = reader.seek(reader.context, 0, SEEK_END);
    if (end < source.base || reader.seek(reader.context, source.base, SEEK_SET) != source.base) return false;
    size = static_cast<std::uint64_t>(end - source.base);
    return true;
}

// The whole input copied into a temporary file, from which the conversion reads.
Status spool(const aamsg_reader& reader, FilePtr& copy) {
    copy.reset(openScratchFile(kCannotReadInput));
    if (!copy) return kCannotReadInput;
    std::vector<std::uint8_t> block(kCopyBlock);
    std::uint64_t total = 0;
    for (;;) {
        const std::int64_t got = reader.read(reader.context, block.data(), block.size());
        if (got == 0) break;
        if (got < 0 || static_cast<std::uint64_t>(got) > block.size()) {
            return fail(kCannotReadInput, "the reader returned %lld after %llu bytes", static_cast<long long>(got),
                        static_cast<unsigned long long>(total));
        }
        if (std::fwrite(block.data(), 1, static_cast<std::size_t>(got), copy.get()) != static_cast<std::size_t>(got)) {
            return fail(kCannotReadInput, "the input could not be kept in a temporary file: %s", std::strerror(errno));
        }
        total += static_cast<std::uint64_t>(got);
    }
    if (std::fflush(copy.get()) != 0 || std::fseek(copy.get(), 0, SEEK_SET) != 0) {
        return fail(kCannotReadInput, "the input could not be kept in a temporary file: %s", std::strerror(errno));
    }
    return kOk;
}

// The caller's input as a stream: read through the reader where it can seek, else from a copy.
struct ReaderInput {
    ReaderSource source;
    FilePtr copy;
    InStream stream;
};

Status openReader(const aamsg_reader& reader, ReaderInput& input) {
    input.source.reader = &reader;
    std::uint64_t size = 0;
    if (measure(input.source, size)) {
        input.stream = sourceInput({&input.source, size, readFromReader, nullptr});
        return kOk;
    }
    if (const Status rc = spool(reader, input.copy); rc != kOk) return rc;
    input.stream = fileInput(input.copy.get());
    return kOk;
}

Status convertStreams(const aamsg_reader& reader, const Writer& writer, const Request& request, Call& call) {
    ReaderInput input;
    if (const Status rc = openReader(reader, input); rc != kOk) return rc;
    if (request.mode != Mode::Best) {
        OutStream output = sinkOutput({const_cast<Writer*>(&writer), writeToWriter, nullptr});
        call.outcome = runConversion(request, input.stream, output, call.progress);
        return call.outcome.status;
    }
    // `q` may write its message again at the end (the greedy codes, where they come out closer):
    // it is held in a temporary file until it is final.
    const FilePtr heldFile(openScratchFile(kCannotWriteOutput));
    if (!heldFile) return kCannotWriteOutput;
    HeldBytes held{heldFile.get()};
    OutStream output = heldOutput(held);
    call.outcome = runConversion(request, input.stream, output, call.progress);
    if (call.outcome.status != kOk && call.outcome.status != kCorrupted) return call.outcome.status;
    if (!releaseHeld(held, {const_cast<Writer*>(&writer), writeToWriter, nullptr})) call.outcome.status = kCannotWriteOutput;
    return call.outcome.status;
}

Status convertStreamToFile(const aamsg_reader& reader, const char* output, const Request& request, Call& call) {
    ReaderInput input;
    if (const Status rc = openReader(reader, input); rc != kOk) return rc;
    return convertToFile(input.stream, nullptr, output, request, call);
}

// The frame both calls share: the arguments checked, the conversion run, the report filled.
template <typename Convert>
aamsg_status runStreamCall(const aamsg_reader* input, bool outputGiven, const aamsg_options* options, aamsg_progress progress,
                           void* context, aamsg_report* report, Convert convert) {
    if (!reportUsable(report)) return AAMSG_INVALID_ARGUMENT;
    Call call(progress, context, report);
    if (input == nullptr || input->read == nullptr) return finish(call, fail(kInvalidArgument, "no reader"));
    if (!outputGiven) return finish(call, fail(kInvalidArgument, "no output"));
    return finish(call, runWithOptions(options, [&](const Request& request) { return convert(request, call); }));
}

}  // namespace

}  // namespace aamsg

extern "C" {

aamsg_status aamsg_convert_stream(const aamsg_reader* input, aamsg_writer write, void* write_context, const aamsg_options* options,
                                  aamsg_progress progress, void* context, aamsg_report* report) {
    using namespace aamsg;
    const Writer writer{write, write_context};
    return runStreamCall(input, write != nullptr, options, progress, context, report,
                         [&](const Request& request, Call& call) { return convertStreams(*input, writer, request, call); });
}

aamsg_status aamsg_convert_stream_to_file(const aamsg_reader* input, const char* output, const aamsg_options* options,
                                          aamsg_progress progress, void* context, aamsg_report* report) {
    using namespace aamsg;
    return runStreamCall(input, output != nullptr, options, progress, context, report,
                         [&](const Request& request, Call& call) { return convertStreamToFile(*input, output, request, call); });
}

}  // extern "C"
