// The notes of failures, one for each thread.
#include "base/failure.hpp"

#include <cstdarg>
#include <cstdio>

namespace aamsg {

namespace {

thread_local FailureNote note;

}  // namespace

Status fail(Status status, const char* format, ...) {
    note.status = status;
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(note.text, sizeof note.text, format, arguments);
    va_end(arguments);
    return status;
}

Status fail(const FailureNote& from) {
    if (&from != &note) note = from;
    return from.status;
}

const FailureNote& lastFailure() { return note; }

void clearFailure() { note = FailureNote{}; }

}  // namespace aamsg
