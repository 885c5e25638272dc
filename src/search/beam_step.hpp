// What the beam step (beam_step.inc) and the lanes it is written on (lanes*.inc) need, included
// before an instruction set is chosen: nothing defined here may use one.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#endif
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif
#if defined(__aarch64__)
#include <arm_neon.h>
#endif

#include "codec/adpcm.hpp"
#include "search/beam.hpp"
#include "search/try_codes.hpp"
