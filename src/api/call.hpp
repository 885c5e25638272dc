// What every conversion of the C API does around the conversion itself: the caller's progress
// callback as the conversions' listener, the options checked, the search threads taken, and
// the report and status filled at the end, whatever happened. Nothing thrown inside crosses
// back to the caller.
#pragma once

#include <exception>

#include "aamsg.h"
#include "api/threads.hpp"
#include "base/failure.hpp"
#include "convert/convert.hpp"

namespace aamsg {

// One call: started before anything is checked, finished on every way out.
struct Call {
    aamsg_progress callback = nullptr;
    void* context = nullptr;
    aamsg_report* report = nullptr;
    ProgressReport progress;
    int told = -1;  // the last percent the callback was told
    Outcome outcome;

    Call(aamsg_progress progress, void* context, aamsg_report* report);
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
};

// Whether the caller's report can be filled; if not, the call ends at once with
// AAMSG_INVALID_ARGUMENT and touches nothing.
bool reportUsable(const aamsg_report* report);

// The request `options` make (null: the defaults), with the search threads this conversion
// may use while `threads` lives; kOutOfMemory for the options aamsg_options_new gives when
// memory ran out.
Status requestFor(const aamsg_options* options, Request& request, ThreadShare& threads);

// What escaped a conversion's set-up (the conversion itself lets nothing out), noted.
Status statusOf(std::exception_ptr failure);

// Runs `convert(request)` with the request `options` make and the search threads it takes for
// as long as it runs; what is thrown becomes a status.
template <typename Convert>
Status runWithOptions(const aamsg_options* options, Convert convert) {
    try {
        Request request;
        ThreadShare threads;
        const Status rc = requestFor(options, request, threads);
        return rc != kOk ? rc : convert(request);
    } catch (...) {
        return statusOf(std::current_exception());
    }
}

// Ends the call with `status`: the report filled, with the note of the failure when it was
// noted for this status (else the status's own words), and the public status returned.
aamsg_status finish(Call& call, Status status);

}  // namespace aamsg
