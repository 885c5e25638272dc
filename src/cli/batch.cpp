// Many files with `q`: each converted into a file beside its final name and moved there only
// when it is whole; results printed in the order given, as each is known.
#include "cli/batch.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace aamsg {

namespace {

namespace fs = std::filesystem;

// A job's names and its result line.
struct BatchJob {
    const BatchFile* input = nullptr;
    fs::path target;        // the message's final name
    fs::path partial;       // where it is written until it is whole
    std::string shownName;  // the final name as the console shows it
    bool duplicate = false;  // an earlier file of the batch has the same message name
    ExitCode result = kOk;
    std::string text;  // the report and the result's message, on one line
    bool done = false;
};

// The console's closing text folded onto one line: line ends become "; ".
std::string oneLine(const std::string& message) {
    std::string line;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find_first_of("\r\n", start);
        if (end == std::string::npos) end = message.size();
        if (end > start) line += (line.empty() ? "" : "; ") + message.substr(start, end - start);
        start = end + 1;
    }
    return line;
}

void settle(BatchJob& job, ExitCode code, const std::string& text) {
    job.result = code;
    job.text = text;
}

// One file: opened, checked, converted beside its name, then moved over it.
void convertOne(const BestOptions& options, BatchJob& job) {
    const char* name = job.input->name;
    if (job.duplicate) return settle(job, kCannotOpenOutput, "Cannot open outfile " + job.shownName + ": another infile has its name");
    std::FILE* inputFile = nullptr;
    if (openInputFile(job.input->path, inputFile) != OpenResult::kOpened) return settle(job, kCannotOpenInput, std::string("Cannot open infile ") + name);
    if (namesFile(job.target.c_str(), inputFile)) {
        std::fclose(inputFile);
        return settle(job, kCannotOpenOutput, "Cannot open outfile " + job.shownName + ": it is the infile");
    }
    std::FILE* outputFile = nullptr;
    if (openOutputFile(job.partial.c_str(), inputFile, outputFile) != OpenResult::kOpened) {
        std::fclose(inputFile);
        return settle(job, kCannotOpenOutput, "Cannot open outfile " + job.shownName);
    }
    Request request{Mode::Best, options, name, job.shownName.c_str()};
    InStream input = fileInput(inputFile);
    OutStream output = fileOutput(outputFile);
    const Outcome outcome = runConversion(request, input, output, makeProgressReport(nullptr));
    std::fclose(inputFile);
    settle(job, outcome.result, oneLine(outcome.message));
    if (outcome.result == kOk && !replaceFile(job.partial.c_str(), job.target.c_str())) {
        settle(job, kCannotWriteOutput, "Cannot write outfile " + job.shownName);
    }
    if (job.result != kOk) removeFile(job.partial.c_str());
}

// Workers take the next file until none is left; the printer waits for each in turn.
struct BatchRun {
    std::vector<BatchJob> jobs;
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
};

void work(const BestOptions& options, BatchRun& run) {
    for (std::size_t i; (i = run.next++) < run.jobs.size();) {
        BatchJob& job = run.jobs[i];
        try {
            convertOne(options, job);
        } catch (...) {
            settle(job, kInternalError, "Internal error");
        }
        {
            std::lock_guard lock(run.mutex);
            job.done = true;
        }
        run.finished.notify_all();
    }
}

std::vector<BatchJob> planJobs(const char* outDirName, const PathChar* outDirPath, const std::vector<BatchFile>& files) {
    std::vector<BatchJob> jobs(files.size());
    std::map<fs::path, std::size_t> taken;
    for (std::size_t i = 0; i < files.size(); ++i) {
        BatchJob& job = jobs[i];
        job.input = &files[i];
        const fs::path stem = fs::path(files[i].path).stem();
        job.target = fs::path(outDirPath) / stem;
        job.target += ".msg";
        job.partial = job.target;
        job.partial += ".part";
        // Shown as the folder was given, whatever the platform's separator.
        const std::string dirName = outDirName;
        const bool separated = dirName.back() == '/' || dirName.back() == '\\';
        job.shownName = dirName + (separated ? "" : "/") + fs::path(files[i].name).stem().string() + ".msg";
        job.duplicate = !taken.emplace(job.target, i).second;
    }
    return jobs;
}

}  // namespace

ExitCode runBatch(const BestOptions& options, const char* outDirName, const PathChar* outDirPath,
                  const std::vector<BatchFile>& files) {
    BatchRun run;
    run.jobs = planJobs(outDirName, outDirPath, files);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers = std::clamp<std::size_t>(cores, 1, files.size());
    BestOptions each = options;
    each.background = workers == 1;  // with several files at once the cores are already busy
    // The cores left over when there are fewer files than cores go to each file's search: two
    // files on two cores never start four busy search threads.
    each.threads = std::max(1u, static_cast<unsigned>(cores / workers));
    std::vector<std::thread> threads;
    try {
        for (std::size_t i = 0; i < workers; ++i) threads.emplace_back(work, std::cref(each), std::ref(run));
    } catch (...) {
        // Fewer threads than cores still do every file; with none, this one does them.
    }
    if (threads.empty()) work(each, run);
    ExitCode first = kOk;
    std::size_t converted = 0;
    for (BatchJob& job : run.jobs) {
        {
            std::unique_lock lock(run.mutex);
            run.finished.wait(lock, [&] { return job.done; });
        }
        std::printf("%d\t%s\t%s\t%s\r\n", static_cast<int>(job.result), job.input->name, job.shownName.c_str(), job.text.c_str());
        std::fflush(stdout);
        if (job.result == kOk) ++converted;
        if (first == kOk) first = job.result;
    }
    for (std::thread& thread : threads) thread.join();
    std::printf("%zu of %zu converted\r\n", converted, run.jobs.size());
    return first;
}

}  // namespace aamsg
