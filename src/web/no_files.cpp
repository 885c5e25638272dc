// The module's open(): every name is missing, as nothing here is read by name.
//
// The module has no file system (-sFILESYSTEM=0), where emscripten's open() returns nothing,
// which reads as descriptor 0. libsndfile opens a file by name for one reason only: to look for
// a Macintosh resource fork beside an input it has not recognised yet, before it tries the bare
// MPEG frame headers of an MP3 without a tag; a "found" fork is then read as Sound Designer II,
// and the MP3 is refused.
#include <cerrno>

extern "C" int open(const char*, int, ...) {
    errno = ENOENT;
    return -1;
}
