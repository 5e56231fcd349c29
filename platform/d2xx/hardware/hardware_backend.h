// The libftdi1 backend: drives a real FT2232H (or another FTDI MPSSE part).
#pragma once

#include "../backend.h"

#include <memory>

namespace kovra610::d2xx {

std::shared_ptr<Backend> makeHardwareBackend();

}  // namespace kovra610::d2xx
