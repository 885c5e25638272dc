// What the tests share: streams that fail on demand, one runner of the conversion entry point
// on files in memory, and the format's facts written out plainly (packing, decoding, the
// console's progress line).
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/adpcm.hpp"
#include "measures.hpp"
#include "convert/convert.hpp"
#include "wave_builder.hpp"

namespace aamsg::test {

// Bytes in memory whose read at offset `failAt` is an I/O error, and whose seeks outside the
// stream's buffer fail when `seeksFail`: a disk going bad.
struct FaultyBytes {
    const Bytes* bytes = nullptr;
    std::uint64_t failAt = UINT64_MAX;
    bool seeksFail = false;
};

inline InStream faultyInput(const FaultyBytes& faults, std::size_t block = kDefaultBlockSize) {
    const auto read = [](const ByteSource& self, std::uint64_t offset, std::uint8_t* dst, std::size_t count, bool& failed) {
        const auto& f = *static_cast<const FaultyBytes*>(self.context);
        std::uint64_t end = std::min<std::uint64_t>(offset + count, f.bytes->size());
        if (f.failAt >= offset && f.failAt < end) {
            end = f.failAt;
            failed = end == offset;
        }
        if (end <= offset) return std::size_t{0};
        std::copy(f.bytes->begin() + static_cast<std::ptrdiff_t>(offset), f.bytes->begin() + static_cast<std::ptrdiff_t>(end), dst);
        return static_cast<std::size_t>(end - offset);
    };
    const auto seek = [](const ByteSource& self, std::uint64_t) { return !static_cast<const FaultyBytes*>(self.context)->seeksFail; };
    return sourceInput({&faults, faults.bytes->size(), read, seek}, block);
}

// An output that keeps at most `capacity` bytes: a full disk.
struct CappedBytes {
    Bytes bytes;
    std::uint64_t capacity = UINT64_MAX;
};

inline OutStream cappedOutput(CappedBytes& target, std::size_t block = kDefaultBlockSize) {
    const auto write = [](const ByteSink& self, const std::uint8_t* src, std::size_t count) {
        auto& t = *static_cast<CappedBytes*>(self.context);
        const std::uint64_t room = t.capacity - std::min<std::uint64_t>(t.capacity, t.bytes.size());
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(room, count));
        t.bytes.insert(t.bytes.end(), src, src + take);
        return take == count;
    };
    const auto rewind = [](const ByteSink& self) {
        static_cast<CappedBytes*>(self.context)->bytes.clear();
        return true;
    };
    return sinkOutput({&target, write, rewind}, block);
}

struct Converted {
    Status result = kOk;
    Bytes output;
    std::string console;  // the progress and the duration line, as the command line shows them
    Outcome outcome;
};

struct Faults {
    std::size_t block = kDefaultBlockSize;
    std::uint64_t outputCapacity = UINT64_MAX;
    std::uint64_t failReadAt = UINT64_MAX;
};

// The console's progress line up to `lastPercent`, and the duration line.
inline std::string progressLine(int lastPercent) {
    std::string s = "\r\nProgress: 0%";
    for (int p = 1; p <= lastPercent; ++p) s += "\rProgress: " + std::to_string(p) + "%";
    return s;
}

inline std::string duration(int minutes, int seconds) {
    return "\r\nTotal time: " + std::to_string(minutes) + "m " + std::to_string(seconds) + "s\r\n";
}

// Each mark the conversion reports, as the console prints it.
inline bool printMark(void* console, int percent) {
    auto& text = *static_cast<std::string*>(console);
    text += percent == 0 ? std::string("\r\nProgress: 0%") : "\rProgress: " + std::to_string(percent) + "%";
    return true;
}

// Runs a conversion through the entry point the library calls.
inline Converted convert(const Request& request, const Bytes& input, const Faults& faults = {}) {
    Converted run;
    const FaultyBytes source{&input, faults.failReadAt};
    InStream in = faultyInput(source, faults.block);
    CappedBytes target{{}, faults.outputCapacity};
    OutStream out = cappedOutput(target, faults.block);
    ProgressReport progress;
    progress.listener = printMark;
    progress.listenerContext = &run.console;
    run.outcome = runConversion(request, in, out, progress);
    if (progress.finished) run.console += duration(static_cast<int>(progress.seconds / 60), static_cast<int>(progress.seconds % 60));
    run.result = run.outcome.status;
    run.output = std::move(target.bytes);
    return run;
}

inline Converted convert(Mode mode, const Bytes& input, const Faults& faults = {}) {
    Request request;
    request.mode = mode;
    return convert(request, input, faults);
}

// Codes two to a byte, the earlier high; an odd last code is dropped.
inline Bytes messageOf(const std::vector<std::uint8_t>& codes) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < codes.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(codes[i] << 4 | codes[i + 1]));
    return bytes;
}

// The greedy encoder's codes for the samples.
template <typename Sample>
std::vector<std::uint8_t> greedyCodes(const std::vector<Sample>& samples) {
    AdpcmState state;
    std::vector<std::uint8_t> codes;
    for (const Sample s : samples) codes.push_back(static_cast<std::uint8_t>(encodeSample(static_cast<std::int16_t>(s), state)));
    return codes;
}

// The greedy encoder's message for the samples.
inline Bytes greedyMessage(const std::vector<int>& samples) { return messageOf(greedyCodes(samples)); }

// The samples of a canonical 16-bit WAVE file, after its 44-byte header.
inline std::vector<std::int16_t> samplesOf(const Bytes& wave) {
    std::vector<std::int16_t> s;
    for (std::size_t i = 44; i + 1 < wave.size(); i += 2) s.push_back(static_cast<std::int16_t>(wave[i] | wave[i + 1] << 8));
    return s;
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace aamsg::test
