// The C API's options: the one place where what a caller asks for is checked.
#include "api/options.hpp"

#include <algorithm>
#include <new>
#include <thread>

#include "prompt/levels.hpp"

static_assert(AAMSG_DEFAULT_LEVEL_DB == aamsg::kDefaultTargetDb && AAMSG_MIN_LEVEL_DB == aamsg::kMinTargetDb &&
              AAMSG_MAX_LEVEL_DB == aamsg::kMaxTargetDb);

namespace aamsg {

Request requestOf(const aamsg_options* options) {
    const aamsg_options defaults;
    const aamsg_options& o = options != nullptr ? *options : defaults;
    Request request;
    request.mode = o.mode == AAMSG_MODE_ENCODE ? Mode::Encode : o.mode == AAMSG_MODE_DECODE ? Mode::Decode : Mode::Best;
    BestOptions& best = request.best;
    best.shaped = !o.flat;
    best.level = o.level;
    best.levelDb = o.levelDb;
    best.trim = o.trim;
    best.threads = std::min(o.threads != 0 ? o.threads : std::max(1u, std::thread::hardware_concurrency()), kMaxSearchThreads);
    // One thread does everything on the caller's; with more, the input is read on one of them.
    best.background = best.threads > 1;
    return request;
}

}  // namespace aamsg

extern "C" {

aamsg_options* aamsg_options_new(void) { return new (std::nothrow) aamsg_options; }

void aamsg_options_free(aamsg_options* options) { delete options; }

aamsg_status aamsg_options_set_mode(aamsg_options* options, aamsg_mode mode) {
    if (options == nullptr || (mode != AAMSG_MODE_ENCODE && mode != AAMSG_MODE_DECODE && mode != AAMSG_MODE_BEST)) {
        return AAMSG_INVALID_ARGUMENT;
    }
    options->mode = mode;
    return AAMSG_OK;
}

aamsg_status aamsg_options_set_level(aamsg_options* options, int enabled, double level_db) {
    if (options == nullptr) return AAMSG_INVALID_ARGUMENT;
    // Written so that NaN fails too.
    if (enabled != 0 && !(level_db >= AAMSG_MIN_LEVEL_DB && level_db <= AAMSG_MAX_LEVEL_DB)) return AAMSG_INVALID_ARGUMENT;
    options->level = enabled != 0;
    if (enabled != 0) options->levelDb = level_db;
    return AAMSG_OK;
}

aamsg_status aamsg_options_set_trim(aamsg_options* options, int enabled) {
    if (options == nullptr) return AAMSG_INVALID_ARGUMENT;
    options->trim = enabled != 0;
    return AAMSG_OK;
}

aamsg_status aamsg_options_set_flat(aamsg_options* options, int enabled) {
    if (options == nullptr) return AAMSG_INVALID_ARGUMENT;
    options->flat = enabled != 0;
    return AAMSG_OK;
}

aamsg_status aamsg_options_set_threads(aamsg_options* options, unsigned threads) {
    if (options == nullptr) return AAMSG_INVALID_ARGUMENT;
    options->threads = threads;
    return AAMSG_OK;
}

}  // extern "C"
