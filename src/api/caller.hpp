// What every call of the C API does alike: the caller's progress callback as the conversions'
// listener, and an exception that escaped the work as a status.
#pragma once

#include <exception>
#include <new>

#include "aamsg.h"
#include "base/base.hpp"

namespace aamsg {

struct Caller {
    aamsg_progress progress = nullptr;
    void* context = nullptr;
};

inline bool tellCaller(void* caller, int percent) {
    const Caller& c = *static_cast<const Caller*>(caller);
    return c.progress(c.context, percent) == 0;
}

// A report that tells `caller` each mark; `caller` must outlive it.
inline ProgressReport progressFor(Caller& caller) {
    ProgressReport progress;
    if (caller.progress != nullptr) {
        progress.listener = tellCaller;
        progress.listenerContext = &caller;
    }
    return progress;
}

// Inside a catch block: what was thrown, as a status.
inline Status statusOfCaught() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kInternalError;
    }
}

}  // namespace aamsg
