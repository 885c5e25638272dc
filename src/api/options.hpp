// The options object behind the C API's setters, and the request it makes.
#pragma once

#include "aamsg.h"
#include "convert/convert.hpp"

// The C header names it in the global namespace; its insides are the library's own.
struct aamsg_options {
    aamsg_mode mode = AAMSG_MODE_BEST;
    bool level = false;
    double levelDb = AAMSG_DEFAULT_LEVEL_DB;
    bool trim = false;
    bool flat = false;
    unsigned threads = 0;  // a share of the processors
};

namespace aamsg {

// Whether these are the options aamsg_options_new gave when memory ran out.
bool isOutOfMemoryOptions(const aamsg_options* options);

// The conversion `options` ask for (null: the defaults); its threads are the caller's to set.
Request requestOf(const aamsg_options* options);

}  // namespace aamsg
