// What the batch does with files beside the library's conversions, by UTF-8 names: whether a
// message would land on its input, and the partial file moved or removed.
#pragma once

namespace aamsg {

// Whether `other` names the regular file `input` names (another spelling or a link included).
// False when the input cannot be opened: the conversion then says so.
bool namesInput(const char* input, const char* other);

// Moves a finished file over `to` in one step, so that `to` is never seen half written.
bool replaceFile(const char* from, const char* to);

bool removeFile(const char* name);

}  // namespace aamsg
