// The C API's options: the one place where what a caller asks for is checked.
#include "api/options.hpp"

#include <new>

#include "prompt/levels.hpp"

static_assert(AAMSG_DEFAULT_LEVEL_DB == aamsg::kDefaultTargetDb && AAMSG_MIN_LEVEL_DB == aamsg::kMinTargetDb &&
              AAMSG_MAX_LEVEL_DB == aamsg::kMaxTargetDb);

namespace aamsg {

namespace {

// What aamsg_options_new gives when memory runs out: never written, refused by every call, so
// that options that could not be made never pass for the defaults.
aamsg_options outOfMemory;

}  // namespace

bool isOutOfMemoryOptions(const aamsg_options* options) { return options == &outOfMemory; }

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
    return request;
}

namespace {

// The status a setter gives before it looks at what it is asked: none for options it may set.
aamsg_status refusal(const aamsg_options* options) {
    if (options == nullptr) return AAMSG_INVALID_ARGUMENT;
    return isOutOfMemoryOptions(options) ? AAMSG_OUT_OF_MEMORY : AAMSG_OK;
}

}  // namespace

}  // namespace aamsg

extern "C" {

aamsg_options* aamsg_options_new(void) {
    aamsg_options* options = new (std::nothrow) aamsg_options;
    return options != nullptr ? options : &aamsg::outOfMemory;
}

void aamsg_options_free(aamsg_options* options) {
    if (!aamsg::isOutOfMemoryOptions(options)) delete options;
}

aamsg_status aamsg_options_set_mode(aamsg_options* options, aamsg_mode mode) {
    if (const aamsg_status refused = aamsg::refusal(options); refused != AAMSG_OK) return refused;
    if (mode != AAMSG_MODE_ENCODE && mode != AAMSG_MODE_DECODE && mode != AAMSG_MODE_BEST) return AAMSG_INVALID_ARGUMENT;
    options->mode = mode;
    return AAMSG_OK;
}

aamsg_status aamsg_options_set_level(aamsg_options* options, int enabled, double level_db) {
    if (const aamsg_status refused = aamsg::refusal(options); refused != AAMSG_OK) return refused;
    // Written so that NaN fails too.
    if (enabled != 0 && !(level_db >= AAMSG_MIN_LEVEL_DB && level_db <= AAMSG_MAX_LEVEL_DB)) return AAMSG_INVALID_ARGUMENT;
    options->level = enabled != 0;
    if (enabled != 0) options->levelDb = level_db;
    return AAMSG_OK;
}

aamsg_status aamsg_options_set_trim(aamsg_options* options, int enabled) {
    if (const aamsg_status refused = aamsg::refusal(options); refused != AAMSG_OK) return refused;
    options->trim = enabled != 0;
    return AAMSG_OK;
}

aamsg_status aamsg_options_set_flat(aamsg_options* options, int enabled) {
    if (const aamsg_status refused = aamsg::refusal(options); refused != AAMSG_OK) return refused;
    options->flat = enabled != 0;
    return AAMSG_OK;
}

aamsg_status aamsg_options_set_threads(aamsg_options* options, unsigned threads) {
    if (const aamsg_status refused = aamsg::refusal(options); refused != AAMSG_OK) return refused;
    options->threads = threads;
    return AAMSG_OK;
}

}  // extern "C"
