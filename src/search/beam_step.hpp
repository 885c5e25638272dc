// What the beam step (beam_step.inc) needs, included before the instruction set is chosen.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "codec/adpcm.hpp"
#include "search/beam.hpp"
#include "search/try_codes.hpp"
