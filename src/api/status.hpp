// The library's statuses as the C API names them, words them and as the command line ends with them.
#pragma once

#include "aamsg.h"
#include "base/base.hpp"

namespace aamsg {

aamsg_status publicStatus(Status status);

}  // namespace aamsg
