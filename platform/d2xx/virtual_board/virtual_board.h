// The virtual board: an emulated FT2232H whose port A runs an MPSSE engine
// wired to a model of the KOVRA610's serial bus.
#pragma once

#include "../backend.h"

#include <memory>

namespace kovra610::vboard {

// A fresh virtual board as a driver backend (what KOVRA610_BOARD=virtual
// selects). Honours KOVRA610_BOARD_TRACE.
std::shared_ptr<d2xx::Backend> makeVirtualBoardBackend();

}  // namespace kovra610::vboard
