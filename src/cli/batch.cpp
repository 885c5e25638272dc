// Many files with `q`: each converted by the library into its message (which the library replaces
// only with a whole one), several at a time; results printed in the order given, as each is known.
#include "cli/batch.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "cli/interrupt.hpp"

namespace aamsg {

namespace {

namespace fs = std::filesystem;

// UTF-8 names as paths and back: on Windows a narrow string would be taken in the ANSI code page.
fs::path pathOf(const std::string& utf8) {
#ifdef _WIN32
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return fs::path(utf8);
#endif
}

std::string utf8Of(const fs::path& path) {
#ifdef _WIN32
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.string();
#endif
}

// A job's names and its result line.
struct BatchJob {
    const BatchFile* input = nullptr;
    fs::path target;         // the message's final name
    std::string targetName;  // and in UTF-8
    std::string shownName;   // the final name as the console shows it
    bool duplicate = false;   // an earlier file of the batch has the same message name
    ExitCode result = kExitOk;
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

// Stops a conversion once Ctrl-C was pressed.
int stopWhenInterrupted(void*, int) { return interrupted() ? 1 : 0; }

// One file into its message.
void convertOne(const aamsg_options& options, const BestChoices& choices, BatchJob& job) {
    if (job.duplicate) return settle(job, kCannotOpenOutput, "Cannot open outfile " + job.shownName + ": another infile has its name");
    aamsg_report report{};
    report.size = sizeof report;
    const aamsg_status status =
        aamsg_convert_file(job.input->path.c_str(), job.targetName.c_str(), &options, stopWhenInterrupted, nullptr, &report);
    settle(job, exitCodeOf(status), oneLine(closingText(AAMSG_MODE_BEST, status, report, choices, job.input->name, job.shownName.c_str())));
}

// Workers take the next file until none is left; the printer waits for each in turn.
struct BatchRun {
    std::vector<BatchJob> jobs;
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
};

void work(const aamsg_options& options, const BestChoices& choices, BatchRun& run) {
    for (std::size_t i; !interrupted() && (i = run.next++) < run.jobs.size();) {
        BatchJob& job = run.jobs[i];
        try {
            convertOne(options, choices, job);
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

std::vector<BatchJob> planJobs(const char* outDirName, const std::string& folder, const std::vector<BatchFile>& files) {
    std::vector<BatchJob> jobs(files.size());
    std::map<fs::path, std::size_t> taken;
    for (std::size_t i = 0; i < files.size(); ++i) {
        BatchJob& job = jobs[i];
        job.input = &files[i];
        job.target = pathOf(folder) / pathOf(files[i].path).stem();
        job.target += ".msg";
        job.targetName = utf8Of(job.target);
        // Shown as the folder was given, whatever the platform's separator.
        const std::string dirName = outDirName;
        const bool separated = dirName.back() == '/' || dirName.back() == '\\';
        job.shownName = dirName + (separated ? "" : "/") + fs::path(files[i].name).stem().string() + ".msg";
        job.duplicate = !taken.emplace(job.target, i).second;
    }
    return jobs;
}

}  // namespace

ExitCode runBatch(aamsg_options& options, const BestChoices& choices, const char* outDirName, const std::string& folder,
                  const std::vector<BatchFile>& files) {
    BatchRun run;
    run.jobs = planJobs(outDirName, folder, files);
    const unsigned cores = aamsg_processors();
    const std::size_t workers = std::clamp<std::size_t>(cores, 1, files.size());
    // The cores left over when there are fewer files than cores go to each file's search: two
    // files on two cores never start four busy search threads, and each reads its own input.
    aamsg_options_set_threads(&options, std::max(1u, static_cast<unsigned>(cores / workers)));
    std::vector<std::thread> threads;
    try {
        for (std::size_t i = 0; i < workers; ++i) threads.emplace_back(work, std::cref(options), std::cref(choices), std::ref(run));
    } catch (...) {
        // Fewer threads than cores still do every file; with none, this one does them.
    }
    if (threads.empty()) work(options, choices, run);
    ExitCode first = kExitOk;
    std::size_t converted = 0;
    for (BatchJob& job : run.jobs) {
        {
            // A signal cannot wake a waiting thread: Ctrl-C is looked for a few times a second.
            std::unique_lock lock(run.mutex);
            while (!run.finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return job.done; }) && !interrupted()) {
            }
        }
        if (interrupted()) break;
        std::fprintf(console(), "%d\t%s\t%s\t%s\r\n", static_cast<int>(job.result), job.input->name, job.shownName.c_str(),
                     job.text.c_str());
        std::fflush(console());
        if (job.result == kExitOk) ++converted;
        if (first == kExitOk) first = job.result;
    }
    for (std::thread& thread : threads) thread.join();
    // Every conversion stopped; the library has removed what they were writing.
    if (interrupted()) endByInterrupt();
    std::fprintf(console(), "%zu of %zu converted\r\n", converted, run.jobs.size());
    return first;
}

}  // namespace aamsg
