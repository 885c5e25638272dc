// The API tests' helpers, over include/aamsg.h alone: options from a plain record, and one
// conversion by memory or by file with its status, bytes, report and progress marks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "aamsg.h"

namespace aamsg::api_test {

using Bytes = std::vector<std::uint8_t>;

inline const std::filesystem::path kSample = std::filesystem::path(AAMSG_SAMPLE_DIR) / "thank-you.wav";
inline const std::filesystem::path kSampleMessage = std::filesystem::path(AAMSG_TEST_DATA) / "thank-you.msg";

// A scratch folder of the test's own, removed after it.
class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() / (std::string("aamsg_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path write(const std::string& name, const Bytes& bytes) const {
        const std::filesystem::path path = dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path dir;
};

struct OptionsFree {
    void operator()(aamsg_options* options) const { aamsg_options_free(options); }
};
using Options = std::unique_ptr<aamsg_options, OptionsFree>;

struct Choices {
    aamsg_mode mode = AAMSG_MODE_BEST;
    bool level = false;
    double levelDb = AAMSG_DEFAULT_LEVEL_DB;
    bool trim = false;
    bool flat = false;
    unsigned threads = 0;
};

inline Options makeOptions(const Choices& choices) {
    Options options(aamsg_options_new());
    if (options == nullptr || aamsg_options_set_mode(options.get(), choices.mode) != AAMSG_OK ||
        aamsg_options_set_level(options.get(), choices.level ? 1 : 0, choices.levelDb) != AAMSG_OK ||
        aamsg_options_set_trim(options.get(), choices.trim ? 1 : 0) != AAMSG_OK ||
        aamsg_options_set_flat(options.get(), choices.flat ? 1 : 0) != AAMSG_OK ||
        aamsg_options_set_threads(options.get(), choices.threads) != AAMSG_OK) {
        return nullptr;
    }
    return options;
}

inline Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Converted {
    aamsg_status status = AAMSG_INTERNAL;
    Bytes output;
    aamsg_report report{};
    std::vector<int> marks;
};

// Records each mark; asks to stop at `cancelAt`.
struct Listener {
    std::vector<int>* marks;
    int cancelAt;
};

inline int listen(void* context, int percent) {
    auto& listener = *static_cast<Listener*>(context);
    listener.marks->push_back(percent);
    return percent == listener.cancelAt ? 1 : 0;
}

inline Converted convertMemory(const Bytes& input, const aamsg_options* options, int cancelAt = -1) {
    Converted run;
    run.report.size = sizeof run.report;
    Listener listener{&run.marks, cancelAt};
    void* output = nullptr;
    std::size_t size = 0;
    run.status = aamsg_convert_memory(input.data(), input.size(), &output, &size, options, listen, &listener, &run.report);
    const auto* bytes = static_cast<const std::uint8_t*>(output);
    if (bytes != nullptr) run.output.assign(bytes, bytes + size);
    aamsg_free(output);
    return run;
}

inline Converted convertFile(const std::filesystem::path& input, const std::filesystem::path& output,
                             const aamsg_options* options, int cancelAt = -1) {
    Converted run;
    run.report.size = sizeof run.report;
    Listener listener{&run.marks, cancelAt};
    const std::u8string in = input.u8string();
    const std::u8string out = output.u8string();
    run.status = aamsg_convert_file(reinterpret_cast<const char*>(in.c_str()), reinterpret_cast<const char*>(out.c_str()),
                                    options, listen, &listener, &run.report);
    if (std::filesystem::is_regular_file(output)) run.output = readBytes(output);  // not /dev/full
    return run;
}

}  // namespace aamsg::api_test
