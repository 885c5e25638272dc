// The frame of every conversion of the C API.
#include "api/call.hpp"

#include <new>

#include "api/options.hpp"
#include "api/report.hpp"
#include "api/status.hpp"

namespace aamsg {

namespace {

bool tellCaller(void* call, int percent) {
    Call& c = *static_cast<Call*>(call);
    c.told = percent;
    return c.callback(c.context, percent) == 0;
}

}  // namespace

Call::Call(aamsg_progress callback_, void* context_, aamsg_report* report_) : callback(callback_), context(context_), report(report_) {
    clearFailure();
    if (callback != nullptr) {
        progress.listener = tellCaller;
        progress.listenerContext = this;
    }
}

bool reportUsable(const aamsg_report* report) { return report == nullptr || report->size >= sizeof report->size; }

Status requestFor(const aamsg_options* options, Request& request, ThreadShare& threads) {
    if (isOutOfMemoryOptions(options)) return fail(kOutOfMemory, "the options could not be made: memory ran out");
    request = requestOf(options);
    if (request.mode == Mode::Best) {
        threads.take(options != nullptr ? options->threads : 0);
        request.best.threads = threads.count();
        // One thread does everything on the caller's; with more, the input is read on one of them.
        request.best.background = request.best.threads > 1;
    }
    return kOk;
}

Status statusOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return fail(kOutOfMemory, "memory ran out");
    } catch (...) {
        return fail(kInternalError, "the conversion could not be set up");
    }
}

aamsg_status finish(Call& call, Status status) {
    call.outcome.status = status;
    if (status == kCancelled) fail(kCancelled, "the progress callback asked to stop at %d%%", call.told);
    const FailureNote& note = lastFailure();
    const aamsg_status result = publicStatus(status);
    const char* detail = status == kOk ? "" : note.status == status ? note.text : aamsg_status_text(result);
    fillReport(call.report, call.outcome, call.progress, detail);
    return result;
}

}  // namespace aamsg
